// The fill of triangles wholly inside the image, compiled with -mavx2 on
// x86-64 only: the row loop of fill_inside.hpp with spans written eight
// pixels to a 32-byte register, and the walks of four triangles worked out
// at once. Pixel i of a run is still the high byte of start + i x step in
// wrapping 16-bit lanes, so the bytes are those of the 16-byte spans.
#include "engine/fill_inside.hpp"
#include "engine/wide_fill.hpp"

#include <immintrin.h>

namespace {

struct WideSpans {
    using Lanes = __m256i;      // the row's lanes, in both halves
    __m256i gradient;           // the x gradients << 8 as lanes blue, green, red, 0, twice
    __m256i one;                // one pixel's steps, in all four pixel lanes
    __m256i a, b;               // offsets of pixels 0, 1, 4, 5 and 2, 3, 6, 7
    __m256i byEight;            // eight pixels' steps

    explicit WideSpans(const std::int32_t* gradients)
        : gradient(_mm256_broadcastsi128_si256(_mm_slli_epi32(xGradients(gradients), 8))),
          one(_mm256_broadcastsi128_si256(pixelSteps(gradients))),
          a(_mm256_mullo_epi16(one, _mm256_setr_epi16(0, 0, 0, 0, 1, 1, 1, 1, 4, 4, 4, 4, 5, 5, 5, 5))),
          b(_mm256_mullo_epi16(one, _mm256_setr_epi16(2, 2, 2, 2, 3, 3, 3, 3, 6, 6, 6, 6, 7, 7, 7, 7))),
          byEight(_mm256_slli_epi16(one, 3))
    {
    }

    static __m256i lanes(__m128i v)
    {
        return _mm256_broadcastsi128_si256(v);
    }
    static __m256i add(__m256i a, __m256i b)
    {
        return _mm256_add_epi32(a, b);
    }

