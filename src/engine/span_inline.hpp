// Inline bodies of the two span writers, so that the rasteriser can run
// them without a call per row. Both step the three channels (and a fourth
// lane that stays 0) as 16-bit lanes, four pixels per register pair; each
// lane does the scalar arithmetic (wrapping 16-bit adds, high byte taken),
// so the bytes are the same as one channel at a time.
#pragma once

#include <cstdint>
#include "image/simd.hpp"

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

    Steps(std::uint16_t db, std::uint16_t dg, std::uint16_t dr) : Steps(lanes(db, dg, dr)) {}

    // pixel: the steps of one pixel as lanes (blue, green, red, 0, twice).
    explicit Steps(__m128i pixel)
    {
        one = pixel;
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

// Lanes of pixel k (k steps of a lane wrap at 16 bits just as k single
// additions do).
inline __m128i lanesAt(__m128i start, const Steps& s, int k)
{
    return _mm_add_epi16(start, _mm_mullo_epi16(s.one, _mm_set1_epi16(static_cast<short>(k))));
}

// The colours of the four pixels from pixel k on, whose lanes are at,
// read-added to dest + k when adding; stored later, so that overlapping
// groups all read first.
template <bool add>
inline __m128i groupAt(const std::uint32_t* dest, __m128i at, const Steps& s, int k)
{
    const __m128i c = pack(_mm_add_epi16(at, s.pixels01), _mm_add_epi16(at, s.pixels23));
    return add ? _mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dest + k)), c) : c;
}

inline void storeGroup(std::uint32_t* dest, int k, __m128i c)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + k), c);
}

// Runs of four or more are covered by groups of four that may overlap
// instead of a tail loop: up to sixteen pixels by a fixed number of groups,
// longer runs by a loop of eight and a last eight ending on the last pixel.
// For adding, every pixel a later group overlaps is read before any store,
// so that it gets its sum once. The branches depend only on the size class
// of the run, which neighbouring rows of a polygon mostly share.
template <bool add>
inline void run(std::uint32_t* dest, int count, __m128i start, const Steps& s)
{
    if (count < 4) {
        const __m128i c = groupAt<false>(dest, start, s, 0);
        storeSome(dest, add ? _mm_adds_epu8(loadSome(dest, count), c) : c, count);
        return;
    }
    if (count <= 8) {
        const __m128i first = groupAt<add>(dest, start, s, 0);
        const __m128i last = groupAt<add>(dest, lanesAt(start, s, count - 4), s, count - 4);
        storeGroup(dest, 0, first);
        storeGroup(dest, count - 4, last);
        return;
    }
    const __m128i at8 = lanesAt(start, s, count - 8);
    const __m128i tail0 = groupAt<add>(dest, at8, s, count - 8);
    const __m128i tail1 = groupAt<add>(dest, _mm_add_epi16(at8, s.four), s, count - 4);
    if (count <= 16) {
        const __m128i head0 = groupAt<add>(dest, start, s, 0);
        const __m128i head1 = groupAt<add>(dest, _mm_add_epi16(start, s.four), s, 4);
        storeGroup(dest, 0, head0);
        storeGroup(dest, 4, head1);
        storeGroup(dest, count - 8, tail0);
        storeGroup(dest, count - 4, tail1);
        return;
    }
    // Long runs: two groups per pass on independent lanes.
    const __m128i eight = _mm_add_epi16(s.four, s.four);
    __m128i pair01 = _mm_add_epi16(start, s.pixels01);
    __m128i pair23 = _mm_add_epi16(start, s.pixels23);
    __m128i next01 = _mm_add_epi16(pair01, s.four), next23 = _mm_add_epi16(pair23, s.four);
    for (int i = 0; i < count - 8; i += 8) {
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
    storeGroup(dest, count - 8, tail0);
    storeGroup(dest, count - 4, tail1);
}

// A run of count pixels (none when count <= 0, eight at most) written as
// eight without branching on its length: the pixels past the run are read
// and written back unchanged, so the caller must own dest[0..7]. Pixel i
// is kept where i < count, a comparison of 32-bit lanes.
template <bool add>
inline void runOfEight(std::uint32_t* dest, int count, __m128i start, const Steps& s)
{
    const __m128i n = _mm_set1_epi32(count);
    const __m128i keep0 = _mm_cmpgt_epi32(n, _mm_setr_epi32(0, 1, 2, 3));
    const __m128i keep1 = _mm_cmpgt_epi32(n, _mm_setr_epi32(4, 5, 6, 7));
    auto* p = reinterpret_cast<__m128i*>(dest);
    const __m128i c0 = _mm_and_si128(pack(_mm_add_epi16(start, s.pixels01), _mm_add_epi16(start, s.pixels23)), keep0);
    const __m128i at4 = _mm_add_epi16(start, s.four);
    const __m128i c1 = _mm_and_si128(pack(_mm_add_epi16(at4, s.pixels01), _mm_add_epi16(at4, s.pixels23)), keep1);
    const __m128i old0 = _mm_loadu_si128(p), old1 = _mm_loadu_si128(p + 1);
    _mm_storeu_si128(p, add ? _mm_adds_epu8(old0, c0) : _mm_or_si128(c0, _mm_andnot_si128(keep0, old0)));
    _mm_storeu_si128(p + 1, add ? _mm_adds_epu8(old1, c1) : _mm_or_si128(c1, _mm_andnot_si128(keep1, old1)));
}

} // namespace span_detail
