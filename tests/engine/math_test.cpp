// Row-vector conventions, composition order and rotation orientation.
#include "engine/math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

void expectNear(const Vector3& v, float x, float y, float z, float tolerance = 1e-5f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

void expectSameMatrix(const Matrix& a, const Matrix& b, float tolerance)
{
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(a.m[i], b.m[i], tolerance) << i;
}

} // namespace

TEST(Matrix, RowsAreAxisImagesAndMultiplyAppliesInnerFirst)
{
    const Matrix a(1.5f, 0.2f, -0.7f, 0.3f, -2.0f, 0.4f, 0.9f, 0.1f, 1.1f, 4.0f, -3.0f, 2.0f);
    const Matrix b(0.5f, -1.2f, 0.3f, 2.0f, 0.7f, -0.4f, 0.0f, 1.3f, 0.6f, -1.0f, 5.0f, 0.25f);
    expectNear(transformPoint(a, 1, 0, 0), 1.5f + 4.0f, 0.2f - 3.0f, -0.7f + 2.0f);
    for (const Vector3& p : {Vector3(1, 2, 3), Vector3(-0.5f, 4, 0), Vector3(0, 0, 0)}) {
        const Vector3 ab = transformPoint(a, transformPoint(b, p));
        const Vector3 ba = transformPoint(b, transformPoint(a, p));
        expectNear(transformPoint(multiply(a, b), p), ab.x, ab.y, ab.z, 1e-4f);
        expectNear(transformPoint(multiply(b, a), p), ba.x, ba.y, ba.z, 1e-4f);
    }
    expectNear(transformPoint(Matrix::scaling(2, 3, 4), 1, 1, 1), 2, 3, 4);
}

TEST(Matrix, AxisAngleTurnsTheRowVectorWay)
{
    const Matrix m = Matrix::fromAxisAngle(0, 0, 1, static_cast<float>(std::numbers::pi / 2));
    expectNear(transformPoint(m, 1, 0, 0), 0, -1, 0);
    expectNear(transformPoint(m, 0, 1, 0), 1, 0, 0);
}

TEST(Matrix, InvertRigidUndoesRotationAndTranslation)
{
    Matrix m = Matrix::fromAxisAngle(1, 2, -1, 0.8f);
    m.m[9] = 3;
    m.m[10] = -7;
    m.m[11] = 11;
    Matrix inverse = m;
    inverse.invertRigid();
    expectSameMatrix(multiply(inverse, m), Matrix::identity(), 1e-5f);
}

TEST(Quaternion, AxisIsNormalisedAndLengthIsAbsorbed)
{
    const Quaternion q = Quaternion::fromAxisAngle(1, 2, 2, 1.2f);
    EXPECT_NEAR(q.w, std::cos(0.6), 1e-6);
    EXPECT_NEAR(q.x, std::sin(0.6) / 3, 1e-6);
    EXPECT_NEAR(q.z, 2 * std::sin(0.6) / 3, 1e-6);
    Matrix unit, doubled, zero;
    q.toMatrix(unit);
    Quaternion(2 * q.w, 2 * q.x, 2 * q.y, 2 * q.z).toMatrix(doubled);
    expectSameMatrix(unit, doubled, 1e-6f);
    Quaternion().toMatrix(zero);
    expectSameMatrix(zero, Matrix::identity(), 0.0f);
}

TEST(Quaternion, HamiltonProductComposesRotations)
{
    // With row vectors the matrix of a·b applies a's rotation first.
    const Quaternion a = Quaternion::fromAxisAngle(1, 0, 0, 0.7f);
    const Quaternion b = Quaternion::fromAxisAngle(0, 1, 0, -1.3f);
    Matrix ma, mb, mab;
    a.toMatrix(ma);
    b.toMatrix(mb);
    (a * b).toMatrix(mab);
    expectSameMatrix(mab, multiply(mb, ma), 1e-5f);
    Quaternion c = a;
    c *= b;
    EXPECT_EQ(c.y, (a * b).y);
}
