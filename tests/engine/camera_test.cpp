// The look-at camera's pre-scaled view space and projection.
#include "engine/camera.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

void expectNear(const Vector3& v, float x, float y, float z, float tolerance = 1e-3f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

} // namespace

TEST(Camera, StandardMappingForBothAspects)
{
    Camera camera;  // eye (0, 0, -100), quarter-turn field of view, 640 x 480
    camera.updateView();
    expectNear(transformPoint(camera.viewMatrix, 0, 10, 0), 0, 40.0f / 3, 100);

    camera.setViewport(320, 160, 320, 160);
    camera.updateView();
    expectNear(transformPoint(camera.viewMatrix, 0, 0, 0), 0, 0, 100);
    expectNear(transformPoint(camera.viewMatrix, 10, 0, 0), 10, 0, 100);
    expectNear(transformPoint(camera.viewMatrix, 0, 10, 0), 0, 20, 100);
    EXPECT_NEAR(camera.cullScaleX, 1.0f, 1e-6f);
    EXPECT_NEAR(camera.cullScaleY, 0.25f, 1e-6f);
    // One world unit spans 32 pixels both ways at depth 100.
    expectNear(camera.project(transformPoint(camera.viewMatrix, 10, 10, 0)), 352, 128, 0.01f);
}

TEST(Camera, FieldOfViewSetsTheFocalFactor)
{
    Camera camera;
    camera.setViewport(320, 160, 320, 160);
    camera.position.value = Vector3(50, 0, 0);  // looking along -x: +z world is to the right
    camera.fov.value = 2.1991148f;              // f = tan(0.15 pi)
    camera.updateView();
    const float f = 0.50952545f;
    expectNear(transformPoint(camera.viewMatrix, 0, 10, 10), 10 * f, 20 * f, 50);
    EXPECT_NEAR(camera.cullScaleY, 1 / (f * f) / 4, 1e-4f);
}

TEST(Camera, YawSwingsTheEyeAroundTheOrigin)
{
    Camera camera;
    camera.yaw.value = static_cast<float>(std::numbers::pi / 2);
    camera.updateView();
    // Still aimed through the origin, 100 ahead, but no longer from (0, 0, -100).
    expectNear(transformPoint(camera.viewMatrix, 0, 0, 0), 0, 0, 100);
    EXPECT_GT(std::fabs(transformPoint(camera.viewMatrix, 0, 0, -100).z), 1.0f);
}
