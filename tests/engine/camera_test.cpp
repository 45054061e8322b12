// The look-at camera's pre-scaled view space and projection.
#include "engine/camera.hpp"

#include <gtest/gtest.h>

#include <numbers>

namespace {

void expectNear(const Vector3& v, float x, float y, float z, float tolerance = 1e-3f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

} // namespace

TEST(Camera, StandardSetUp)
{
    Camera camera;
    EXPECT_EQ(camera.position.value.z, -100.0f);
    EXPECT_EQ(camera.fov.value, 1.5707964f);
    EXPECT_EQ(camera.centerX, 320.0f);
    EXPECT_EQ(camera.centerY, 240.0f);
    EXPECT_EQ(camera.scaleX, 320.0f);
    EXPECT_EQ(camera.scaleY, 240.0f);
}

TEST(Camera, FrameViewportMapping)
{
    Camera camera;
    camera.setViewport(320, 160, 320, 160);
    camera.updateView();
    EXPECT_EQ(camera.aspect, 2.0f);
    expectNear(transformPoint(camera.viewMatrix, 0, 0, 0), 0, 0, 100);
    expectNear(transformPoint(camera.viewMatrix, 10, 0, 0), 10, 0, 100);
    expectNear(transformPoint(camera.viewMatrix, 0, 10, 0), 0, 20, 100);
    EXPECT_NEAR(camera.cullScaleX, 1.0f, 1e-6f);
    EXPECT_NEAR(camera.cullScaleY, 0.25f, 1e-6f);
    // One world unit spans the same pixels both ways.
    const Vector3 right = camera.project(transformPoint(camera.viewMatrix, 10, 0, 0));
    const Vector3 up = camera.project(transformPoint(camera.viewMatrix, 0, 10, 0));
    expectNear(right, 352, 160, 0.01f);
    expectNear(up, 320, 128, 0.01f);
}

TEST(Camera, ScreenSizeAspect)
{
    Camera camera;
    camera.setScreenSize(640, 480);
    camera.updateView();
    expectNear(transformPoint(camera.viewMatrix, 0, 10, 0), 0, 40.0f / 3, 100);
}

TEST(Camera, FieldOfViewSetsFocalFactor)
{
    Camera camera;
    camera.setViewport(320, 160, 320, 160);
    camera.fov.value = 2.1991148f;  // f = tan(0.15 pi)
    camera.updateView();
    const float f = 0.50952545f;
    expectNear(transformPoint(camera.viewMatrix, 10, 10, 0), 10 * f, 20 * f, 100);
    EXPECT_NEAR(camera.cullScaleX, 1 / (f * f), 1e-4f);
    EXPECT_NEAR(camera.cullScaleY, 1 / (f * f) / 4, 1e-4f);
}

TEST(Camera, LooksFromAnyDirection)
{
    Camera camera;
    camera.position.value = Vector3(50, 0, 0);
    camera.target.value = Vector3(0, 0, 0);
    camera.updateView();
    // Looking along -x: the origin is 50 ahead, +z world is to the right.
    expectNear(transformPoint(camera.viewMatrix, 0, 0, 0), 0, 0, 50);
    expectNear(transformPoint(camera.viewMatrix, 0, 0, 5), 5, 0, 50);
}

TEST(Camera, YawSwingsTheEyeAroundTheOrigin)
{
    Camera camera;
    camera.yaw.value = static_cast<float>(std::numbers::pi / 2);
    camera.updateView();
    // Still aimed through the origin, which stays 100 ahead...
    expectNear(transformPoint(camera.viewMatrix, 0, 0, 0), 0, 0, 100);
    // ...but the eye has left (0, 0, -100): that point is no longer at depth 0.
    const Vector3 oldEye = transformPoint(camera.viewMatrix, 0, 0, -100);
    EXPECT_GT(std::abs(oldEye.z), 1.0f);
}
