// 3x4 affine matrix acting on ROW vectors: p' = p·L + t. The rows of the
// linear part L are the images of the unit axes, t is the image of the origin.
#pragma once

#include "engine/vector.hpp"

struct Matrix {
    // m[0..2], m[3..5], m[6..8]: rows of L; m[9..11]: translation.
    float m[12];

    Matrix() = default;  // fields left unset
    constexpr Matrix(float m0, float m1, float m2, float m3, float m4, float m5,
                     float m6, float m7, float m8, float m9, float m10, float m11)
        : m{m0, m1, m2, m3, m4, m5, m6, m7, m8, m9, m10, m11} {}

    static Matrix identity();
    static Matrix scaling(float sx, float sy, float sz);
    static Matrix fromQuaternion(float w, float x, float y, float z);
    static Matrix fromAxisAngle(float ax, float ay, float az, float angle);

    // Transposes L in place; the translation is untouched.
    void transposeLinear();
    // Inverse of a rotation-plus-translation, in place. Not an inverse when
    // L is not orthonormal.
    Matrix& invertRigid();
};

// The transform that applies inner first and then outer.
Matrix multiply(const Matrix& outer, const Matrix& inner);

inline Vector3 transformPoint(const Matrix& m, float x, float y, float z)
{
    const double px = x, py = y, pz = z;
    return Vector3(static_cast<float>(px * m.m[0] + py * m.m[3] + pz * m.m[6] + m.m[9]),
                   static_cast<float>(px * m.m[1] + py * m.m[4] + pz * m.m[7] + m.m[10]),
                   static_cast<float>(px * m.m[2] + py * m.m[5] + pz * m.m[8] + m.m[11]));
}
inline Vector3 transformPoint(const Matrix& m, const Vector3& p) { return transformPoint(m, p.x, p.y, p.z); }
