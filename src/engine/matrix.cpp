#include "engine/matrix.hpp"

#include "engine/quaternion.hpp"

#include <utility>

Matrix Matrix::identity()
{
    return scaling(1.0f, 1.0f, 1.0f);
}

Matrix Matrix::scaling(float sx, float sy, float sz)
{
    return Matrix(sx, 0.0f, 0.0f, 0.0f, sy, 0.0f, 0.0f, 0.0f, sz,
                  Vector3::zero.x, Vector3::zero.y, Vector3::zero.z);
}

Matrix Matrix::fromQuaternion(float w, float x, float y, float z)
{
    Matrix out;
    Quaternion(w, x, y, z).toMatrix(out);
    return out;
}

Matrix Matrix::fromAxisAngle(float ax, float ay, float az, float angle)
{
    Matrix out;
    Quaternion::fromAxisAngle(ax, ay, az, angle).toMatrix(out);
    return out;
}

void Matrix::transposeLinear()
{
    std::swap(m[1], m[3]);
    std::swap(m[2], m[6]);
    std::swap(m[5], m[7]);
}

Matrix& Matrix::invertRigid()
{
    const double tx = m[9], ty = m[10], tz = m[11];
    for (int j = 0; j < 3; ++j)
        m[9 + j] = static_cast<float>(-(m[3 * j] * tx + m[3 * j + 1] * ty + m[3 * j + 2] * tz));
    transposeLinear();
    return *this;
}

Matrix multiply(const Matrix& outer, const Matrix& inner)
{
    // Linear part L_inner·L_outer; translation t_inner·L_outer + t_outer.
    const float* a = outer.m;
    const float* b = inner.m;
    Matrix r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[3 * i + j] = static_cast<float>(static_cast<double>(b[3 * i]) * a[j] +
                                                static_cast<double>(b[3 * i + 1]) * a[3 + j] +
                                                static_cast<double>(b[3 * i + 2]) * a[6 + j]);
    for (int j = 0; j < 3; ++j)
        r.m[9 + j] = static_cast<float>(static_cast<double>(b[9]) * a[j] + static_cast<double>(b[10]) * a[3 + j] +
                                        static_cast<double>(b[11]) * a[6 + j] + a[9 + j]);
    return r;
}
