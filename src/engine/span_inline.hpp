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

// Lanes of pixels 0 and 1, 2 and 3, and the increments for one and four pixels.
struct Lanes {
    __m128i pair01, pair23, step1, step4;

    Lanes(std::int32_t blue, std::int32_t green, std::int32_t red, std::uint16_t db, std::uint16_t dg, std::uint16_t dr)
    {
        const auto start = _mm_set1_epi64x(static_cast<long long>(packLanes(static_cast<std::uint32_t>(blue) >> 8,
                                                                            static_cast<std::uint32_t>(green) >> 8,
                                                                            static_cast<std::uint32_t>(red) >> 8)));
        step1 = _mm_set1_epi64x(static_cast<long long>(packLanes(db, dg, dr)));
        const __m128i step2 = _mm_add_epi16(step1, step1);
        pair01 = _mm_add_epi16(start, _mm_slli_si128(step1, 8));
        pair23 = _mm_add_epi16(pair01, step2);
        step4 = _mm_add_epi16(step2, step2);
    }

    static __m128i pack(__m128i a, __m128i b) { return _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)); }

    // The four pixels' colours: the high byte of every lane.
    __m128i colours() const { return pack(pair01, pair23); }

    // The colours of the four pixels k steps further on (k steps of a lane
    // wrap at 16 bits just as k single additions do).
    __m128i coloursAfter(int k) const
    {
        const __m128i add = _mm_mullo_epi16(step1, _mm_set1_epi16(static_cast<short>(k)));
        return pack(_mm_add_epi16(pair01, add), _mm_add_epi16(pair23, add));
    }

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

// Runs of four or more end with one group of four that ends on the last
// pixel, overlapping the previous group if need be, instead of a tail loop.
inline void fillSpan(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                     std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    Lanes l(blue, green, red, blueStep, greenStep, redStep);
    if (count < 4) {
        storeSome(dest, l.colours(), count);
        return;
    }
    const __m128i last = l.coloursAfter(count - 4);
    int i = 0;
    if (count > 16) {
        // Long runs: two groups per pass on independent lanes.
        const __m128i step8 = _mm_add_epi16(l.step4, l.step4);
        __m128i a01 = l.pair01, a23 = l.pair23;
        __m128i b01 = _mm_add_epi16(a01, l.step4), b23 = _mm_add_epi16(a23, l.step4);
        for (; i + 8 < count; i += 8) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), Lanes::pack(a01, a23));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i + 4), Lanes::pack(b01, b23));
            a01 = _mm_add_epi16(a01, step8);
            a23 = _mm_add_epi16(a23, step8);
            b01 = _mm_add_epi16(b01, step8);
            b23 = _mm_add_epi16(b23, step8);
        }
        l.pair01 = a01;
        l.pair23 = a23;
    }
    for (; i + 4 < count; i += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), l.colours());
        l.advance();
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + count - 4), last);
}

// The last group's pixels are read before any store, so the overlapped
// pixels get their sum once.
inline void addSpan(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                    std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    Lanes l(blue, green, red, blueStep, greenStep, redStep);
    if (count < 4) {
        storeSome(dest, _mm_adds_epu8(loadSome(dest, count), l.colours()), count);
        return;
    }
    auto* lastAddress = reinterpret_cast<__m128i*>(dest + count - 4);
    const __m128i last = _mm_adds_epu8(_mm_loadu_si128(lastAddress), l.coloursAfter(count - 4));
    int i = 0;
    if (count > 16) {
        const __m128i step8 = _mm_add_epi16(l.step4, l.step4);
        __m128i a01 = l.pair01, a23 = l.pair23;
        __m128i b01 = _mm_add_epi16(a01, l.step4), b23 = _mm_add_epi16(a23, l.step4);
        for (; i + 8 < count; i += 8) {
            auto* p = reinterpret_cast<__m128i*>(dest + i);
            const __m128i first = _mm_adds_epu8(_mm_loadu_si128(p), Lanes::pack(a01, a23));
            const __m128i second = _mm_adds_epu8(_mm_loadu_si128(p + 1), Lanes::pack(b01, b23));
            _mm_storeu_si128(p, first);
            _mm_storeu_si128(p + 1, second);
            a01 = _mm_add_epi16(a01, step8);
            a23 = _mm_add_epi16(a23, step8);
            b01 = _mm_add_epi16(b01, step8);
            b23 = _mm_add_epi16(b23, step8);
        }
        l.pair01 = a01;
        l.pair23 = a23;
    }
    for (; i + 4 < count; i += 4) {
        auto* p = reinterpret_cast<__m128i*>(dest + i);
        _mm_storeu_si128(p, _mm_adds_epu8(_mm_loadu_si128(p), l.colours()));
        l.advance();
    }
    _mm_storeu_si128(lastAddress, last);
}

} // namespace span_detail
