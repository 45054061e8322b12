#include "engine/rasterizer.hpp"

#include "engine/fill_inside.hpp"
#include "engine/wide_fill.hpp"
#include "image/wide.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstddef>
#include <limits>

namespace {

// start: each channel's 16.16 start value (bias included) as 32-bit lanes
// blue, green, red, 0; skip: steps to take before the first pixel.
template <bool add>
struct InlineRun {
    void operator()(std::uint32_t* dest, int count, __m128i start, int skip, const span_detail::Steps& steps) const
    {
        // Bits 8..23 of each lane are its 8.8 value; packed twice to 16-bit lanes.
        const __m128i value = _mm_srai_epi32(_mm_slli_epi32(start, 8), 16);
        __m128i lanes = _mm_packs_epi32(value, value);
        if (skip)
            lanes = _mm_add_epi16(lanes, _mm_mullo_epi16(steps.one, _mm_set1_epi16(static_cast<short>(skip))));
        span_detail::run<add>(dest, count, lanes, steps);
    }
};

struct CalledRun {
    SpanWriter writer;
    void operator()(std::uint32_t* dest, int count, __m128i start, int skip, const span_detail::Steps& steps) const
    {
        alignas(16) std::uint32_t values[4];
        alignas(16) std::uint16_t step[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(values), start);
        _mm_store_si128(reinterpret_cast<__m128i*>(step), steps.one);
        for (int k = 0; k < 3; ++k)
            values[k] += (static_cast<std::uint32_t>(skip) * step[k]) << 8;
        writer(dest, count, static_cast<std::int32_t>(values[0]), static_cast<std::int32_t>(values[1]),
               static_cast<std::int32_t>(values[2]), step[0], step[1], step[2]);
    }
};

template <typename Run>
void fill(const RasterPolygon& polygon, int count, std::uint32_t* pixels, int pitch, int width, int height, Run run);

template <bool add>
void fillInside(const RasterPolygon& polygon, int count, const YExtremes& e, std::uint32_t* pixels, int pitch,
                int width);

// True when every row and run of the polygon lies inside width x height, so
// that no row needs to be checked: an edge's x stays between its end points
// (its slope is truncated toward zero) plus the 0.5 bias, so x >= 0 keeps
// every run's first pixel at 0 or more, and x <= width keeps its end at
// width or less; rows run from the first centre at or below top.y to the
// last centre above bottom.y. Columns must fit a signed 16-bit value.
bool whollyInside(const RasterPolygon& polygon, int count, const YExtremes& e, int width, int height)
{
    if (width > 32767 || polygon.vertices[e.top].y < 0 ||
        polygon.vertices[e.bottom].y > static_cast<std::int64_t>(height) * 65536)
        return false;
    const std::int64_t right = static_cast<std::int64_t>(width) * 65536;
    for (int i = 0; i < count; ++i)
        if (polygon.vertices[i].x < 0 || polygon.vertices[i].x > right)
            return false;
    return true;
}

} // namespace

YExtremes findYExtremes(const RasterPolygon& polygon, int count)
{
    YExtremes e{0, 0};
    for (int i = 1; i < count; ++i) {
        if (polygon.vertices[i].y < polygon.vertices[e.top].y)
            e.top = i;
        if (polygon.vertices[i].y > polygon.vertices[e.bottom].y)
            e.bottom = i;
    }
    return e;
}

namespace {

// The 16-byte span writers for the fill of a polygon wholly inside the image.
struct NarrowSpans {
    using Lanes = __m128i;
    span_detail::Steps steps;
    // The x gradients << 8 split as high·65536 + low, low a signed 16-bit
    // value (high takes the borrow), each multiplied by x0 in its own half:
    // one multiply-add and one 16-bit multiply.
    __m128i lowHalf, highHalf;

