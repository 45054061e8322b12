#include "engine/mesh.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>

namespace {

// The normals as defined, one face and one vertex at a time.
void plainNormals(const Mesh& mesh, Vector3* faceNormals, Vector3* vertexNormals)
{
    for (int i = 0; i < mesh.vertexCount; ++i)
        vertexNormals[i] = Vector3::zero;
    for (int f = 0; f < mesh.faceCount; ++f) {
        const Face& face = mesh.faces[f];
        const Vector3& p0 = mesh.vertices[face.v[0]];
        const Vector3 n = (mesh.vertices[face.v[1]] - p0).cross(mesh.vertices[face.v[2]] - p0).normalised();
        faceNormals[f] = n;
        for (int k = 0; k < 3; ++k)
            vertexNormals[face.v[k]] = vertexNormals[face.v[k]] + n;
    }
    for (int i = 0; i < mesh.vertexCount; ++i)
        vertexNormals[i] = vertexNormals[i].normalised();
}

bool sameBits(const Vector3& a, const Vector3& b)
{
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
}

} // namespace

// The normals are worked out two at a time; every bit must match the
// definition, for odd and even counts, lopsided and degenerate faces.
TEST(Mesh, PairedNormalsMatchTheDefinitionBitForBit)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> coordinate(-150.0f, 150.0f);
    for (const int faces : {1, 2, 7, 300, 301}) {
        const int vertices = faces / 2 + 3;
        Mesh mesh(vertices, faces);
        for (int i = 0; i < vertices; ++i)
            mesh.vertices[i] = Vector3(coordinate(random), coordinate(random), coordinate(random) * 0.01f);
        for (int f = 0; f < faces; ++f)
            mesh.faces[f] = {{static_cast<int>(random() % vertices), static_cast<int>(random() % vertices),
                              static_cast<int>(random() % vertices)}, {0, 0, 0}, 0};
        mesh.faces[0] = {{0, 1, 1}, {0, 0, 0}, 0};  // no area: not a number, as defined
        std::vector<Vector3> faceNormals(faces), vertexNormals(vertices);
        plainNormals(mesh, faceNormals.data(), vertexNormals.data());
        mesh.computeNormals();
        for (int f = 0; f < faces; ++f)
            ASSERT_TRUE(sameBits(mesh.faceNormals[f], faceNormals[f])) << faces << " faces, face " << f;
        for (int i = 0; i < vertices; ++i)
            ASSERT_TRUE(sameBits(mesh.vertexNormals[i], vertexNormals[i])) << faces << " faces, vertex " << i;
        mesh.freeGeometry();
    }
}