    // A run's start at x0: lineStart + gradient·x0 in wrapping 32-bit
    // lanes, the bits the 16-byte split multiply gives, and the high
    // halves (the 8.8 values, which the 16-byte form's shift and signed
    // pack keep unchanged) as the 16-bit lanes of one pixel, four times.
    __m256i startAt(__m256i lineStart, int x0) const
    {
        const __m256i start = _mm256_add_epi32(lineStart, _mm256_mullo_epi32(gradient, _mm256_set1_epi32(x0)));
        const __m256i highHalves = _mm256_setr_epi8(2, 3, 6, 7, 10, 11, -1, -1, 2, 3, 6, 7, 10, 11, -1, -1, 2, 3, 6, 7,
                                                    10, 11, -1, -1, 2, 3, 6, 7, 10, 11, -1, -1);
        return _mm256_shuffle_epi8(start, highHalves);
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
    void eight(std::uint32_t* dest, int n, __m256i start) const
    {
        const __m256i c = group(start);
        const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        auto* p = reinterpret_cast<__m256i*>(dest);
        const __m256i old = _mm256_loadu_si256(p);
        _mm256_storeu_si256(p, add ? _mm256_adds_epu8(old, _mm256_and_si256(c, keep)) : _mm256_blendv_epi8(old, c, keep));
    }

    // A run of nine to sixteen pixels as two groups of eight, the second
    // masked by lane (the caller owns dest[0..15]): no loop, no tail.
    template <bool add>
    void sixteen(std::uint32_t* dest, int n, __m256i s) const
    {
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
    void any(std::uint32_t* dest, int n, __m256i s) const
    {
        if (n <= 8) {
            // A short run at the right edge, rare: its steps are worked out here.
            span_detail::run<add>(dest, n, _mm256_castsi256_si128(s), span_detail::Steps(_mm256_castsi256_si128(one)));
            return;
        }
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

// Four triangles' fields at ints at .. at + 3 of their records, one field
// per register, one triangle per lane.
struct Fields {
    __m128i f[4];
};

Fields fieldsOfFour(const RasterTriangle* const t[4], int at)
{
    const auto load = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(&t[k]->vertices[0].x + at)); };
    const __m128i p0 = load(0), p1 = load(1), p2 = load(2), p3 = load(3);
    const __m128i l01 = _mm_unpacklo_epi32(p0, p1), l23 = _mm_unpacklo_epi32(p2, p3);
    const __m128i h01 = _mm_unpackhi_epi32(p0, p1), h23 = _mm_unpackhi_epi32(p2, p3);
    return {{_mm_unpacklo_epi64(l01, l23), _mm_unpackhi_epi64(l01, l23), _mm_unpacklo_epi64(h01, h23),
             _mm_unpackhi_epi64(h01, h23)}};
}

// a >> 16 of 64-bit lanes, arithmetic: the sign bit flipped makes it a
// logical shift of a + 2^63, and 2^63 >> 16 = 2^47 is taken off again.
__m256i shiftedDown16(__m256i a)
{
    const __m256i sign = _mm256_set1_epi64x(std::numeric_limits<std::int64_t>::min());
    return _mm256_sub_epi64(_mm256_srli_epi64(_mm256_xor_si256(a, sign), 16), _mm256_set1_epi64x(std::int64_t{1} << 47));
}

// a·b >> 16 as 64-bit lanes, from four 32-bit values each.
__m256i productShifted(__m128i a, __m128i b)
{
    return shiftedDown16(_mm256_mul_epi32(_mm256_cvtepi32_epi64(a), _mm256_cvtepi32_epi64(b)));
}

// The low 32 bits of four 64-bit lanes.
__m128i low32(__m256i a)
{
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}

// Four triangle records (t[k] may repeat) as rows.
TriangleRows rowsOf(const RasterTriangle* const t[4])
{
    // Ints 0..19 of the records: x, y, blue, green, red of each corner, then dBdx .. dGdy; and dRdy.
    const Fields f0 = fieldsOfFour(t, 0), f1 = fieldsOfFour(t, 4), f2 = fieldsOfFour(t, 8);
    const Fields f3 = fieldsOfFour(t, 12), f4 = fieldsOfFour(t, 16);
    return {{f0.f[0], f1.f[1], f2.f[2]},
            {f0.f[1], f1.f[2], f2.f[3]},
            {f0.f[2], f1.f[3], f3.f[0]},
            {f0.f[3], f2.f[0], f3.f[1]},
            {f1.f[0], f2.f[1], f3.f[2]},
            f3.f[3],
            f4.f[0],
            f4.f[1],
            f4.f[2],
            f4.f[3],
            _mm_setr_epi32(t[0]->dRdy, t[1]->dRdy, t[2]->dRdy, t[3]->dRdy)};
}

// walkTriangle for the four triangles of rows at once, with the same
// arithmetic lane by lane, and each one's steps laid out for the fill;
// returns the mask of those wholly inside the image, the only ones whose
// walks hold (width and height at most 32767).
unsigned walkFour(const TriangleRows& rows, int width, int height, WalkedFour& four)
{
    TriangleWalks& w = four.walks;
    const __m128i *x = rows.x, *y = rows.y, *blue = rows.blue, *green = rows.green, *red = rows.red;
    const __m128i dBdx = rows.dBdx, dGdx = rows.dGdx, dRdx = rows.dRdx, dBdy = rows.dBdy, dGdy = rows.dGdy;
    const __m128i dRdy = rows.dRdy;
    {
        __m128 s0 = _mm_castsi128_ps(dBdx), s1 = _mm_castsi128_ps(dGdx), s2 = _mm_castsi128_ps(dRdx),
               s3 = _mm_castsi128_ps(dBdy);
        __m128 s4 = _mm_castsi128_ps(dGdy), s5 = _mm_castsi128_ps(dRdy), s6 = _mm_setzero_ps(), s7 = _mm_setzero_ps();
        _MM_TRANSPOSE4_PS(s0, s1, s2, s3);
        _MM_TRANSPOSE4_PS(s4, s5, s6, s7);
        const __m128 low[4] = {s0, s1, s2, s3}, high[4] = {s4, s5, s6, s7};
        for (int k = 0; k < 4; ++k) {
            _mm_store_ps(reinterpret_cast<float*>(four.steps[k]), low[k]);
            _mm_store_ps(reinterpret_cast<float*>(four.steps[k] + 4), high[k]);
        }
    }

    // Wholly inside: no coordinate negative, none past the right or bottom edge.
    const __m128i signs = _mm_or_si128(_mm_or_si128(_mm_or_si128(x[0], x[1]), _mm_or_si128(x[2], y[0])),
                                       _mm_or_si128(y[1], y[2]));
    const __m128i right = _mm_max_epi32(x[0], _mm_max_epi32(x[1], x[2]));
    const __m128i bottomY = _mm_max_epi32(y[0], _mm_max_epi32(y[1], y[2]));
    const __m128i outside = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi32(signs, _mm_setzero_si128()),
                                                      _mm_cmpgt_epi32(right, _mm_set1_epi32(width * 65536))),
                                         _mm_cmpgt_epi32(bottomY, _mm_set1_epi32(height * 65536)));

