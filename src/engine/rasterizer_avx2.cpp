// The fill of a triangle wholly inside the image, compiled with -mavx2 on
// x86-64 only: the row loop of fill_inside.hpp with spans written eight
// pixels to a 32-byte register. Pixel i of a run is still the high byte of
// start + i x step in wrapping 16-bit lanes, so the bytes are those of the
// 16-byte spans.
#include "engine/fill_inside.hpp"
#include "engine/wide_fill.hpp"

#include <immintrin.h>

namespace {

struct WideSpans {
    span_detail::Steps narrow;  // for the rare short run at the right edge
    __m256i one;                // one pixel's steps, in all four pixel lanes
    __m256i a, b;               // offsets of pixels 0, 1, 4, 5 and 2, 3, 6, 7
    __m256i byEight;            // eight pixels' steps

    explicit WideSpans(__m128i pixel)
        : narrow(pixel), one(_mm256_broadcastsi128_si256(pixel)),
          a(_mm256_mullo_epi16(one, _mm256_setr_epi16(0, 0, 0, 0, 1, 1, 1, 1, 4, 4, 4, 4, 5, 5, 5, 5))),
          b(_mm256_mullo_epi16(one, _mm256_setr_epi16(2, 2, 2, 2, 3, 3, 3, 3, 6, 6, 6, 6, 7, 7, 7, 7))),
          byEight(_mm256_slli_epi16(one, 3))
    {
    }

    // The eight pixels from the one whose lanes are at: packing works
    // within halves, so the halves hold pixels 0, 1 | 4, 5 and 2, 3 | 6, 7
    // and come out as 0..3 | 4..7.
    __m256i group(__m256i at) const
    {
        return _mm256_packus_epi16(_mm256_srli_epi16(_mm256_add_epi16(at, a), 8),
                                   _mm256_srli_epi16(_mm256_add_epi16(at, b), 8));
    }

    template <bool add>
    void eight(std::uint32_t* dest, int n, __m128i start) const
    {
        const __m256i c = group(_mm256_broadcastsi128_si256(start));
        const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        auto* p = reinterpret_cast<__m256i*>(dest);
        const __m256i old = _mm256_loadu_si256(p);
        _mm256_storeu_si256(p, add ? _mm256_adds_epu8(old, _mm256_and_si256(c, keep)) : _mm256_blendv_epi8(old, c, keep));
    }

    // A run of nine to sixteen pixels as two groups of eight, the second
    // masked by lane (the caller owns dest[0..15]): no loop, no tail.
    template <bool add>
    void sixteen(std::uint32_t* dest, int n, __m128i start) const
    {
        const __m256i s = _mm256_broadcastsi128_si256(start);
        const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), _mm256_setr_epi32(8, 9, 10, 11, 12, 13, 14, 15));
        const __m256i c0 = group(s), c1 = group(_mm256_add_epi16(s, byEight));
        auto* p = reinterpret_cast<__m256i*>(dest);
        const __m256i old0 = _mm256_loadu_si256(p), old1 = _mm256_loadu_si256(p + 1);
        _mm256_storeu_si256(p, add ? _mm256_adds_epu8(old0, c0) : c0);
        _mm256_storeu_si256(p + 1, add ? _mm256_adds_epu8(old1, _mm256_and_si256(c1, keep))
                                       : _mm256_blendv_epi8(old1, c1, keep));
    }

    // Groups of eight from the start, and a last eight ending on the last
    // pixel, read before any store so that, when adding, the pixels both
    // cover get their sum once.
    template <bool add>
    void any(std::uint32_t* dest, int n, __m128i start) const
    {
        if (n <= 8) {
            span_detail::run<add>(dest, n, start, narrow);
            return;
        }
        const __m256i s = _mm256_broadcastsi128_si256(start);
        auto* last = reinterpret_cast<__m256i*>(dest + n - 8);
        __m256i tail = group(_mm256_add_epi16(s, _mm256_mullo_epi16(one, _mm256_set1_epi16(static_cast<short>(n - 8)))));
        if (add)
            tail = _mm256_adds_epu8(_mm256_loadu_si256(last), tail);
        __m256i at = s;
        for (int i = 0; i < n - 8; i += 8) {
            auto* p = reinterpret_cast<__m256i*>(dest + i);
            const __m256i c = group(at);
            _mm256_storeu_si256(p, add ? _mm256_adds_epu8(_mm256_loadu_si256(p), c) : c);
            at = _mm256_add_epi16(at, byEight);
        }
        _mm256_storeu_si256(last, tail);
    }
};

} // namespace

void wide::fillInsideTriangle(const RasterPolygon& polygon, const YExtremes& e, std::uint32_t* pixels, int pitch,
                              int width, bool add)
{
    if (add)
        ::fillInsideTriangle<true, WideSpans>(polygon, e, pixels, pitch, width);
    else
        ::fillInsideTriangle<false, WideSpans>(polygon, e, pixels, pitch, width);
}
