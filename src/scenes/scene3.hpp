// The tree-and-slab scene's trees, levels and drawing steps, shared with the tests.
#pragma once

#include "content/branch_tree.hpp"
#include "image/image.hpp"

// Index 0 is the large tree, 1 to 5 the small ones on the arc above it.
constexpr int branchTreeCount = 6;
extern BranchTree branchTrees[branchTreeCount];

// How far the trees, the slab tower and the white flash are shown, 0 to 1.
struct Scene3Levels {
    float trees;
    float slabs;
    float flash;
};

// The levels of a variant (0 grow in, 1 hold, 2 fade out into the flash) at
// a progress, which is held to 0 .. 1 first.
Scene3Levels scene3Levels(int variant, float progress);

// One frame with the given levels; scene3 is this with scene3Levels.
void drawScene3(Image& frame, float demoTime, float sceneTime, const Scene3Levels& levels);

// One tree seen by its own circling camera, with its glow, its tethers to
// the large tree's foot and its turning base box; amount scales the colours.
void drawTreeView(Image& frame, int tree, float centreX, float centreY, float distance, float phase, float time,
                  float amount);

// The text lines' envelope: sin(t pi / 4)^2 from 0 to 4 seconds, 0 outside.
float lineFade(float t);
