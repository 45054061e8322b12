// The depth sort of the faces renderMesh draws: stable, on the 32 bits of
// each face's key read as an unsigned number (for keys that are not
// negative, the order of the floats).
#pragma once

#include "engine/render_mesh.hpp"

// Sorts faces[0 .. count - 1] into faces or into buffer, which has room for
// count faces, and returns the one that holds them. count may be at most
// renderFaceCapacity.
VisibleFace* sortByKeyBits(VisibleFace* faces, VisibleFace* buffer, int count);
