// Look-at camera. View space is pre-scaled by the focal factors, so the
// visible region is the pyramid |x| <= z, |y| <= z, z >= 1.
#pragma once

#include "engine/object3d.hpp"

struct Camera : Object3D {
    AnimatedVector target;  // point looked at
    AnimatedFloat fov;      // horizontal field of view, radians
    AnimatedFloat pitch;    // about the camera's right axis
    AnimatedFloat yaw;      // about its up axis
    AnimatedFloat roll;     // about its viewing direction
    Matrix viewMatrix;      // world to pre-scaled view space, after updateView
    float aspect;           // scaleX / scaleY
    float centerX, centerY; // screen position of the optical axis
    float scaleX, scaleY;   // pixels from the centre to the viewport's edges
    float cullScaleX, cullScaleY;  // 1/f² and 1/(f²·aspect²), for back-face culling

    // The standard set-up every scene starts from: eye (0, 0, -100) looking
    // at the origin, a quarter-turn field of view, a 640 x 480 screen.
    Camera();

    void setViewport(float cx, float cy, float sx, float sy);
    void setScreenSize(int width, int height);
    // Rebuilds viewMatrix and the cull scales from position, target, the
    // three angles, fov and aspect.
    void updateView();
    // Directions from the pre-scaled view space back into the world: the
    // view matrix without its translation, inverted as a rotation. It keeps
    // the focal pre-scale, so rays cast through it see a narrower field than
    // the projection does; the ray-cast scenes rely on that look.
    Matrix viewDirectionsToWorld() const;
    // For a point in view space: screen x, screen y and 1/z.
    Vector3 project(float x, float y, float z) const;
    Vector3 project(const Vector3& p) const { return project(p.x, p.y, p.z); }
};