    // The corners turned so that the top one (the first with the smallest
    // y) comes first: T = v[t], A = v[t + 1], B = v[t + 2].
    const __m128i second = _mm_cmpgt_epi32(y[0], y[1]);
    const __m128i third = _mm_cmpgt_epi32(_mm_blendv_epi8(y[0], y[1], second), y[2]);
    const auto pick = [&](const __m128i* v, int k) {
        return _mm_blendv_epi8(_mm_blendv_epi8(v[k], v[(k + 1) % 3], second), v[(k + 2) % 3], third);
    };
    const __m128i tx = pick(x, 0), ty = pick(y, 0), ax = pick(x, 1), ay = pick(y, 1), bx = pick(x, 2), by = pick(y, 2);

    // The first row centre and the channels there at column 0.
    const __m128i firstY =
        _mm_add_epi32(_mm_and_si128(_mm_add_epi32(ty, _mm_set1_epi32(0x7FFF)), _mm_set1_epi32(~0xFFFF)),
                      _mm_set1_epi32(0x8000));
    const __m128i dyTop = _mm_sub_epi32(firstY, ty), toColumn0 = _mm_sub_epi32(_mm_set1_epi32(0x8000), tx);
    const auto atColumn0 = [&](const __m128i* value, __m128i dy, __m128i dx) {
        return _mm_add_epi32(_mm_add_epi32(pick(value, 0), low32(productShifted(dy, dyTop))),
                             _mm_add_epi32(low32(productShifted(dx, toColumn0)), _mm_set1_epi32(0x8000)));
    };
    _mm_store_si128(reinterpret_cast<__m128i*>(w.blue), atColumn0(blue, dBdy, dBdx));
    _mm_store_si128(reinterpret_cast<__m128i*>(w.green), atColumn0(green, dGdy, dGdx));
    _mm_store_si128(reinterpret_cast<__m128i*>(w.red), atColumn0(red, dRdy, dRdx));
    _mm256_store_si256(reinterpret_cast<__m256i*>(w.y), _mm256_cvtepi32_epi64(firstY));

    // The sides' slopes, as insideTriangleSlopes works them out.
    const __m256d limit = _mm256_set1_pd(std::numeric_limits<std::int32_t>::max());
    const __m256d lowest = _mm256_set1_pd(-std::numeric_limits<std::int32_t>::max());
    const auto slope = [&](__m128i fromX, __m128i fromY, __m128i toX, __m128i toY) {
        const __m128i rise = _mm_sub_epi32(toY, fromY);
        const __m128i flat = _mm_cmpeq_epi32(rise, _mm_setzero_si128());
        const __m256d q = _mm256_div_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(toX, fromX)), _mm256_set1_pd(65536.0)),
                                        _mm256_cvtepi32_pd(_mm_sub_epi32(rise, flat)));
        return _mm_andnot_si128(flat, _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(q, limit), lowest)));
    };
    const __m128i slopeT = slope(tx, ty, ax, ay), slopeA = slope(ax, ay, bx, by), slopeB = slope(bx, by, tx, ty);

    const __m128i leftAtTop = _mm_cmpgt_epi32(by, firstY), rightAtTop = _mm_cmpgt_epi32(ay, firstY);
    const __m128i leftSlope = _mm_blendv_epi8(slopeA, slopeB, leftAtTop);
    const __m128i rightSlope = _mm_blendv_epi8(slopeA, slopeT, rightAtTop);
    _mm_store_si128(reinterpret_cast<__m128i*>(w.leftSlope), leftSlope);
    _mm_store_si128(reinterpret_cast<__m128i*>(w.rightSlope), rightSlope);
    _mm_store_si128(reinterpret_cast<__m128i*>(w.turnSlope), slopeA);
    // An edge's x at row centre at, walked from the corner (fromX, fromY).
    const auto edgeX = [](__m128i fromX, __m128i fromY, __m128i slope, __m128i at) {
        return _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm_add_epi32(fromX, _mm_set1_epi32(0x8000))),
                                productShifted(slope, _mm_sub_epi32(at, fromY)));
    };
    _mm256_store_si256(reinterpret_cast<__m256i*>(w.leftX),
                       edgeX(_mm_blendv_epi8(bx, tx, leftAtTop), _mm_blendv_epi8(by, ty, leftAtTop), leftSlope, firstY));
    _mm256_store_si256(reinterpret_cast<__m256i*>(w.rightX), edgeX(_mm_blendv_epi8(ax, tx, rightAtTop),
                                                                   _mm_blendv_epi8(ay, ty, rightAtTop), rightSlope, firstY));

    const __m128i firstEnd = _mm_min_epi32(_mm_blendv_epi8(ay, by, leftAtTop), _mm_blendv_epi8(by, ay, rightAtTop));
    const auto rowsBefore = [](__m128i from, __m128i end) {
        return _mm_srai_epi32(_mm_add_epi32(_mm_sub_epi32(end, from), _mm_set1_epi32(0xFFFF)), 16);
    };
    const __m128i empty = _mm_cmpgt_epi32(bottomY, firstY);  // all ones where there is a row
    const __m128i firstRows = _mm_and_si128(rowsBefore(firstY, firstEnd), empty);
    const __m128i turnY = _mm_add_epi32(firstY, _mm_slli_epi32(firstRows, 16));
    _mm_store_si128(reinterpret_cast<__m128i*>(w.firstRows), firstRows);
    _mm_store_si128(reinterpret_cast<__m128i*>(w.lastRows),
                    _mm_and_si128(rowsBefore(turnY, bottomY), _mm_cmpgt_epi32(bottomY, turnY)));
    const __m128i turnsLeft = _mm_andnot_si128(_mm_cmpgt_epi32(by, turnY), leftAtTop);
    const __m128i turnsRight = _mm_andnot_si128(_mm_cmpgt_epi32(ay, turnY), rightAtTop);
    _mm_store_si128(reinterpret_cast<__m128i*>(w.turns),
                    _mm_or_si128(_mm_and_si128(turnsLeft, _mm_set1_epi32(1)), _mm_and_si128(turnsRight, _mm_set1_epi32(2))));
    _mm256_store_si256(reinterpret_cast<__m256i*>(w.turnedX[0]), edgeX(bx, by, slopeA, turnY));
    _mm256_store_si256(reinterpret_cast<__m256i*>(w.turnedX[1]), edgeX(ax, ay, slopeA, turnY));
    return ~static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(outside))) & 0xF;
}

