// The AVX2 build of Mesh::computeFaceNormals (mesh_avx2.cpp, x86-64 only),
// which the mesh takes where wideVectors() holds: four faces to a 32-byte
// register instead of two to a 16-byte one, with the same operations in the
// same order per lane, so every normal has the bits of the 16-byte form.
#pragma once

#include "engine/mesh.hpp"

namespace wide {

// The unit normals of count faces into normals[0 .. count - 1].
void faceNormals(const Vector3* vertices, const Face* faces, int count, Vector3* normals);

} // namespace wide
