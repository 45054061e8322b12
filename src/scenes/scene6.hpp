// The ray-traced spheres scene's panel drawing, shared with the tests.
#pragma once

#include "content/sphere_tracer.hpp"
#include "engine/camera.hpp"
#include "image/image.hpp"

// The corner rays of the 40 x 40 blocks of 8 x 8 pixels, rewritten every frame.
constexpr int sampleGridSize = 41;
extern TraceSample sampleGrid[sampleGridSize][sampleGridSize];

// What the left panel is traced from at one scene time.
struct TraceView {
    Vector3 eye;
    Vector3 topLeft;  // the ray through the top-left corner
    Vector3 colStep;  // from one block corner to the next along a row
    Vector3 rowStep;  // and down a column
};

// The left panel's camera circling the spheres at scene time T.
void aimCamera(Camera& camera, float T);
// Places the lights, prepares the tracer for the eye and returns the rays'
// window; the camera is the scene's left-panel camera.
TraceView setUpTraceView(const Camera& camera, float T);
// Traces the corner grid and draws the 40 x 40 blocks into the left panel,
// black where no ray meets a sphere: every pixel of it is written.
void traceBlocks(Image& frame, const TraceView& view);

// The right panel becomes a blue-grey copy of the left one, made only from
// half of its green channel.
void copyToMonitor(Image& frame);
// copyToMonitor for a left panel as traceBlocks draws it from sampleGrid:
// the same pixels, with the blocks whose corners all miss (black) copied
// without being read.
void copyTracedToMonitor(Image& frame);
// A 5-pixel frame around columns x to x + w - 1 over all rows.
void drawPanelBorder(Image& frame, int x, int w);
// Dashed lines through the right panel's middle.
void drawCrosshair(Image& frame);
// The right panel blurred along its rows with blurLines at the coefficient
// (0..16383) in every channel; the same bytes, quicker at 16383.
void smearPanel(Image& frame, int coefficient);
// The sideways smear's blur coefficient at scene time T: 16383 (none) while
// sin T <= 0, down to 630 at sin T = 1.
int smearCoefficient(float T);