template <bool add>
void fillFour(const RasterTriangle* triangles, int count, std::uint32_t* pixels, int pitch, int width, int height)
{
    const bool small = width <= 32767 && height <= 32767;
    for (int first = 0; first < count; first += 4) {
        const RasterTriangle* four[4];
        for (int k = 0; k < 4; ++k)
            four[k] = &triangles[first + k < count ? first + k : count - 1];
        WalkedFour walked;
        const unsigned inside = small ? walkFour(rowsOf(four), width, height, walked) : 0;
        for (int k = 0; k < 4 && first + k < count; ++k) {
            if (inside >> k & 1) {
                fillWalk<add, WideSpans>(walked.steps[k], walked.walks, k, pixels, pitch, width);
                continue;
            }
            RasterPolygon polygon;
            std::copy(four[k]->vertices, four[k]->vertices + 3, polygon.vertices);
            polygon.spanWriter = add ? spanGouraudAdditive : spanGouraud;
            std::copy(&four[k]->dBdx, &four[k]->dBdx + 6, &polygon.dBdx);
            rasterizePolygon(polygon, 3, pixels, pitch, width, height);
        }
    }
}

} // namespace

void wide::fillTriangles(const RasterTriangle* triangles, int count, std::uint32_t* pixels, int pitch, int width,
                         int height, bool add)
{
    if (add)
        fillFour<true>(triangles, count, pixels, pitch, width, height);
    else
        fillFour<false>(triangles, count, pixels, pitch, width, height);
}

unsigned wide::walkRows(const TriangleRows& rows, int width, int height, WalkedFour& four)
{
    return width <= 32767 && height <= 32767 ? walkFour(rows, width, height, four) : 0;
}

void wide::fillWalked(const WalkedFour& four, int k, std::uint32_t* pixels, int pitch, int width, bool add)
{
    if (add)
        fillWalk<true, WideSpans>(four.steps[k], four.walks, k, pixels, pitch, width);
    else
        fillWalk<false, WideSpans>(four.steps[k], four.walks, k, pixels, pitch, width);
}

void wide::fillInsidePolygon(const RasterPolygon& polygon, int count, const YExtremes& e, std::uint32_t* pixels,
                             int pitch, int width, bool add)
{
    if (add)
        ::fillInsidePolygon<true, WideSpans>(polygon, count, e, pixels, pitch, width);
    else
        ::fillInsidePolygon<false, WideSpans>(polygon, count, e, pixels, pitch, width);
}

void wide::fillInsideTriangle(const RasterPolygon& polygon, const YExtremes& e, std::uint32_t* pixels, int pitch,
                              int width, bool add)
{
    if (add)
        ::fillInsideTriangle<true, WideSpans>(polygon, e, pixels, pitch, width);
    else
        ::fillInsideTriangle<false, WideSpans>(polygon, e, pixels, pitch, width);
}
