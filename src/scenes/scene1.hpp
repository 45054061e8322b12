// The opening scene's pieces that the closing scene and the tests share:
// the striped logo and the helix tunnel of glowing rings.
#pragma once

#include "engine/camera.hpp"
#include "engine/math.hpp"
#include "image/image.hpp"

// 496 x 143, expanded from the stored one-bit logo before the show starts.
// Used as three blocks, all from row 0 and 143 rows high.
extern Image logoImage;

constexpr int logoLeftX = 0, logoLeftWidth = 110;
constexpr int logoMiddleX = 110, logoMiddleWidth = 270;
constexpr int logoRightX = 380, logoRightWidth = 116;
constexpr int logoY = 89;  // every block's top row in the frame

// Rejected points hold w = 666, which the test w < 1 refuses.
struct RingPoint {
    float x, y, w;
};

// (100 cos 0.02t, 100 sin 0.02t, t): a helix of radius 100 about the z axis.
Vector3 helixPoint(float t);

// Projects a point already in the camera's view space; a point at view
// z <= 1 counts as behind the camera.
RingPoint projectRingPoint(const Camera& camera, const Vector3& view);

// Draws the ring chains (discs joined by anti-aliased lines) for the
// camera flying along the helix; brightness 0..1 scales every grey level.
void drawHelixTunnel(Image& frame, float sceneTime, float brightness);
