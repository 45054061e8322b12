// The ripple-grid scene's wave, text fade and blob wobble, shared with the
// tests.
#pragma once

#include "engine/math.hpp"

// Height of grid tile (i, j), 0..9 each, at T = sceneTime / 4: a ring wave
// from cell (5, 5) makes a deep swing (±30), then a small one (±5), then
// rests, over and over.
float tileHeight(int i, int j, float T);

// Strength of pair line k at x = sceneTime / 2 - k: 0 before the line
// starts, rising as sin² to full at 1.5 (3 s later), then held.
float pairFade(float x);

// The blob's rest heights, each once, with scratch for a frame's offsets:
// both sines of the wobble depend on a vertex's rest height alone, and a
// geosphere's vertices lie on a few dozen heights.
struct BlobHeights {
    int count = 0;
    float* heights = nullptr;  // each distinct rest height (by its bits) once
    int* ofVertex = nullptr;   // index into heights, per vertex
    double* swingX = nullptr;  // per height, this frame's offsets
    double* swingZ = nullptr;
};

// Allocates; called by the preparation.
BlobHeights findBlobHeights(const Vector3* rest, int count);

// The blob's vertices swing sideways in two waves running up the y axis:
// out[i] = (x + 10 sin(0.05 y + 6.3 T), y, z + 10 sin(0.05 y + 6.8 T + 2))
// for rest[i] = (x, y, z), computed as sin(3T + s) and sin(s + 3.5T + 2)
// with s = 0.05 y + 3.3 T; rest holds the count vertices heights was made from.
void wobbleVertices(BlobHeights& heights, const Vector3* rest, Vector3* out, int count, float T);