    explicit NarrowSpans(const std::int32_t* gradients) : steps(pixelSteps(gradients))
    {
        const __m128i gradient = _mm_slli_epi32(xGradients(gradients), 8);
        const __m128i lowMask = _mm_set1_epi32(0xFFFF);
        lowHalf = _mm_and_si128(gradient, lowMask);
        highHalf =
            _mm_andnot_si128(lowMask, _mm_sub_epi32(gradient, _mm_srai_epi32(_mm_slli_epi32(lowHalf, 16), 16)));
    }
    static __m128i lanes(__m128i v)
    {
        return v;
    }
    static __m128i add(__m128i a, __m128i b)
    {
        return _mm_add_epi32(a, b);
    }
    // A run's start at x0 (0..32767): the 8.8 values as 16-bit lanes, twice.
    __m128i startAt(__m128i lineStart, int x0) const
    {
        const __m128i xs = _mm_set1_epi16(static_cast<short>(x0));
        const __m128i start =
            _mm_add_epi32(lineStart, _mm_add_epi32(_mm_madd_epi16(lowHalf, xs), _mm_mullo_epi16(highHalf, xs)));
        const __m128i value = _mm_srai_epi32(start, 16);
        return _mm_packs_epi32(value, value);
    }
    template <bool add>
    void eight(std::uint32_t* dest, int n, __m128i start) const
    {
        span_detail::runOfEight<add>(dest, n, start, steps);
    }
    template <bool add>
    void sixteen(std::uint32_t* dest, int n, __m128i start) const
    {
        span_detail::run<add>(dest, n, start, steps);
    }
    template <bool add>
    void any(std::uint32_t* dest, int n, __m128i start) const
    {
        span_detail::run<add>(dest, n, start, steps);
    }
};

// findYExtremes of a triangle, without branches: which corner is highest
// changes from one triangle to the next, and no predictor could guess it.
YExtremes triangleExtremes(const RasterVertex* v)
{
    const std::int32_t y0 = v[0].y, y1 = v[1].y, y2 = v[2].y;
    const int top1 = y1 < y0 ? 1 : 0;
    const int bottom1 = y1 > y0 ? 1 : 0;
    return {y2 < (top1 ? y1 : y0) ? 2 : top1, y2 > (bottom1 ? y1 : y0) ? 2 : bottom1};
}

// whollyInside for a triangle: a negative coordinate shows in the sign of
// the six ORed together.
bool triangleInside(const RasterVertex* v, int width, int height)
{
    if ((v[0].x | v[1].x | v[2].x | v[0].y | v[1].y | v[2].y) < 0 || width > 32767)
        return false;
    const std::int32_t right = std::max(v[0].x, std::max(v[1].x, v[2].x));
    const std::int32_t bottom = std::max(v[0].y, std::max(v[1].y, v[2].y));
    return right <= static_cast<std::int64_t>(width) * 65536 && bottom <= static_cast<std::int64_t>(height) * 65536;
}

} // namespace

void rasterizePolygon(const RasterPolygon& polygon, int count, std::uint32_t* pixels, int pitch, int width, int height)
{
    if (count < 3 || count > rasterCapacity)
        return;
    // The engine's own writers run inline; any other goes through its pointer.
    const bool own = polygon.spanWriter == spanGouraud || polygon.spanWriter == spanGouraudAdditive;
    // Nearly every triangle a mesh draws lies inside the image.
    if (own && count == 3 && triangleInside(polygon.vertices, width, height)) {
        const YExtremes e = triangleExtremes(polygon.vertices);
        const bool add = polygon.spanWriter == spanGouraudAdditive;
        if (wideVectors())
            wide::fillInsideTriangle(polygon, e, pixels, pitch, width, add);
        else if (add)
            fillInsideTriangle<true, NarrowSpans>(polygon, e, pixels, pitch, width);
        else
            fillInsideTriangle<false, NarrowSpans>(polygon, e, pixels, pitch, width);
        return;
    }
    if (own) {
        const YExtremes e = findYExtremes(polygon, count);
        if (whollyInside(polygon, count, e, width, height)) {
            if (polygon.spanWriter == spanGouraud)
                fillInside<false>(polygon, count, e, pixels, pitch, width);
            else
                fillInside<true>(polygon, count, e, pixels, pitch, width);
            return;
        }
    }
    if (polygon.spanWriter == spanGouraud)
        fill(polygon, count, pixels, pitch, width, height, InlineRun<false>{});
    else if (polygon.spanWriter == spanGouraudAdditive)
        fill(polygon, count, pixels, pitch, width, height, InlineRun<true>{});
    else
        fill(polygon, count, pixels, pitch, width, height, CalledRun{polygon.spanWriter});
}

