// Both writers step the three channels (and a fourth lane that stays 0) as
// 16-bit lanes, four pixels per pass; the arithmetic is the scalar one, lane
// by lane, so the bytes are the same.
#include "engine/span.hpp"

#include <emmintrin.h>

namespace {

std::uint16_t lane(std::int32_t start)
{
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(start) >> 8);
}

struct Lanes {
    __m128i pair01;  // pixels 0 and 1: b, g, r, 0, b, g, r, 0
    __m128i pair23;  // pixels 2 and 3
    __m128i step;    // four pixels' worth of increment per lane
};

Lanes startLanes(std::uint16_t b, std::uint16_t g, std::uint16_t r, std::uint16_t db, std::uint16_t dg, std::uint16_t dr)
{
    const auto at = [&](int k, std::uint16_t c, std::uint16_t d) {
        return static_cast<short>(static_cast<std::uint16_t>(c + k * d));
    };
    Lanes l;
    l.pair01 = _mm_setr_epi16(at(0, b, db), at(0, g, dg), at(0, r, dr), 0, at(1, b, db), at(1, g, dg), at(1, r, dr), 0);
    l.pair23 = _mm_setr_epi16(at(2, b, db), at(2, g, dg), at(2, r, dr), 0, at(3, b, db), at(3, g, dg), at(3, r, dr), 0);
    const short sb = at(4, 0, db), sg = at(4, 0, dg), sr = at(4, 0, dr);
    l.step = _mm_setr_epi16(sb, sg, sr, 0, sb, sg, sr, 0);
    return l;
}

// The four pixels' colours: high byte of every lane.
__m128i colours(const Lanes& l)
{
    return _mm_packus_epi16(_mm_srli_epi16(l.pair01, 8), _mm_srli_epi16(l.pair23, 8));
}

void advance(Lanes& l)
{
    l.pair01 = _mm_add_epi16(l.pair01, l.step);
    l.pair23 = _mm_add_epi16(l.pair23, l.step);
}

std::uint32_t colourAt(std::uint16_t b, std::uint16_t g, std::uint16_t r)
{
    return static_cast<std::uint32_t>(b >> 8) | static_cast<std::uint32_t>(g >> 8) << 8 |
           static_cast<std::uint32_t>(r >> 8) << 16;
}

std::uint32_t addSaturated(std::uint32_t pixel, std::uint32_t colour)
{
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t sum = ((pixel >> shift) & 0xFF) + ((colour >> shift) & 0xFF);
        out |= (sum > 255 ? 255 : sum) << shift;
    }
    return out;
}

} // namespace

void spanGouraud(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                 std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    std::uint16_t b = lane(blue), g = lane(green), r = lane(red);
    int i = 0;
    if (count >= 4) {
        Lanes l = startLanes(b, g, r, blueStep, greenStep, redStep);
        for (; i + 4 <= count; i += 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), colours(l));
            advance(l);
        }
        b = static_cast<std::uint16_t>(b + static_cast<std::uint32_t>(i) * blueStep);
        g = static_cast<std::uint16_t>(g + static_cast<std::uint32_t>(i) * greenStep);
        r = static_cast<std::uint16_t>(r + static_cast<std::uint32_t>(i) * redStep);
    }
    for (; i < count; ++i) {
        dest[i] = colourAt(b, g, r);
        b = static_cast<std::uint16_t>(b + blueStep);
        g = static_cast<std::uint16_t>(g + greenStep);
        r = static_cast<std::uint16_t>(r + redStep);
    }
}

void spanGouraudAdditive(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                         std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    std::uint16_t b = lane(blue), g = lane(green), r = lane(red);
    int i = 0;
    if (count >= 4) {
        Lanes l = startLanes(b, g, r, blueStep, greenStep, redStep);
        for (; i + 4 <= count; i += 4) {
            __m128i* p = reinterpret_cast<__m128i*>(dest + i);
            _mm_storeu_si128(p, _mm_adds_epu8(_mm_loadu_si128(p), colours(l)));
            advance(l);
        }
        b = static_cast<std::uint16_t>(b + static_cast<std::uint32_t>(i) * blueStep);
        g = static_cast<std::uint16_t>(g + static_cast<std::uint32_t>(i) * greenStep);
        r = static_cast<std::uint16_t>(r + static_cast<std::uint32_t>(i) * redStep);
    }
    for (; i < count; ++i) {
        dest[i] = addSaturated(dest[i], colourAt(b, g, r));
        b = static_cast<std::uint16_t>(b + blueStep);
        g = static_cast<std::uint16_t>(g + greenStep);
        r = static_cast<std::uint16_t>(r + redStep);
    }
}
