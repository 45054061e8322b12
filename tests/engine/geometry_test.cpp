// Row-vector math, object transforms, meshes, the camera and the box.
#include "checks.hpp"
#include "engine/box.hpp"
#include "engine/camera.hpp"
#include "engine/mesh.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

const float quarterTurn = static_cast<float>(std::numbers::pi / 2);

void expectSameMatrix(const Matrix& a, const Matrix& b)
{
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(a.m[i], b.m[i], 1e-5f) << i;
}

struct CountingTrack : Track {
    int calls = 0;
    Vector3 evaluate(float time) override { return ++calls, Vector3(time, 2 * time, 3 * time); }
};

} // namespace

TEST(Matrix, RowVectorsCompositionAndRotationSense)
{
    // Non-rigid matrices: multiply(a, b) applies b first.
    const Matrix a(1.5f, 0.2f, -0.7f, 0.3f, -2.0f, 0.4f, 0.9f, 0.1f, 1.1f, 4.0f, -3.0f, 2.0f);
    const Matrix b(0.5f, -1.2f, 0.3f, 2.0f, 0.7f, -0.4f, 0.0f, 1.3f, 0.6f, -1.0f, 5.0f, 0.25f);
    expectNear(transformPoint(a, 1, 0, 0), 1.5f + 4.0f, 0.2f - 3.0f, -0.7f + 2.0f);
    for (const Vector3& p : {Vector3(1, 2, 3), Vector3(-0.5f, 4, 0)}) {
        const Vector3 ab = transformPoint(a, transformPoint(b, p));
        expectNear(transformPoint(multiply(a, b), p), ab.x, ab.y, ab.z, 1e-4f);
    }
    const Matrix turn = Matrix::fromAxisAngle(0, 0, 1, quarterTurn);
    expectNear(transformPoint(turn, 1, 0, 0), 0, -1, 0);
    expectNear(transformPoint(turn, 0, 1, 0), 1, 0, 0);
}

TEST(Quaternion, AxisAngleAndProductOrder)
{
    const Quaternion q = Quaternion::fromAxisAngle(1, 2, 2, 1.2f);  // axis normalised
    EXPECT_NEAR(q.w, std::cos(0.6), 1e-6);
    EXPECT_NEAR(q.z, 2 * std::sin(0.6) / 3, 1e-6);

    // With row vectors the matrix of a·b applies a's rotation first.
    const Quaternion a = Quaternion::fromAxisAngle(1, 0, 0, 0.7f), b = Quaternion::fromAxisAngle(0, 1, 0, -1.3f);
    Matrix ma, mb, mab;
    a.toMatrix(ma);
    b.toMatrix(mb);
    (a * b).toMatrix(mab);
    expectSameMatrix(mab, multiply(mb, ma));
}

TEST(Object3D, TracksOncePerTimeAndScaleRotateTranslateUnderTheParent)
{
    Object3D object;
    EXPECT_EQ(object.rotation.lastTime, NeverEvaluated);
    CountingTrack track;
    object.scale.track = &track;
    object.update(0.5f);
    object.update(0.5f);
    EXPECT_EQ(track.calls, 1);
    expectNear(object.scale.value, 0.5f, 1.0f, 1.5f);

    object.scale.track = nullptr;
    object.scale.value = Vector3(2, 3, 4);
    object.rotation.value = Quaternion::fromAxisAngle(0, 0, 1, quarterTurn);
    object.position.value = Vector3(1, 2, 3);
    object.updateLocalMatrix();
    expectNear(transformPoint(object.localMatrix, 1, 0, 0), 1, 0, 3);

    Object3D parent, child;
    parent.scale.value = Vector3(2, 2, 2);
    parent.position.value = Vector3(10, 0, 0);
    parent.updateLocalMatrix();
    child.position.value = Vector3(0, 1, 0);
    child.updateLocalMatrix();
    child.parent = &parent;
    // Child first: (1, 0, 0) -> (1, 1, 0) -> (12, 2, 0); the other order gives (12, 1, 0).
    expectNear(transformPoint(child.worldMatrix(), 1, 0, 0), 12, 2, 0);
}

TEST(Mesh, NormalsCloneBakeAndBounds)
{
    // Faces with normals +z and +y sharing vertices 0 and 1.
    Mesh* mesh = new Mesh(4, 2);
    const Vector3 corners[4] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1}};
    std::copy_n(corners, 4, mesh->vertices);
    mesh->faces[0] = {{0, 1, 2}, {0, 0, 0}, 0};
    mesh->faces[1] = {{0, 1, 3}, {0, 0, 0}, 0};
    mesh->computeNormals();
    expectNear(mesh->faceNormals[1], 0, 1, 0);
    const float h = static_cast<float>(1 / std::sqrt(2.0));
    expectNear(mesh->vertexNormals[0], 0, h, h);

    Mesh* copy = mesh->clone();
    copy->vertices[1].x = 42;  // positions are its own
    EXPECT_EQ(mesh->vertices[1].x, 1.0f);
    EXPECT_EQ(copy->faces, mesh->faces);  // topology is shared
    delete[] copy->vertices;
    delete copy;

    mesh->rotation.value = Quaternion::fromAxisAngle(0, 0, 1, quarterTurn);
    mesh->position.value = Vector3(0, 0, 5);
    mesh->bakeTransform();
    expectNear(mesh->vertices[1], 0, -1, 5);
    expectNear(mesh->faceNormals[1], 1, 0, 0);
    mesh->computeBoundingBox();
    expectNear(mesh->bounds.corners[5], 1, -1, 5);  // max x, min y, max z
    mesh->freeGeometry();
    delete mesh;
}

