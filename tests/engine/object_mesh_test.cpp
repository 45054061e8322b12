// Animated properties, object transforms and mesh operations.
#include "engine/mesh.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

struct CountingTrack : Track {
    int calls = 0;
    Vector3 evaluate(float time) override
    {
        ++calls;
        return Vector3(time, 2 * time, 3 * time);
    }
};

void expectNear(const Vector3& v, float x, float y, float z, float tolerance = 1e-5f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

// Faces with normals +z and +y sharing vertices 0 and 1.
Mesh* twoFaceMesh()
{
    Mesh* mesh = new Mesh(4, 2);
    mesh->vertices[0] = Vector3(0, 0, 0);
    mesh->vertices[1] = Vector3(1, 0, 0);
    mesh->vertices[2] = Vector3(0, 1, 0);
    mesh->vertices[3] = Vector3(0, 0, -1);
    mesh->faces[0] = {{0, 1, 2}, {0, 0, 0}, 0};
    mesh->faces[1] = {{0, 1, 3}, {0, 0, 0}, 0};
    mesh->computeNormals();
    return mesh;
}

} // namespace

TEST(Object3D, UpdateConsultsTracksOncePerTime)
{
    Object3D object;
    EXPECT_STREQ(object.name, "<<no name>>");
    EXPECT_EQ(object.rotation.lastTime, NeverEvaluated);
    object.position.value = Vector3(4, 5, 6);
    object.update(0.0f);  // no tracks: values kept, identity linear part
    EXPECT_EQ(object.scale.lastTime, 0.0f);
    const float expected[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 4, 5, 6};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(object.localMatrix.m[i], expected[i]) << i;

    CountingTrack track;
    object.scale.track = &track;
    object.update(0.5f);
    object.update(0.5f);
    EXPECT_EQ(track.calls, 1);
    expectNear(object.scale.value, 0.5f, 1.0f, 1.5f);
}

TEST(Object3D, ScaleThenRotateThenTranslateUnderTheParent)
{
    Object3D object;
    object.scale.value = Vector3(2, 3, 4);
    object.rotation.value = Quaternion::fromAxisAngle(0, 0, 1, static_cast<float>(std::numbers::pi / 2));
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

TEST(Mesh, NormalsCloneAndBake)
{
    Mesh* mesh = twoFaceMesh();
    expectNear(mesh->faceNormals[0], 0, 0, 1);
    expectNear(mesh->faceNormals[1], 0, 1, 0);
    const float h = static_cast<float>(1 / std::sqrt(2.0));
    expectNear(mesh->vertexNormals[0], 0, h, h);

    Mesh* copy = mesh->clone();
    EXPECT_NE(copy->vertices, mesh->vertices);
    copy->vertices[1].x = 42;
    EXPECT_EQ(mesh->vertices[1].x, 1.0f);
    copy->faces[0].v[2] = 3;  // topology is shared
    EXPECT_EQ(mesh->faces[0].v[2], 3);
    copy->faces[0].v[2] = 2;
    delete[] copy->vertices;
    delete copy;

    mesh->rotation.value = Quaternion::fromAxisAngle(0, 0, 1, static_cast<float>(std::numbers::pi / 2));
    mesh->position.value = Vector3(0, 0, 5);
    mesh->bakeTransform();
    expectNear(mesh->vertices[1], 0, -1, 5);
    expectNear(mesh->faceNormals[1], 1, 0, 0);
    expectNear(mesh->position.value, 0, 0, 5);  // properties untouched
    mesh->computeBoundingBox();
    expectNear(mesh->bounds.corners[5], 1, -1, 5);  // max x, min y, max z
    expectNear(mesh->bounds.corners[2], 0, 0, 4);   // min x, max y, min z
    mesh->freeGeometry();
    EXPECT_EQ(mesh->faces, nullptr);
    delete mesh;
}
