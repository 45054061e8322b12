// The fractal cloud texture: four octaves of smoothed random noise summed
// into one 256 x 256 byte texture that tiles in both directions. The
// floor-and-sky scene textures both of its planes with it.
#pragma once

#include <cstdint>

constexpr int cloudGridSize = 32;
constexpr int cloudGridCells = cloudGridSize * cloudGridSize;
constexpr int cloudTextureSize = 256;

// One octave cross-fades from previous to next; current is the blend the
// texture is built from. Grids are row-major (index = y * 32 + x).
struct CloudOctave {
    std::uint8_t previous[cloudGridCells];
    std::uint8_t next[cloudGridCells];
    std::uint8_t current[cloudGridCells];
    int cycle;  // last whole cycle number seen, -1 before the first
};

// Octave 0 is the finest; starts with zero grids and cycle -1.
extern CloudOctave cloudOctaves[4];

// Row-major, index = y * 256 + x; texels run from 0 to 252.
extern std::uint8_t cloudTexture[cloudTextureSize * cloudTextureSize];

// 1024 low bytes of the program's random sequence, each cell then replaced
// by the mean (truncated) of its 3 x 3 neighbourhood, wrapping at the edges.
void smoothRandomGrid(std::uint8_t grid[cloudGridCells]);

// Moves octave k to position, a 24.8 fixed-point cycle count. Entering a
// new cycle (modulo 256) makes next the current grid and draws a new next;
// otherwise current blends previous and next by the fraction.
void advanceOctave(int k, int position);

// Advances the octaves at rates 1, 1/2, 1/4, 1/8 to time and rebuilds cloudTexture.
void buildCloudTexture(float time);
