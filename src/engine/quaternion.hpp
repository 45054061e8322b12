// Rotation quaternion (w scalar part, then x, y, z).
#pragma once

struct Matrix;

struct Quaternion {
    float w = 0.0f, x = 0.0f, y = 0.0f, z = 0.0f;

    constexpr Quaternion() = default;
    constexpr Quaternion(float wIn, float xIn, float yIn, float zIn) : w(wIn), x(xIn), y(yIn), z(zIn) {}

    // The axis need not be of unit length (it is normalised here); a zero
    // axis is the caller's to avoid.
    static Quaternion fromAxisAngle(float ax, float ay, float az, float angle);

    // q becomes q·r.
    Quaternion& operator*=(const Quaternion& r);

    // Rotation matrix for row vectors; the 2/n factor absorbs the length,
    // and the zero quaternion gives the identity.
    void toMatrix(Matrix& out) const;
};

// Hamilton product a·b.
Quaternion operator*(const Quaternion& a, const Quaternion& b);
