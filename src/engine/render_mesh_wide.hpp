// The AVX2 build of renderMesh's packed double arithmetic (render_mesh_avx2.cpp,
// x86-64 only), which renderMesh takes where wideVectors() holds: four
// vertices, faces, corners or triangles to a 32-byte register instead of
// two to a 16-byte one, with the same operations in the same order per
// lane, so every result has the bits of the 16-byte form.
#pragma once

#include "engine/render_mesh.hpp"
#include "engine/wide_fill.hpp"

#include <cstddef>
#include <cstdint>

// What drawing needs of a vertex of a face turned toward the eye, worked
// out once per call: the unit directions from the light and from the eye
// toward it (Vector3::normalised), its screen position and the planes of the
// view pyramid it lies outside (outsidePlanes). Each direction shares a
// 16-byte group with one screen coordinate, so that the lighting loads the
// direction and the corner's position together.
struct alignas(16) VertexWork {
    Vector3 fromLight;
    float screenX;
    Vector3 fromEye;
    float screenY;
    unsigned outside;
};
static_assert(offsetof(VertexWork, screenX) == 12 && offsetof(VertexWork, screenY) == 28);

// A corner to light: the face's unit normal (x, y, z and four more bytes
// that may be read), the work of its vertex, and the corner that takes the
// vertex's screen position and the lit colours.
struct CornerToShade {
    const Vector3* normal;
    const VertexWork* work;
    ShadedCorner* corner;
};

// A face's unit view normal, padded so that it loads as 16 bytes.
struct alignas(16) UnitNormal {
    float x, y, z, unused;
};

namespace wide {

// The VertexWork of the count vertices listed, into work[vertex], from
// their view positions (as transformVertices lays them out); lv is the
// light in view space.
void vertexWorkOf(const std::int32_t* list, int count, const float* view, const Vector3& lv, const Camera& camera,
                  VertexWork* work);

// The vertices through m (each product and sum in double, rounded to float
// at the end) into view: x, y, z and a spare float per vertex, 16-byte aligned.
void transformVertices(const Vector3* vertices, int count, const Matrix& m, float* view);

// The faces of mesh turned toward the eye, in face order: their sort key,
// face and unit view normal (directions: the view matrix without its
// translation). Returns how many, or -1 when there are more than capacity.
// The unit view normals of all the faces are taken from known when it is
// given (as this call would work them out), else worked out and, when
// found is given, written there.
int cullFaces(const Mesh& mesh, const float* view, const Matrix& directions, const Camera& camera,
              VisibleFace* out, int capacity, const UnitNormal* known, UnitNormal* found);

// Lights count corners (a multiple of 4) and writes each one's x, y, red,
// green and blue.
void shadeCorners(const CornerToShade* corners, int count, const double diffuse[3], const double specular[3]);

// Four triangles (three lit corners each; they may repeat) as the
// rasteriser takes them: the corners through fixedCorner, the steps from
// colourGradients.
void triangleRows(const ShadedCorner* const corners[4], TriangleRows& rows);

} // namespace wide
