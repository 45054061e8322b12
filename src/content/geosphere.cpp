#include "content/geosphere.hpp"

#include <cmath>

int geosphereVertexCount(int levels)
{
    int vertices = 6;
    int faces = 8;
    for (int level = 0; level < levels; ++level) {
        vertices += faces * 3 / 2;
        faces *= 4;
    }
    return vertices;
}

int geosphereFaceCount(int levels)
{
    int faces = 8;
    for (int level = 0; level < levels; ++level)
        faces *= 4;
    return faces;
}

namespace {

double distance(const Vector3& a, const Vector3& b)
{
    const Vector3 d = a - b;
    return std::sqrt(d.dot(d));
}

// The index of the midpoint of p and q on the sphere: the first vertex of
// this level within 0.01 of it, or a new one. Earlier levels' vertices are
// never shared with, so the scan covers [first, count).
int midpoint(Mesh& mesh, int& count, int first, const Vector3& p, const Vector3& q, float radius)
{
    const Vector3 m = ((p + q) * 0.5f).normalised() * radius;
    for (int i = first; i < count; ++i)
        if (distance(mesh.vertices[i], m) < 0.01)
            return i;
    mesh.vertices[count] = m;
    return count++;
}

Face face(int a, int b, int c)
{
    return Face{{a, b, c}, {0, 0, 0}, 0};
}

}  // namespace

Mesh* makeGeosphere(float radius, int levels)
{
    Mesh* mesh = new Mesh(geosphereVertexCount(levels), geosphereFaceCount(levels));
    const float c = radius * 0.707f;
    const Vector3 start[6] = {{c, 0.0f, -c}, {c, 0.0f, c},     {-c, 0.0f, c},
                              {-c, 0.0f, -c}, {0.0f, radius, 0.0f}, {0.0f, -radius, 0.0f}};
    const int startFaces[8][3] = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4},
                                  {3, 2, 5}, {2, 1, 5}, {1, 0, 5}, {0, 3, 5}};
    for (int i = 0; i < 6; ++i)
        mesh->vertices[i] = start[i];
    for (int i = 0; i < 8; ++i)
        mesh->faces[i] = face(startFaces[i][0], startFaces[i][1], startFaces[i][2]);

    int vertexCount = 6;
    int faceCount = 8;
    for (int level = 0; level < levels; ++level) {
        const int first = vertexCount;
        const int faceCountBefore = faceCount;
        for (int f = 0; f < faceCountBefore; ++f) {
            const int a = mesh->faces[f].v[0];
            const int b = mesh->faces[f].v[1];
            const int cc = mesh->faces[f].v[2];
            const Vector3* v = mesh->vertices;
            const int q0 = midpoint(*mesh, vertexCount, first, v[a], v[b], radius);
            const int q1 = midpoint(*mesh, vertexCount, first, v[b], v[cc], radius);
            const int q2 = midpoint(*mesh, vertexCount, first, v[cc], v[a], radius);
            mesh->faces[f] = face(q0, q1, q2);
            mesh->faces[faceCount++] = face(a, q0, q2);
            mesh->faces[faceCount++] = face(b, q1, q0);
            mesh->faces[faceCount++] = face(cc, q2, q1);
        }
    }
    mesh->computeNormals();
    mesh->computeBoundingBox();
    return mesh;
}
