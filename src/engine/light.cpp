#include "engine/light.hpp"

Light::Light()
{
    position.value = Vector3(100.0f, 100.0f, -100.0f);
    colour.value = Vector3(220.0f, 220.0f, 220.0f);
}

void Light::update(float time)
{
    Object3D::update(time);
    colour.update(time);
}

void PointLight::update(float time)
{
    Light::update(time);
}

float PointLight::illuminate(const Vector3& point, const Vector3& normal) const
{
    const double d = (position.value - point).normalised().dot(normal);
    return d > 0.0 ? static_cast<float>(d) : 0.0f;
}
