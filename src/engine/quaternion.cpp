#include "engine/quaternion.hpp"

#include "engine/matrix.hpp"

#include <cmath>

Quaternion Quaternion::fromAxisAngle(float ax, float ay, float az, float angle)
{
    const double half = static_cast<double>(angle) * 0.5;
    const double k = std::sin(half) / std::sqrt(static_cast<double>(ax) * ax + static_cast<double>(ay) * ay + static_cast<double>(az) * az);
    return Quaternion(static_cast<float>(std::cos(half)), static_cast<float>(ax * k),
                      static_cast<float>(ay * k), static_cast<float>(az * k));
}

Quaternion operator*(const Quaternion& a, const Quaternion& b)
{
    const double aw = a.w, ax = a.x, ay = a.y, az = a.z;
    const double bw = b.w, bx = b.x, by = b.y, bz = b.z;
    return Quaternion(static_cast<float>(aw * bw - ax * bx - ay * by - az * bz),
                      static_cast<float>(aw * bx + ax * bw + ay * bz - az * by),
                      static_cast<float>(aw * by + ay * bw + az * bx - ax * bz),
                      static_cast<float>(aw * bz + az * bw + ax * by - ay * bx));
}

Quaternion& Quaternion::operator*=(const Quaternion& r)
{
    *this = *this * r;
    return *this;
}

void Quaternion::toMatrix(Matrix& out) const
{
    const double qw = w, qx = x, qy = y, qz = z;
    const double n = qw * qw + qx * qx + qy * qy + qz * qz;
    const double s = n == 0.0 ? 1.0 : 2.0 / n;
    const double rows[9] = {
        1.0 - s * (qy * qy + qz * qz), s * (qx * qy - qw * qz), s * (qx * qz + qw * qy),
        s * (qx * qy + qw * qz), 1.0 - s * (qx * qx + qz * qz), s * (qy * qz - qw * qx),
        s * (qx * qz - qw * qy), s * (qy * qz + qw * qx), 1.0 - s * (qx * qx + qy * qy),
    };
    for (int i = 0; i < 9; ++i)
        out.m[i] = static_cast<float>(rows[i]);
    out.m[9] = out.m[10] = out.m[11] = 0.0f;
}
