// Draws a Mesh: transform to the camera's pre-scaled view space, back-face
// culling, optional depth sort, one point light per corner with the flat
// face normal, clipping and the Gouraud fill. No depth buffer.
#pragma once

#include "engine/camera.hpp"
#include "engine/clipper.hpp"
#include "engine/light.hpp"
#include "engine/mesh.hpp"
#include "engine/rasterizer.hpp"
#include "image/image.hpp"

#include <cstddef>

enum RenderMode : int {
    Gouraud = 0,          // replaces pixels
    GouraudAdditive = 1,  // adds with per-channel saturation
};

// Work storage of renderMesh; a mesh with more vertices, or with more faces
// facing the camera in one call, is not drawn (the call returns false).
inline constexpr int renderVertexCapacity = 10000;
inline constexpr int renderFaceCapacity = 10000;

// The key follows the normal, so that the normal loads as 16 bytes.
struct VisibleFace {
    const Face* face;
    Vector3 normal;  // in view space
    float key;       // 1/z of the face centroid; sorted on its 32 bits
};
static_assert(offsetof(VisibleFace, key) == offsetof(VisibleFace, normal) + 12, "normal and key form 16 bytes");

// diffuse and specular: 0x00RRGGBB, each byte used as 0..255. A mode other
// than Gouraud or GouraudAdditive keeps the span writer of the previous call.
// With depthSort the nearest face is drawn first and farther ones over it.
// Pixels outside target are never written.
bool renderMesh(Image& target, const Camera& camera, const Mesh& mesh, const Light& light, Colour diffuse,
                Colour specular, RenderMode mode, bool depthSort);

// One vertex p (view space) lit with the face's view normal n by a light at
// lv: diffuse plus specular (exponent 20) per channel, clamped to 5..250.
// Writes red, green and blue of v.
void lightVertex(ClipVertex& v, const Vector3& n, const Vector3& lv, Colour diffuse, Colour specular);

// A lit corner on the screen: position in pixels, colour channels 0..255.
struct ShadedCorner {
    float x, y;
    float blue, green, red;
};

// The colour plane of a whole (unclipped) triangle in screen space: each
// channel's step per pixel in x and in y, 16.16.
struct ColourGradients {
    std::int32_t dBdx, dGdx, dRdx;
    std::int32_t dBdy, dGdy, dRdy;
};

// The renderer's packed set-up, exposed so that it can be checked against
// the one-value formulas. fixedCorner: every value times 65536, truncated
// toward zero to 32 bits (-2^31 beyond the range and for NaN).
// colourGradients: the gradients of triangles a and b (three corners each)
// at once, a and b may be the same triangle; with d = (x1 - x0)(y2 - y0) -
// (x2 - x0)(y1 - y0), dC/dx = ((C1 - C0)(y2 - y0) - (C2 - C0)(y1 - y0))·65536/d
// and dC/dy = ((C2 - C0)(x1 - x0) - (C1 - C0)(x2 - x0))·65536/d, each
// truncated as fixedCorner does.
RasterVertex fixedCorner(const ShadedCorner& c);
void colourGradients(const ShadedCorner* a, const ShadedCorner* b, ColourGradients& ga, ColourGradients& gb);

// lightVertex for count vertices, normals[i] for vertices[i]; the renderer's
// own batched form, which lights four vertices at a time.
void lightVertices(ClipVertex* vertices, const Vector3* normals, int count, const Vector3& lv, Colour diffuse,
                   Colour specular);
