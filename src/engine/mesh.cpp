#include "engine/mesh.hpp"

#include <algorithm>

Mesh::Mesh(int vertexCount, int faceCount)
{
    allocVertices(vertexCount);
    allocFaces(faceCount);
}

Mesh::Mesh(int vertexCount, int texCoordCount, int faceCount)
{
    allocVertices(vertexCount);
    allocTexCoords(texCoordCount);
    allocFaces(faceCount);
}

Vector3* Mesh::allocVertices(int n)
{
    vertices = new Vector3[n];
    vertexNormals = new Vector3[n];
    vertexCount = n;
    return vertices;
}

TexCoord* Mesh::allocTexCoords(int n)
{
    texCoords = new TexCoord[n];
    texCoordCount = n;
    return texCoords;
}

Face* Mesh::allocFaces(int n)
{
    faces = new Face[n];
    faceNormals = new Vector3[n];
    faceCount = n;
    return faces;
}

void Mesh::freeGeometry()
{
    vertexCount = 0;
    delete[] vertices;
    delete[] vertexNormals;
    vertices = vertexNormals = nullptr;
    texCoordCount = 0;
    delete[] texCoords;
    texCoords = nullptr;
    faceCount = 0;
    delete[] faces;
    delete[] faceNormals;
    faces = nullptr;
    faceNormals = nullptr;
}

void Mesh::computeNormals()
{
    for (int i = 0; i < vertexCount; ++i)
        vertexNormals[i] = Vector3::zero;
    for (int f = 0; f < faceCount; ++f) {
        const Face& face = faces[f];
        const Vector3& p0 = vertices[face.v[0]];
        const Vector3 e1 = vertices[face.v[1]] - p0;
        const Vector3 e2 = vertices[face.v[2]] - p0;
        const Vector3 n = e1.cross(e2).normalised();
        faceNormals[f] = n;
        for (int k = 0; k < 3; ++k)
            vertexNormals[face.v[k]] = vertexNormals[face.v[k]] + n;
    }
    for (int i = 0; i < vertexCount; ++i)
        vertexNormals[i] = vertexNormals[i].normalised();
}

Mesh* Mesh::clone() const
{
    Mesh* copy = new Mesh(*this);
    copy->vertices = new Vector3[vertexCount > 0 ? vertexCount : 0];
    std::copy(vertices, vertices + std::max(vertexCount, 0), copy->vertices);
    return copy;
}

void Mesh::bakeTransform()
{
    updateLocalMatrix();
    const Matrix world = worldMatrix();
    for (int i = 0; i < vertexCount; ++i)
        vertices[i] = transformPoint(world, vertices[i]);
    computeNormals();
}

void Mesh::computeBoundingBox()
{
    Vector3 lo(1e30f, 1e30f, 1e30f);
    Vector3 hi(-1e30f, -1e30f, -1e30f);
    for (int i = 0; i < vertexCount; ++i) {
        const Vector3& p = vertices[i];
        if (p.x < lo.x) lo.x = p.x;
        if (p.y < lo.y) lo.y = p.y;
        if (p.z < lo.z) lo.z = p.z;
        if (p.x > hi.x) hi.x = p.x;
        if (p.y > hi.y) hi.y = p.y;
        if (p.z > hi.z) hi.z = p.z;
    }
    for (int k = 0; k < 8; ++k)
        bounds.corners[k] = Vector3((k & 1) ? hi.x : lo.x, (k & 2) ? hi.y : lo.y, (k & 4) ? hi.z : lo.z);
}