TEST(Mesh, BoundingBoxKeepsTheStrictComparisonsOfEachAxis)
{
    // Only a strictly smaller (larger) coordinate moves a bound: -0 after +0
    // stays +0, and NaN never moves one; no vertices leave the +-1e30 box.
    Mesh mesh(5, 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    mesh.vertices[0] = Vector3(0.0f, 3.0f, nan);
    mesh.vertices[1] = Vector3(-0.0f, -2.0f, 7.0f);
    mesh.vertices[2] = Vector3(nan, 5.0f, -1.0f);
    mesh.vertices[3] = Vector3(4.0f, 0.0f, 2.0f);
    mesh.vertices[4] = Vector3(-0.0f, -0.0f, -1.5f);
    mesh.computeBoundingBox();
    const Vector3& lo = mesh.bounds.corners[0];
    const Vector3& hi = mesh.bounds.corners[7];
    EXPECT_FALSE(std::signbit(lo.x));
    EXPECT_EQ(lo.x, 0.0f);
    EXPECT_EQ(hi.x, 4.0f);
    EXPECT_EQ(lo.y, -2.0f);
    EXPECT_EQ(hi.y, 5.0f);
    EXPECT_EQ(lo.z, -1.5f);
    EXPECT_EQ(hi.z, 7.0f);
    EXPECT_EQ(mesh.bounds.corners[6].x, 0.0f);
    EXPECT_EQ(mesh.bounds.corners[6].y, 5.0f);
    mesh.vertexCount = 0;
    mesh.computeBoundingBox();
    EXPECT_EQ(mesh.bounds.corners[1].x, -1e30f);
    EXPECT_EQ(mesh.bounds.corners[1].y, 1e30f);
    mesh.vertexCount = 5;
    mesh.freeGeometry();
}

TEST(MakeBox, CornersAndOutwardNormals)
{
    Mesh* box = makeBox(10, 2, 10);
    ASSERT_EQ(box->faceCount, 12);
    expectNear(box->vertices[1], -10, 2, 10);
    expectNear(box->vertices[6], 10, -2, -10);
    const Vector3 outward[6] = {{0, 0, 1}, {1, 0, 0}, {0, -1, 0}, {-1, 0, 0}, {0, 1, 0}, {0, 0, -1}};
    for (int f = 0; f < 12; ++f) {
        const Vector3& n = box->faceNormals[f];
        EXPECT_NEAR(n.dot(outward[f / 2]), 1.0, 1e-6) << f;
        for (int k = 0; k < 3; ++k)  // every corner of the face lies on its outer side
            EXPECT_GT(box->vertices[box->faces[f].v[k]].dot(n), 1.9) << f;
    }
    box->freeGeometry();
    delete box;
}

TEST(Camera, StandardMappingForBothAspectsAndTheFocalFactor)
{
    Camera camera;  // eye (0, 0, -100), quarter-turn field of view, 640 x 480
    camera.updateView();
    expectNear(transformPoint(camera.viewMatrix, 0, 10, 0), 0, 40.0f / 3, 100, 1e-3f);

    camera.setViewport(320, 160, 320, 160);
    camera.updateView();
    expectNear(transformPoint(camera.viewMatrix, 0, 0, 0), 0, 0, 100, 1e-3f);
    expectNear(transformPoint(camera.viewMatrix, 10, 0, 0), 10, 0, 100, 1e-3f);
    expectNear(transformPoint(camera.viewMatrix, 0, 10, 0), 0, 20, 100, 1e-3f);
    EXPECT_NEAR(camera.cullScaleX, 1.0f, 1e-6f);
    EXPECT_NEAR(camera.cullScaleY, 0.25f, 1e-6f);
    // One world unit spans 32 pixels both ways at depth 100.
    expectNear(camera.project(transformPoint(camera.viewMatrix, 10, 10, 0)), 352, 128, 0.01f, 1e-3f);

    camera.position.value = Vector3(50, 0, 0);  // looking along -x: +z world is to the right
    camera.fov.value = 2.1991148f;              // f = tan(0.15 pi)
    camera.updateView();
    const float f = 0.50952545f;
    expectNear(transformPoint(camera.viewMatrix, 0, 10, 10), 10 * f, 20 * f, 50, 1e-3f);
    EXPECT_NEAR(camera.cullScaleY, 1 / (f * f) / 4, 1e-4f);
}
