// The floor-and-sky scene's pieces that the tests reach: the corner rays,
// the block fillers and the credits panel.
#pragma once

#include "engine/camera.hpp"
#include "engine/math.hpp"
#include "image/image.hpp"

#include <cstdint>

struct Plane {
    Vector3 point;
    Vector3 normal;
};

// Index 0 the floor (y = 0, facing up), 1 the ceiling (y = 100, facing down).
extern const Plane scenePlanes[2];

// Where a corner ray ends: texture coordinates and brightness in 16.16
// fixed point (texel units; shade 0..255, 0 white, 255 pure texture).
struct RayCorner {
    int plane;  // 0 floor, 1 ceiling, -1 nothing within noHitDistance
    float t;
    Vector3 hit;
    int u, v;
    int shade;
};

constexpr float noHitDistance = 666666.0f;
constexpr int cornerRows = 21, cornerColumns = 41;  // one ray every 16 pixels
extern RayCorner cornerGrid[cornerRows][cornerColumns];

// 16.16 values at the start of the current block row on the block's left
// and right edges, and their steps per row.
struct BlockSpans {
    int uLeft, vLeft, shadeLeft;
    int uRight, vRight, shadeRight;
    int uLeftStep, vLeftStep, shadeLeftStep;
    int uRightStep, vRightStep, shadeRightStep;
};
extern BlockSpans blockSpans;

// The scene's camera at scene time T: from (0, 2, T) towards (1.2, 1.3, T + 1).
Camera sceneCamera(float T);

// d = origin - point, den = dir . normal; no hit when den is exactly 0,
// otherwise t = -(d . normal) / den and a hit when t > 0.
bool intersectRayPlane(const Plane& plane, Vector3 origin, Vector3 dir, float& t);

// The low 32 bits (two's complement) of x truncated to a whole number; 0
// for NaN and infinities. Texture coordinates of far hits are far beyond
// 32 bits, and only their low bits are read.
int wrapFixed(double x);

// Casts one unit-length ray from origin at scene time T; view is the
// camera's view matrix, which gives the depth for the shade.
RayCorner castCornerRay(const Matrix& view, const Vector3& origin, const Vector3& dir, float T);

// Fill the 16 x 16 block whose top-left pixel is dst from blockSpans, which
// they leave advanced past the block's last row. All 16.16 steps and
// advances wrap modulo 2^32.
void fillFloorBlock(std::uint32_t* dst, int stridePixels);
void fillSkyBlock(std::uint32_t* dst, int stridePixels);

// Fills the whole 640 x 320 frame block by block from cornerGrid; a block's
// top-left corner chooses its filler.
void fillCornerBlocks(Image& frame);

// 0 before t = 0, sin(t pi / 4)^2 up to t = 2, then 1.
float creditFade(float t);

// The two lines on the left and the six names on the right, in the order
// "he was hiding", "among elite people", then names one to six.
extern Image creditImages[8];

// Adds the eight lines, line k (1..8) faded by creditFade(T - k).
void addCredits(Image& frame, float T);
