// Triangle mesh: an Object3D that owns its vertex, texture-coordinate and
// face arrays (released only by freeGeometry).
#pragma once

#include "engine/object3d.hpp"

#include <cstdint>

struct TexCoord {
    float u, v;  // texel units
};

struct Face {
    std::int32_t v[3];   // vertex indices
    std::int32_t t[3];   // texture-coordinate indices
    std::int32_t flags;  // unused by the renderer
};

// Corner k takes max.x when bit 0 of k is set (else min.x), max.y for bit 1,
// max.z for bit 2.
struct BoundingBox {
    Vector3 corners[8];
};

struct Mesh : Object3D {
    Vector3* vertices = nullptr;
    TexCoord* texCoords = nullptr;
    Face* faces = nullptr;
    Vector3* faceNormals = nullptr;    // parallel to faces
    Vector3* vertexNormals = nullptr;  // parallel to vertices
    std::int32_t vertexCount = 0;
    std::int32_t texCoordCount = 0;
    std::int32_t faceCount = 0;
    BoundingBox bounds{};

    Mesh() = default;
    Mesh(int vertexCount, int faceCount);
    Mesh(int vertexCount, int texCoordCount, int faceCount);

    // Allocate unset arrays and set the counts.
    Vector3* allocVertices(int n);    // vertices and vertexNormals
    TexCoord* allocTexCoords(int n);
    Face* allocFaces(int n);          // faces and faceNormals
    void freeGeometry();

    // Unit face normals; unweighted, normalised sum of them at each vertex.
    void computeNormals();
    // Only the face normals of computeNormals, bit for bit; the vertex
    // normals are left as they were. For meshes reshaped every frame, whose
    // vertex normals nothing reads.
    void computeFaceNormals();
    // A new mesh with its own copy of the positions; every other array is
    // shared with this one.
    Mesh* clone() const;
    // Moves every vertex by the world matrix (after rebuilding the local
    // one) and recomputes the normals; the properties are left as they were.
    void bakeTransform();
    void computeBoundingBox();
};
