// Closed box mesh with half-extents sx, sy, sz, wound so that every face
// normal points outward.
#pragma once

#include "engine/mesh.hpp"

// A new Mesh (8 vertices, 4 texture coordinates, 12 faces) with its normals
// computed and the Object3D defaults; the caller owns it.
Mesh* makeBox(float sx, float sy, float sz);
