#include "content/geosphere.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

double length(const Vector3& v)
{
    return std::sqrt(v.dot(v));
}

}  // namespace

TEST(Geosphere, CountsShareOneVertexPerEdge)
{
    const int vertices[] = {6, 18, 66, 258, 1026};
    const int faces[] = {8, 32, 128, 512, 2048};
    for (int levels = 0; levels <= 4; ++levels) {
        std::unique_ptr<Mesh> mesh(makeGeosphere(10.0f, levels));
        EXPECT_EQ(mesh->vertexCount, vertices[levels]) << "levels " << levels;
        EXPECT_EQ(mesh->faceCount, faces[levels]) << "levels " << levels;
        for (int f = 0; f < mesh->faceCount; ++f)
            for (int k = 0; k < 3; ++k) {
                ASSERT_GE(mesh->faces[f].v[k], 0);
                ASSERT_LT(mesh->faces[f].v[k], mesh->vertexCount);
            }
        mesh->freeGeometry();
    }
}

TEST(Geosphere, VerticesOnTheSphereDistinctWithRadialNormals)
{
    const float radius = 100.0f;
    std::unique_ptr<Mesh> mesh(makeGeosphere(radius, 4));
    // The octahedron's equator keeps the 0.707 constant; the poles and every
    // subdivided vertex lie on the radius.
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(length(mesh->vertices[i]) / radius, 0.707 * std::sqrt(2.0), 1e-6);
    for (int i = 4; i < mesh->vertexCount; ++i)
        EXPECT_NEAR(length(mesh->vertices[i]), radius, 1e-3) << "vertex " << i;

    for (int i = 0; i < mesh->vertexCount; ++i)
        for (int j = i + 1; j < mesh->vertexCount; ++j)
            ASSERT_GT(length(mesh->vertices[i] - mesh->vertices[j]), 0.01) << i << " and " << j;

    // The octahedron's winding, kept by every split, turns each face's
    // normal towards the centre: all faces agree, none is flipped.
    for (int f = 0; f < mesh->faceCount; ++f) {
        const Face& face = mesh->faces[f];
        const Vector3 centre = (mesh->vertices[face.v[0]] + mesh->vertices[face.v[1]] + mesh->vertices[face.v[2]]) * (1.0f / 3.0f);
        EXPECT_LT(mesh->faceNormals[f].dot(centre) / length(centre), -0.99) << "face " << f;
    }
    for (int i = 0; i < mesh->vertexCount; ++i)
        EXPECT_NEAR(mesh->vertexNormals[i].dot(mesh->vertices[i]) / length(mesh->vertices[i]), -1.0, 1e-3) << "vertex " << i;
    EXPECT_FLOAT_EQ(mesh->bounds.corners[7].y, radius);
    EXPECT_FLOAT_EQ(mesh->bounds.corners[0].y, -radius);
    mesh->freeGeometry();
}
