// Animated properties, object transforms and mesh operations.
#include "engine/mesh.hpp"
#include "engine/object3d.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

Mesh* twoFaceMesh()
{
    // Faces with normals +z and +y share vertices 0 and 1.
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

void destroy(Mesh* mesh)
{
    mesh->freeGeometry();
    delete mesh;
}

} // namespace

TEST(Object3D, FreshObjectUpdatesToIdentity)
{
    Object3D object;
    EXPECT_STREQ(object.name, "<<no name>>");
    EXPECT_EQ(object.position.lastTime, NeverEvaluated);
    EXPECT_EQ(object.scale.lastTime, 666.0f);
    EXPECT_EQ(object.rotation.lastTime, 666.0f);
    object.update(0.0f);
    EXPECT_EQ(object.position.lastTime, 0.0f);
    EXPECT_EQ(object.scale.lastTime, 0.0f);
    EXPECT_EQ(object.rotation.lastTime, 0.0f);
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(object.localMatrix.m[i], identity[i]) << i;
}

TEST(Object3D, TracksAreConsultedOncePerTime)
{
    Object3D object;
    CountingTrack track;
    object.position.track = &track;
    object.update(0.5f);
    object.update(0.5f);
    EXPECT_EQ(track.calls, 1);
    expectNear(object.position.value, 0.5f, 1.0f, 1.5f);
    object.update(1.0f);
    EXPECT_EQ(track.calls, 2);
    EXPECT_EQ(object.localMatrix.m[11], 3.0f);

    // Without a track the scene's own value stays.
    Object3D plain;
    plain.position.value = Vector3(4, 5, 6);
    plain.update(2.0f);
    expectNear(plain.position.value, 4, 5, 6);
}

TEST(Object3D, ScaleThenRotateThenTranslate)
{
    Object3D object;
    object.scale.value = Vector3(2, 3, 4);
    object.rotation.value = Quaternion::fromAxisAngle(0, 0, 1, static_cast<float>(std::numbers::pi / 2));
    object.position.value = Vector3(1, 2, 3);
    object.updateLocalMatrix();
    expectNear(transformPoint(object.localMatrix, 1, 0, 0), 1, 0, 3);
    expectNear(transformPoint(object.localMatrix, 0, 1, 0), 4, 2, 3);
}

TEST(Object3D, ChildLocalMatrixComesBeforeParent)
{
    Object3D parent, child;
    parent.scale.value = Vector3(2, 2, 2);
    parent.position.value = Vector3(10, 0, 0);
    parent.updateLocalMatrix();
    child.position.value = Vector3(0, 1, 0);
    child.updateLocalMatrix();
    child.parent = &parent;
    // (1, 0, 0) -> child (1, 1, 0) -> parent (12, 2, 0); the other order would give (12, 1, 0).
    expectNear(transformPoint(child.worldMatrix(), 1, 0, 0), 12, 2, 0);
}

TEST(Mesh, FaceAndVertexNormals)
{
    Mesh* mesh = twoFaceMesh();
    expectNear(mesh->faceNormals[0], 0, 0, 1);
    expectNear(mesh->faceNormals[1], 0, 1, 0);
    const float h = static_cast<float>(1 / std::sqrt(2.0));
    expectNear(mesh->vertexNormals[0], 0, h, h);
    expectNear(mesh->vertexNormals[1], 0, h, h);
    expectNear(mesh->vertexNormals[2], 0, 0, 1);
    destroy(mesh);
}

TEST(Mesh, CloneCopiesPositionsAndSharesTopology)
{
    Mesh* source = twoFaceMesh();
    std::strcpy(source->name, "source");
    source->position.value = Vector3(1, 2, 3);
    Mesh* copy = source->clone();
    EXPECT_STREQ(copy->name, "source");
    EXPECT_EQ(copy->position.value.z, 3.0f);
    EXPECT_NE(copy->vertices, source->vertices);
    EXPECT_EQ(copy->faces, source->faces);
    EXPECT_EQ(copy->faceNormals, source->faceNormals);
    EXPECT_EQ(copy->vertexNormals, source->vertexNormals);
    copy->vertices[1].x = 42;
    EXPECT_EQ(source->vertices[1].x, 1.0f);
    copy->faces[0].v[2] = 3;
    EXPECT_EQ(source->faces[0].v[2], 3);
    delete[] copy->vertices;
    delete copy;
    destroy(source);
}

TEST(Mesh, BakeTransformMovesVerticesAndRenormalises)
{
    Mesh* mesh = twoFaceMesh();
    mesh->rotation.value = Quaternion::fromAxisAngle(0, 0, 1, static_cast<float>(std::numbers::pi / 2));
    mesh->position.value = Vector3(0, 0, 5);
    mesh->bakeTransform();
    expectNear(mesh->vertices[1], 0, -1, 5);
    expectNear(mesh->faceNormals[1], 1, 0, 0);  // +y turned to +x
    expectNear(mesh->position.value, 0, 0, 5);   // properties untouched
    destroy(mesh);
}

TEST(Mesh, BoundingBoxCornerOrder)
{
    Mesh* mesh = twoFaceMesh();
    mesh->computeBoundingBox();
    expectNear(mesh->bounds.corners[0], 0, 0, -1);
    expectNear(mesh->bounds.corners[1], 1, 0, -1);
    expectNear(mesh->bounds.corners[2], 0, 1, -1);
    expectNear(mesh->bounds.corners[4], 0, 0, 0);
    expectNear(mesh->bounds.corners[7], 1, 1, 0);
    mesh->freeGeometry();
    EXPECT_EQ(mesh->vertexCount, 0);
    EXPECT_EQ(mesh->faces, nullptr);
    mesh->computeBoundingBox();
    EXPECT_EQ(mesh->bounds.corners[0].x, 1e30f);
    EXPECT_EQ(mesh->bounds.corners[7].x, -1e30f);
    delete mesh;
}
