// The lighting's gathering and writing back of four corners, shared by its
// two builds: the 16-byte one in render_mesh.cpp and the AVX2 one in
// render_mesh_avx2.cpp. Everything here is in an unnamed namespace, so that
// each file gets its own copy compiled for its own instruction set and the
// linker cannot hand the AVX2 one to code that runs on any x86-64.
#pragma once

#include "engine/render_mesh_wide.hpp"
#include "image/simd.hpp"

namespace {

// The inputs of four corners as component rows: the face normals' x, y, z,
// the directions from the light and from the eye; the fourth rows of the
// directions are the screen positions.
struct CornerRows {
    __m128 n[4], l[3], v[3], screenX, screenY;
};

CornerRows cornerRows(const CornerToShade* c)
{
    CornerRows r;
    for (int k = 0; k < 4; ++k)
        r.n[k] = _mm_loadu_ps(&c[k].normal->x);
    _MM_TRANSPOSE4_PS(r.n[0], r.n[1], r.n[2], r.n[3]);
    r.l[0] = _mm_load_ps(&c[0].work->fromLight.x), r.l[1] = _mm_load_ps(&c[1].work->fromLight.x);
    r.l[2] = _mm_load_ps(&c[2].work->fromLight.x), r.screenX = _mm_load_ps(&c[3].work->fromLight.x);
    _MM_TRANSPOSE4_PS(r.l[0], r.l[1], r.l[2], r.screenX);
    r.v[0] = _mm_load_ps(&c[0].work->fromEye.x), r.v[1] = _mm_load_ps(&c[1].work->fromEye.x);
    r.v[2] = _mm_load_ps(&c[2].work->fromEye.x), r.screenY = _mm_load_ps(&c[3].work->fromEye.x);
    _MM_TRANSPOSE4_PS(r.v[0], r.v[1], r.v[2], r.screenY);
    return r;
}

// Each corner's screen position and lit colours (lit: red, green, blue
// rows) into its ShadedCorner: x, y, blue and green as one group, red on
// its own.
void writeCorners(const CornerToShade* c, const CornerRows& rows, const __m128 lit[3])
{
    __m128 red = lit[0], corner[4] = {rows.screenX, rows.screenY, lit[2], lit[1]};
    _MM_TRANSPOSE4_PS(corner[0], corner[1], corner[2], corner[3]);
    for (int k = 0; k < 4; ++k) {
        _mm_storeu_ps(&c[k].corner->x, corner[k]);
        _mm_store_ss(&c[k].corner->red, red);
        red = _mm_shuffle_ps(red, red, _MM_SHUFFLE(0, 3, 2, 1));
    }
}

} // namespace
