#include "engine/mesh.hpp"
#include "../wide_forms.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

// The normals are worked out two at a time (the face normals four at a
// time with the wide forms); every bit must match the definition (one face,
// then one vertex at a time), for counts that leave every number of lanes
// over and for a face without area.
TEST(Mesh, PairedNormalsMatchTheDefinitionBitForBit)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        const auto sameBits = [](const Vector3& a, const Vector3& b) {
            return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
                   std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
                   std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
        };
        std::mt19937 random(11);
        std::uniform_real_distribution<float> coordinate(-150.0f, 150.0f);
        for (const int faces : {1, 2, 3, 4, 6, 301}) {
            const int vertices = faces / 2 + 3;
            Mesh mesh(vertices, faces);
            for (int i = 0; i < vertices; ++i)
                mesh.vertices[i] = Vector3(coordinate(random), coordinate(random), coordinate(random) * 0.01f);
            for (int f = 0; f < faces; ++f)
                for (int k = 0; k < 3; ++k)
                    mesh.faces[f].v[k] = static_cast<int>(random() % vertices);
            mesh.faces[0].v[2] = mesh.faces[0].v[1];
            std::vector<Vector3> faceNormals(faces), vertexNormals(vertices, Vector3::zero);
            for (int f = 0; f < faces; ++f) {
                const Vector3* v = mesh.vertices;
                const int* i = mesh.faces[f].v;
                faceNormals[f] = (v[i[1]] - v[i[0]]).cross(v[i[2]] - v[i[0]]).normalised();
                for (int k = 0; k < 3; ++k)
                    vertexNormals[i[k]] = vertexNormals[i[k]] + faceNormals[f];
            }
            // The face-only update: the same face normals, vertex normals untouched.
            const Vector3 marker(7.0f, -7.0f, 7.0f);
            for (int i = 0; i < vertices; ++i)
                mesh.vertexNormals[i] = marker;
            for (int f = 0; f < faces; ++f)
                mesh.faceNormals[f] = marker;
            mesh.computeFaceNormals();
            for (int f = 0; f < faces; ++f)
                ASSERT_TRUE(sameBits(mesh.faceNormals[f], faceNormals[f])) << faces << " faces, face only, face " << f;
            for (int i = 0; i < vertices; ++i)
                ASSERT_TRUE(sameBits(mesh.vertexNormals[i], marker)) << faces << " faces, face only, vertex " << i;
            mesh.computeNormals();
            for (int f = 0; f < faces; ++f)
                ASSERT_TRUE(sameBits(mesh.faceNormals[f], faceNormals[f])) << faces << " faces, face " << f;
            for (int i = 0; i < vertices; ++i)
                ASSERT_TRUE(sameBits(mesh.vertexNormals[i], vertexNormals[i].normalised())) << faces << " faces, vertex " << i;
            mesh.freeGeometry();
        }
    });
}
