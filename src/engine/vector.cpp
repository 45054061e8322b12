#include "engine/vector.hpp"

#include <cmath>

Vector3& Vector3::operator/=(float s)
{
    const double r = 1.0 / static_cast<double>(s);
    x = static_cast<float>(x * r);
    y = static_cast<float>(y * r);
    z = static_cast<float>(z * r);
    return *this;
}

Vector3 Vector3::cross(const Vector3& b) const
{
    return Vector3(static_cast<float>(static_cast<double>(y) * b.z - static_cast<double>(z) * b.y),
                   static_cast<float>(static_cast<double>(z) * b.x - static_cast<double>(x) * b.z),
                   static_cast<float>(static_cast<double>(x) * b.y - static_cast<double>(y) * b.x));
}

float Vector3::length() const
{
    return static_cast<float>(std::sqrt(dot(*this)));
}

Vector3 Vector3::normalised() const
{
    Vector3 v = *this;
    v /= length();
    return v;
}

Vector3 operator+(const Vector3& a, const Vector3& b)
{
    return Vector3(a.x + b.x, a.y + b.y, a.z + b.z);
}

Vector3 operator-(const Vector3& a, const Vector3& b)
{
    return Vector3(a.x - b.x, a.y - b.y, a.z - b.z);
}

Vector3 operator*(const Vector3& a, float s)
{
    return Vector3(a.x * s, a.y * s, a.z * s);
}

Vector3& lerpVector(const Vector3& a, const Vector3& b, float t, Vector3& out)
{
    const double td = t;
    out.x = static_cast<float>(a.x + (static_cast<double>(b.x) - a.x) * td);
    out.y = static_cast<float>(a.y + (static_cast<double>(b.y) - a.y) * td);
    out.z = static_cast<float>(a.z + (static_cast<double>(b.z) - a.z) * td);
    return out;
}
