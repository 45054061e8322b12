// Inline bodies of the two span writers, so that the rasteriser can run
// them without a call per row. Both step the three channels (and a fourth
// lane that stays 0) as 16-bit lanes, four pixels per register pair; each
// lane does the scalar arithmetic (wrapping 16-bit adds, high byte taken),
// so the bytes are the same as one channel at a time.
#pragma once

#include <cstdint>
#include <emmintrin.h>

namespace span_detail {

// Blue, green, red and 0 as 16-bit lanes, twice (two pixels per 64 bits).
inline __m128i lanes(std::uint32_t b, std::uint32_t g, std::uint32_t r)
{
    const std::uint64_t packed = (b & 0xFFFFu) | static_cast<std::uint64_t>(g & 0xFFFFu) << 16 |
                                 static_cast<std::uint64_t>(r & 0xFFFFu) << 32;
    return _mm_set1_epi64x(static_cast<long long>(packed));
}

// The 8.8 start values (start >> 8) of a run, as lanes.
inline __m128i startLanes(std::int32_t blue, std::int32_t green, std::int32_t red)
{
    return lanes(static_cast<std::uint32_t>(blue) >> 8, static_cast<std::uint32_t>(green) >> 8,
                 static_cast<std::uint32_t>(red) >> 8);
}

// The per-pixel increments, fixed for a whole polygon.
struct Steps {
    __m128i one;        // one pixel
    __m128i four;       // four pixels
    __m128i pixels01;   // offsets of pixels 0 and 1 from the start
    __m128i pixels23;   // offsets of pixels 2 and 3

    Steps(std::uint16_t db, std::uint16_t dg, std::uint16_t dr)
    {
        one = lanes(db, dg, dr);
        const __m128i two = _mm_add_epi16(one, one);
        four = _mm_add_epi16(two, two);
        pixels01 = _mm_slli_si128(one, 8);
        pixels23 = _mm_add_epi16(pixels01, two);
    }
};

// The four pixels' colours: the high byte of every lane.
inline __m128i pack(__m128i pair01, __m128i pair23)
{
    return _mm_packus_epi16(_mm_srli_epi16(pair01, 8), _mm_srli_epi16(pair23, 8));
}

// Colours of the four pixels from pixel k on (k steps of a lane wrap at
// 16 bits just as k single additions do).
inline __m128i coloursAt(__m128i start, const Steps& s, int k)
{
    const __m128i at = _mm_add_epi16(start, _mm_mullo_epi16(s.one, _mm_set1_epi16(static_cast<short>(k))));
    return pack(_mm_add_epi16(at, s.pixels01), _mm_add_epi16(at, s.pixels23));
}

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
// For adding, that group's pixels are read before any store, so the
// overlapped pixels get their sum once.
template <bool add>
inline void run(std::uint32_t* dest, int count, __m128i start, const Steps& s)
{
    if (count < 4) {
        const __m128i c = coloursAt(start, s, 0);
        storeSome(dest, add ? _mm_adds_epu8(loadSome(dest, count), c) : c, count);
        return;
    }
    auto* lastAddress = reinterpret_cast<__m128i*>(dest + count - 4);
    __m128i last = coloursAt(start, s, count - 4);
    if (add)
        last = _mm_adds_epu8(_mm_loadu_si128(lastAddress), last);
    __m128i pair01 = _mm_add_epi16(start, s.pixels01);
    __m128i pair23 = _mm_add_epi16(start, s.pixels23);
    int i = 0;
    if (count > 16) {
        // Long runs: two groups per pass on independent lanes.
        const __m128i eight = _mm_add_epi16(s.four, s.four);
        __m128i next01 = _mm_add_epi16(pair01, s.four), next23 = _mm_add_epi16(pair23, s.four);
        for (; i + 8 < count; i += 8) {
            auto* p = reinterpret_cast<__m128i*>(dest + i);
            __m128i first = pack(pair01, pair23), second = pack(next01, next23);
            if (add) {
                first = _mm_adds_epu8(_mm_loadu_si128(p), first);
                second = _mm_adds_epu8(_mm_loadu_si128(p + 1), second);
            }
            _mm_storeu_si128(p, first);
            _mm_storeu_si128(p + 1, second);
            pair01 = _mm_add_epi16(pair01, eight);
            pair23 = _mm_add_epi16(pair23, eight);
            next01 = _mm_add_epi16(next01, eight);
            next23 = _mm_add_epi16(next23, eight);
        }
    }
    for (; i + 4 < count; i += 4) {
        auto* p = reinterpret_cast<__m128i*>(dest + i);
        const __m128i c = pack(pair01, pair23);
        _mm_storeu_si128(p, add ? _mm_adds_epu8(_mm_loadu_si128(p), c) : c);
        pair01 = _mm_add_epi16(pair01, s.four);
        pair23 = _mm_add_epi16(pair23, s.four);
    }
    _mm_storeu_si128(lastAddress, last);
}

} // namespace span_detail
