// Face normals four at a time, compiled with -mavx2 on x86-64 only. Each
// lane takes the operations of one lane of the 16-byte form in mesh.cpp,
// in the same order; only the records' fields are used here, no shared
// inline function.
#include "engine/mesh_wide.hpp"

#include <immintrin.h>

namespace {

// x, y, z of a vertex in the low three floats (the fourth 0), without
// reading past it.
__m128 loadVertex(const Vector3& v)
{
    return _mm_movelh_ps(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(&v.x)), _mm_load_ss(&v.z));
}

__m256d toFloat(__m256d v)
{
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(v));
}

} // namespace

void wide::faceNormals(const Vector3* vertices, const Face* faces, int count, Vector3* normals)
{
    const __m256d one = _mm256_set1_pd(1.0);
    for (int f = 0; f < count; f += 4) {
        // The two edges from corner 0 of each face, in floats; the last
        // face repeated past the end.
        __m128 a[4], b[4];
        for (int k = 0; k < 4; ++k) {
            const Face& face = faces[f + k < count ? f + k : count - 1];
            const __m128 p = loadVertex(vertices[face.v[0]]);
            a[k] = _mm_sub_ps(loadVertex(vertices[face.v[1]]), p);
            b[k] = _mm_sub_ps(loadVertex(vertices[face.v[2]]), p);
        }
        _MM_TRANSPOSE4_PS(a[0], a[1], a[2], a[3]);
        _MM_TRANSPOSE4_PS(b[0], b[1], b[2], b[3]);
        const __m256d x1 = _mm256_cvtps_pd(a[0]), y1 = _mm256_cvtps_pd(a[1]), z1 = _mm256_cvtps_pd(a[2]);
        const __m256d x2 = _mm256_cvtps_pd(b[0]), y2 = _mm256_cvtps_pd(b[1]), z2 = _mm256_cvtps_pd(b[2]);
        // Vector3::cross in doubles, rounded to floats; then normalised: the
        // length rounded to a float, one reciprocal, each product rounded.
        const __m256d cx = toFloat(_mm256_sub_pd(_mm256_mul_pd(y1, z2), _mm256_mul_pd(z1, y2)));
        const __m256d cy = toFloat(_mm256_sub_pd(_mm256_mul_pd(z1, x2), _mm256_mul_pd(x1, z2)));
        const __m256d cz = toFloat(_mm256_sub_pd(_mm256_mul_pd(x1, y2), _mm256_mul_pd(y1, x2)));
        const __m256d squares =
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(cx, cx), _mm256_mul_pd(cy, cy)), _mm256_mul_pd(cz, cz));
        const __m256d r = _mm256_div_pd(one, toFloat(_mm256_sqrt_pd(squares)));
        __m128 n[4] = {_mm256_cvtpd_ps(_mm256_mul_pd(cx, r)), _mm256_cvtpd_ps(_mm256_mul_pd(cy, r)),
                       _mm256_cvtpd_ps(_mm256_mul_pd(cz, r)), _mm_setzero_ps()};
        _MM_TRANSPOSE4_PS(n[0], n[1], n[2], n[3]);
        for (int k = 0; k < 4 && f + k < count; ++k) {
            Vector3& out = normals[f + k];
            _mm_storel_pi(reinterpret_cast<__m64*>(&out.x), n[k]);
            _mm_store_ss(&out.z, _mm_movehl_ps(n[k], n[k]));
        }
    }
}
