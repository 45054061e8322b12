// The dented sphere's vertex push four vertices at a time, compiled with
// -mavx2 on x86-64 only: each lane takes the steps of the two-lane form in
// scene7.cpp (the difference in floats, the rest in doubles, the sum
// rounded once), so every vertex gets the same bits.
#include "scenes/scene7.hpp"

#include <immintrin.h>

namespace {

// x, y and z of four vertices, from three 16-byte loads of 48 bytes.
void fourFromRow(const Vector3* v, __m128& x, __m128& y, __m128& z)
{
    const float* f = &v->x;
    const __m128 a = _mm_loadu_ps(f), b = _mm_loadu_ps(f + 4), c = _mm_loadu_ps(f + 8);
    // a = x0 y0 z0 x1, b = y1 z1 x2 y2, c = z2 x3 y3 z3.
    x = _mm_shuffle_ps(a, _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2)), _MM_SHUFFLE(2, 0, 3, 0));
    y = _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1)), _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3)),
                       _MM_SHUFFLE(2, 0, 2, 0));
    z = _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2)), _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0)),
                       _MM_SHUFFLE(2, 0, 2, 0));
}

} // namespace

void wide::applyRepellers(const Vector3* rest, Vector3* out, int count, const Repeller* repellers, int repellerCount)
{
    for (int i = 0; i < count; i += 4) {
        __m128 px, py, pz;
        if (i + 4 <= count) {
            fourFromRow(rest + i, px, py, pz);
        } else {  // the last vertex stands in for the missing ones
            const auto at = [&](int k) { return rest[i + k < count ? i + k : count - 1]; };
            px = _mm_setr_ps(at(0).x, at(1).x, at(2).x, at(3).x);
            py = _mm_setr_ps(at(0).y, at(1).y, at(2).y, at(3).y);
            pz = _mm_setr_ps(at(0).z, at(1).z, at(2).z, at(3).z);
        }
        __m256d x = _mm256_cvtps_pd(px), y = _mm256_cvtps_pd(py), z = _mm256_cvtps_pd(pz);
        for (int r = 0; r < repellerCount; ++r) {
            const Vector3& at = repellers[r].position;
            const __m256d dx = _mm256_cvtps_pd(_mm_sub_ps(_mm_set1_ps(at.x), px));
            const __m256d dy = _mm256_cvtps_pd(_mm_sub_ps(_mm_set1_ps(at.y), py));
            const __m256d dz = _mm256_cvtps_pd(_mm_sub_ps(_mm_set1_ps(at.z), pz));
            const __m256d squares =
                _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz));
            const __m256d k = _mm256_div_pd(_mm256_set1_pd(repellers[r].strength),
                                            _mm256_add_pd(squares, _mm256_set1_pd(800.0)));
            x = _mm256_add_pd(x, _mm256_mul_pd(dx, k));
            y = _mm256_add_pd(y, _mm256_mul_pd(dy, k));
            z = _mm256_add_pd(z, _mm256_mul_pd(dz, k));
        }
        alignas(16) float v[3][4];
        _mm_store_ps(v[0], _mm256_cvtpd_ps(x));
        _mm_store_ps(v[1], _mm256_cvtpd_ps(y));
        _mm_store_ps(v[2], _mm256_cvtpd_ps(z));
        for (int k = 0; k < 4 && i + k < count; ++k)
            out[i + k] = Vector3(v[0][k], v[1][k], v[2][k]);
    }
}
