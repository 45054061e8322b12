#include "engine/vector.hpp"

Vector3 Vector3::cross(const Vector3& b) const
{
    return Vector3(static_cast<float>(static_cast<double>(y) * b.z - static_cast<double>(z) * b.y),
                   static_cast<float>(static_cast<double>(z) * b.x - static_cast<double>(x) * b.z),
                   static_cast<float>(static_cast<double>(x) * b.y - static_cast<double>(y) * b.x));
}

Vector3& lerpVector(const Vector3& a, const Vector3& b, float t, Vector3& out)
{
    const double td = t;
    out.x = static_cast<float>(a.x + (static_cast<double>(b.x) - a.x) * td);
    out.y = static_cast<float>(a.y + (static_cast<double>(b.y) - a.y) * td);
    out.z = static_cast<float>(a.z + (static_cast<double>(b.z) - a.z) * td);
    return out;
}
