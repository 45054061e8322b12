// The anti-aliased line's pixel-pair blend, for drawing code that walks
// lines of its own with the same weights.
#pragma once

#include "image/image.hpp"
#include "image/simd.hpp"

#include <cstdint>

// Both pixels in 16-bit lanes, doubled so that the signed high-half product
// with a 15-bit weight is value·weight/32768 rounded down. The colour's
// lanes are set up once per line.
struct PairBlender {
    __m128i paint2;

    explicit PairBlender(Colour colour)
    {
        const __m128i paint = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(colour & 0xFFFFFFu)),
                                                _mm_setzero_si128());
        paint2 = _mm_unpacklo_epi64(_mm_add_epi16(paint, paint), _mm_add_epi16(paint, paint));
    }

    [[gnu::always_inline]] void operator()(std::uint32_t* first, std::uint32_t* second, std::int32_t f) const
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i noFourth = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
        const __m128i pixels = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(*first)),
                                                  _mm_cvtsi32_si128(static_cast<int>(*second)));
        __m128i old = _mm_and_si128(_mm_unpacklo_epi8(pixels, zero), noFourth);
        old = _mm_add_epi16(old, old);
        // Colour weights: 32767 - f for the first pixel, f for the second.
        __m128i weight = _mm_cvtsi32_si128((32767 - f) | f << 16);
        weight = _mm_unpacklo_epi16(weight, weight);
        weight = _mm_unpacklo_epi32(weight, weight);
        const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(32767), weight);
        const __m128i sum = _mm_add_epi16(_mm_mulhi_epi16(old, keep), _mm_mulhi_epi16(paint2, weight));
        const __m128i packed = _mm_packus_epi16(sum, sum);
        *first = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
        *second = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 4)));
    }
};