namespace {

// x·v per 32-bit lane, modulo 2^32 (SSE2 multiplies only lanes 0 and 2).
__m128i multiplyLanes(__m128i v, __m128i vOdd, std::int32_t x)
{
    const __m128i xs = _mm_set1_epi32(x);
    const __m128i even = _mm_mul_epu32(v, xs);
    const __m128i odd = _mm_mul_epu32(vOdd, xs);
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

template <typename Run>
void fill(const RasterPolygon& polygon, int count, std::uint32_t* pixels, int pitch, int width, int height, Run run)
{
    const YExtremes e = findYExtremes(polygon, count);
    const std::int64_t bottomY = polygon.vertices[e.bottom].y;
    const ScanStart start0 = scanStart(&polygon.dBdx, polygon.vertices[e.top]);
    std::int64_t y = start0.y;
    __m128i rowStart = _mm_setr_epi32(static_cast<int>(start0.blue), static_cast<int>(start0.green),
                                      static_cast<int>(start0.red), 0);
    const __m128i rowStep = _mm_setr_epi32(polygon.dBdy, polygon.dGdy, polygon.dRdy, 0);
    const __m128i gradient = _mm_setr_epi32(polygon.dBdx, polygon.dGdx, polygon.dRdx, 0);
    const __m128i gradientOdd = _mm_srli_epi64(gradient, 32);
    const span_detail::Steps steps(static_cast<std::uint16_t>(polygon.dBdx >> 8),
                                   static_cast<std::uint16_t>(polygon.dGdx >> 8),
                                   static_cast<std::uint16_t>(polygon.dRdx >> 8));

    std::int64_t slopes[rasterCapacity];
    sideSlopes(polygon.vertices, count, slopes);
    Edge left{polygon.vertices, slopes, count, -1, e.top, e.top == 0 ? count - 1 : e.top - 1, 0, 0};
    Edge right{polygon.vertices, slopes, count, +1, e.top, e.top == count - 1 ? 0 : e.top + 1, 0, 0};
    left.update(y, true);
    right.update(y, true);
    // Rows run in stretches over which neither edge reaches its next vertex,
    // so the edges are only looked at again where one of them turns.
    const std::int64_t lastRow = height;
    while (y < bottomY) {
        std::int64_t end = bottomY;
        if (polygon.vertices[left.next].y < end)
            end = polygon.vertices[left.next].y;
        if (polygon.vertices[right.next].y < end)
            end = polygon.vertices[right.next].y;
        do {
            const std::int64_t row = y >> 16;
            if (row >= lastRow)
                return;
            std::int64_t x0 = left.x >> 16;
            std::int64_t x1 = right.x >> 16;
            left.x += left.slope;
            right.x += right.slope;
            if (x0 < x1 && row >= 0) {
                const __m128i start =
                    _mm_add_epi32(rowStart, multiplyLanes(gradient, gradientOdd, static_cast<std::int32_t>(x0)));
                // Pixels left of the image are skipped by stepping the lanes over
                // them, so the pixels drawn get the bytes of the full run.
                int skip = 0;
                if (x0 < 0) {
                    skip = static_cast<int>(-x0);
                    x0 = 0;
                }
                if (x1 > width)
                    x1 = width;
                if (x0 < x1) {
                    auto* line = reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(pixels) +
                                                                  static_cast<std::ptrdiff_t>(row) * pitch);
                    run(line + x0, static_cast<int>(x1 - x0), start, skip, steps);
                }
            }
            y += 0x10000;
            rowStart = _mm_add_epi32(rowStart, rowStep);
        } while (y < end);
        if (y >= bottomY)
            break;
        left.update(y, false);
        right.update(y, false);
    }
}


// A polygon of more than three corners wholly inside the image, with the
// engine's own writers (triangles go straight to fillInsideTriangle).
template <bool add>
void fillInside(const RasterPolygon& polygon, int count, const YExtremes& e, std::uint32_t* pixels, int pitch,
                int width)
{
    if (wideVectors())
        wide::fillInsidePolygon(polygon, count, e, pixels, pitch, width, add);
    else
        fillInsidePolygon<add, NarrowSpans>(polygon, count, e, pixels, pitch, width);
}

} // namespace

#if !defined(MORVANE_WIDE_VECTORS)
// Never called: wideVectors() is false where the AVX2 build is not made.
void wide::fillInsideTriangle(const RasterPolygon&, const YExtremes&, std::uint32_t*, int, int, bool)
{
    std::abort();
}
void wide::fillTriangles(const RasterTriangle*, int, std::uint32_t*, int, int, int, bool)
{
    std::abort();
}
unsigned wide::walkRows(const TriangleRows&, int, int, WalkedFour&)
{
    std::abort();
}
void wide::fillWalked(const WalkedFour&, int, std::uint32_t*, int, int, bool)
{
    std::abort();
}
void wide::fillInsidePolygon(const RasterPolygon&, int, const YExtremes&, std::uint32_t*, int, int, bool)
{
    std::abort();
}
#endif
