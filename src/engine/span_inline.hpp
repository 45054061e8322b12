// Inline bodies of the two span writers, so that the rasteriser can run
// them without a call per row. Both step the three channels (and a fourth
// lane that stays 0) as 16-bit lanes, four pixels per register pair; each
// lane does the scalar arithmetic (wrapping 16-bit adds, high byte taken),
// so the bytes are the same as one channel at a time.
#pragma once

#include <cstdint>
#include <emmintrin.h>

namespace span_detail {


inline std::uint64_t packLanes(std::uint32_t b, std::uint32_t g, std::uint32_t r)
{
    return (b & 0xFFFFu) | static_cast<std::uint64_t>(g & 0xFFFFu) << 16 | static_cast<std::uint64_t>(r & 0xFFFFu) << 32;
}

// Lanes of pixels 0 and 1, 2 and 3, and the increment for four pixels.
struct Lanes {
    __m128i pair01, pair23, step4;

    Lanes(std::int32_t blue, std::int32_t green, std::int32_t red, std::uint16_t db, std::uint16_t dg, std::uint16_t dr)
    {
        const auto start = _mm_set1_epi64x(static_cast<long long>(packLanes(static_cast<std::uint32_t>(blue) >> 8,
                                                                            static_cast<std::uint32_t>(green) >> 8,
                                                                            static_cast<std::uint32_t>(red) >> 8)));
        const auto step1 = _mm_set1_epi64x(static_cast<long long>(packLanes(db, dg, dr)));
        const __m128i step2 = _mm_add_epi16(step1, step1);
        pair01 = _mm_add_epi16(start, _mm_slli_si128(step1, 8));
        pair23 = _mm_add_epi16(pair01, step2);
        step4 = _mm_add_epi16(step2, step2);
    }

    // The four pixels' colours: the high byte of every lane.
    __m128i colours() const { return _mm_packus_epi16(_mm_srli_epi16(pair01, 8), _mm_srli_epi16(pair23, 8)); }

    void advance()
    {
        pair01 = _mm_add_epi16(pair01, step4);
        pair23 = _mm_add_epi16(pair23, step4);
    }
};

// Writes the first n (1..3) pixels of four.
inline void storeSome(std::uint32_t* dest, __m128i four, int n)
{
    if (n >= 2) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), four);
        if (n == 3)
            dest[2] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(four, 8)));
    } else {
        dest[0] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(four));
    }
}

inline __m128i loadSome(const std::uint32_t* src, int n)
{
    if (n >= 2) {
        const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src));
        if (n == 3)
            return _mm_unpacklo_epi64(low, _mm_cvtsi32_si128(static_cast<int>(src[2])));
        return low;
    }
    return _mm_cvtsi32_si128(static_cast<int>(src[0]));
}



inline void fillSpan(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                 std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    Lanes l(blue, green, red, blueStep, greenStep, redStep);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), l.colours());
        l.advance();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i + 4), l.colours());
        l.advance();
    }
    if (i + 4 <= count) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), l.colours());
        l.advance();
        i += 4;
    }
    if (i < count)
        storeSome(dest + i, l.colours(), count - i);
}

inline void addSpan(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                         std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    Lanes l(blue, green, red, blueStep, greenStep, redStep);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        auto* p = reinterpret_cast<__m128i*>(dest + i);
        const __m128i a = _mm_adds_epu8(_mm_loadu_si128(p), l.colours());
        l.advance();
        const __m128i b = _mm_adds_epu8(_mm_loadu_si128(p + 1), l.colours());
        l.advance();
        _mm_storeu_si128(p, a);
        _mm_storeu_si128(p + 1, b);
    }
    if (i + 4 <= count) {
        auto* p = reinterpret_cast<__m128i*>(dest + i);
        _mm_storeu_si128(p, _mm_adds_epu8(_mm_loadu_si128(p), l.colours()));
        l.advance();
        i += 4;
    }
    if (i < count)
        storeSome(dest + i, _mm_adds_epu8(loadSome(dest + i, count - i), l.colours()), count - i);
}

} // namespace span_detail
