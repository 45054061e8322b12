// Lights are Object3Ds; renderMesh reads only a light's position and takes
// its colours as arguments.
#pragma once

#include "engine/object3d.hpp"

class Light : public Object3D {
public:
    AnimatedVector colour;  // (220, 220, 220)

    Light();  // placed at (100, 100, -100)
    virtual ~Light() = default;
    // Object3D::update, then the colour property.
    virtual void update(float time);
    virtual float illuminate(const Vector3& point, const Vector3& normal) const = 0;
};

class PointLight : public Light {
public:
    void update(float time) override;
    // max(0, direction to the light · normal).
    float illuminate(const Vector3& point, const Vector3& normal) const override;
};
