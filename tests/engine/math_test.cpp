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

const Matrix skewA(1.5f, 0.2f, -0.7f, 0.3f, -2.0f, 0.4f, 0.9f, 0.1f, 1.1f, 4.0f, -3.0f, 2.0f);
const Matrix skewB(0.5f, -1.2f, 0.3f, 2.0f, 0.7f, -0.4f, 0.0f, 1.3f, 0.6f, -1.0f, 5.0f, 0.25f);

} // namespace

TEST(Matrix, TransformPointUsesRowsAsAxisImages)
{
    // The rows are the images of the axes; the translation is the origin's.
    expectNear(transformPoint(skewA, 1, 0, 0), 1.5f + 4.0f, 0.2f - 3.0f, -0.7f + 2.0f);
    expectNear(transformPoint(skewA, 0, 1, 0), 0.3f + 4.0f, -2.0f - 3.0f, 0.4f + 2.0f);
    expectNear(transformPoint(skewA, 0, 0, 0), 4.0f, -3.0f, 2.0f);
}

TEST(Matrix, MultiplyAppliesInnerFirst)
{
    const Matrix ab = multiply(skewA, skewB);
    const Matrix ba = multiply(skewB, skewA);
    for (const Vector3& p : {Vector3(1, 2, 3), Vector3(-0.5f, 4, 0), Vector3(0, 0, 0), Vector3(7, -1, 2)}) {
        const Vector3 nestedAB = transformPoint(skewA, transformPoint(skewB, p));
        const Vector3 nestedBA = transformPoint(skewB, transformPoint(skewA, p));
        expectNear(transformPoint(ab, p), nestedAB.x, nestedAB.y, nestedAB.z, 1e-4f);
        expectNear(transformPoint(ba, p), nestedBA.x, nestedBA.y, nestedBA.z, 1e-4f);
    }
}

TEST(Matrix, AxisAngleTurnsTheRowVectorWay)
{
    const Matrix m = Matrix::fromAxisAngle(0, 0, 1, static_cast<float>(std::numbers::pi / 2));
    expectNear(transformPoint(m, 1, 0, 0), 0, -1, 0);
    expectNear(transformPoint(m, 0, 1, 0), 1, 0, 0);
    expectNear(transformPoint(m, 0, 0, 1), 0, 0, 1);
}

TEST(Matrix, ScalingHasNoTranslation)
{
    const Matrix s = Matrix::scaling(2, 3, 4);
    expectNear(transformPoint(s, 1, 1, 1), 2, 3, 4);
    expectNear(transformPoint(s, 0, 0, 0), 0, 0, 0);
}

TEST(Matrix, InvertRigidUndoesRotationAndTranslation)
{
    Matrix m = Matrix::fromAxisAngle(1, 2, -1, 0.8f);
    m.m[9] = 3;
    m.m[10] = -7;
    m.m[11] = 11;
    Matrix inverse = m;
    inverse.invertRigid();
    const Matrix both = multiply(inverse, m);
    for (const Vector3& p : {Vector3(1, 0, 0), Vector3(0.5f, -2, 9), Vector3(0, 0, 0)})
        expectNear(transformPoint(both, p), p.x, p.y, p.z, 1e-4f);
}

TEST(Matrix, TransposeLinearKeepsTranslation)
{
    Matrix m = skewA;
    m.transposeLinear();
    EXPECT_EQ(m.m[1], skewA.m[3]);
    EXPECT_EQ(m.m[3], skewA.m[1]);
    EXPECT_EQ(m.m[2], skewA.m[6]);
    EXPECT_EQ(m.m[7], skewA.m[5]);
    EXPECT_EQ(m.m[9], skewA.m[9]);
    EXPECT_EQ(m.m[11], skewA.m[11]);
}

TEST(Quaternion, AxisIsNormalisedInside)
{
    const Quaternion q = Quaternion::fromAxisAngle(1, 2, 2, 1.2f);
    EXPECT_NEAR(q.w, std::cos(0.6), 1e-6);
    EXPECT_NEAR(q.x, std::sin(0.6) / 3, 1e-6);
    EXPECT_NEAR(q.y, 2 * std::sin(0.6) / 3, 1e-6);
    EXPECT_NEAR(q.z, 2 * std::sin(0.6) / 3, 1e-6);
}

TEST(Quaternion, LengthDoesNotChangeTheMatrix)
{
    const Quaternion q = Quaternion::fromAxisAngle(0.3f, -1, 0.5f, 2.0f);
    Matrix unit, doubled;
    q.toMatrix(unit);
    Quaternion(2 * q.w, 2 * q.x, 2 * q.y, 2 * q.z).toMatrix(doubled);
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(unit.m[i], doubled.m[i], 1e-6f) << i;
    Matrix zero;
    Quaternion().toMatrix(zero);
    expectNear(transformPoint(zero, 1, 2, 3), 1, 2, 3);
}

TEST(Quaternion, ProductMatchesComposedMatrices)
{
    // With row vectors the matrix of a·b applies a's rotation first.
    const Quaternion a = Quaternion::fromAxisAngle(1, 0, 0, 0.7f);
    const Quaternion b = Quaternion::fromAxisAngle(0, 1, 0, -1.3f);
    Matrix ma, mb, mab;
    a.toMatrix(ma);
    b.toMatrix(mb);
    (a * b).toMatrix(mab);
    const Matrix composed = multiply(mb, ma);
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(mab.m[i], composed.m[i], 1e-5f) << i;
    Quaternion c = a;
    c *= b;
    EXPECT_EQ(c.w, (a * b).w);
    EXPECT_EQ(c.z, (a * b).z);
}

TEST(Vector, LerpAndDivide)
{
    Vector3 out;
    EXPECT_EQ(&lerpVector(Vector3(0, 2, -4), Vector3(10, 4, 4), 0.25f, out), &out);
    expectNear(out, 2.5f, 2.5f, -2.0f);
    Vector3 v(3, 4, 0);
    v /= v.length();
    expectNear(v, 0.6f, 0.8f, 0);
    EXPECT_EQ(worldUp.y, 1.0f);
    EXPECT_EQ(unitX.x, 1.0f);
    EXPECT_EQ(unitZ.z, 1.0f);
    EXPECT_EQ(Vector3::zero.x, 0.0f);
}
