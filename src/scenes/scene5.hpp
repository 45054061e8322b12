// The ripple-grid scene's wave and text fade, shared with the tests.
#pragma once

// Height of grid tile (i, j), 0..9 each, at T = sceneTime / 4: a ring wave
// from cell (5, 5) makes a deep swing (±30), then a small one (±5), then
// rests, over and over.
float tileHeight(int i, int j, float T);

// Strength of pair line k at x = sceneTime / 2 - k: 0 before the line
// starts, rising as sin² to full at 1.5 (3 s later), then held.
float pairFade(float x);
