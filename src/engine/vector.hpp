// Three-float vector. Results are stored as floats; sums and products that
// feed them are formed in double precision.
#pragma once

#include <cmath>

struct Vector3 {
    float x, y, z;

    Vector3() = default;  // fields left unset, like the other math records
    constexpr Vector3(float xIn, float yIn, float zIn) : x(xIn), y(yIn), z(zIn) {}

    // Multiplies each component by 1/s (one reciprocal); s = 0 is the caller's to avoid.
    Vector3& operator/=(float s)
    {
        const double r = 1.0 / static_cast<double>(s);
        x = static_cast<float>(x * r);
        y = static_cast<float>(y * r);
        z = static_cast<float>(z * r);
        return *this;
    }

    double dot(const Vector3& b) const { return static_cast<double>(x) * b.x + static_cast<double>(y) * b.y + static_cast<double>(z) * b.z; }
    Vector3 cross(const Vector3& b) const;
    float length() const { return static_cast<float>(std::sqrt(dot(*this))); }
    // This vector divided by its length with operator/=.
    Vector3 normalised() const
    {
        Vector3 v = *this;
        v /= length();
        return v;
    }

    static const Vector3 zero;
};

inline constexpr Vector3 Vector3::zero{0.0f, 0.0f, 0.0f};
inline constexpr Vector3 unitX{1.0f, 0.0f, 0.0f};
inline constexpr Vector3 worldUp{0.0f, 1.0f, 0.0f};  // the camera's up reference
inline constexpr Vector3 unitZ{0.0f, 0.0f, 1.0f};

inline Vector3 operator+(const Vector3& a, const Vector3& b) { return Vector3(a.x + b.x, a.y + b.y, a.z + b.z); }
inline Vector3 operator-(const Vector3& a, const Vector3& b) { return Vector3(a.x - b.x, a.y - b.y, a.z - b.z); }
inline Vector3 operator*(const Vector3& a, float s) { return Vector3(a.x * s, a.y * s, a.z * s); }

// out = a + (b - a)·t per component; returns out.
Vector3& lerpVector(const Vector3& a, const Vector3& b, float t, Vector3& out);
