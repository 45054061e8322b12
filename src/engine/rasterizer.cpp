#include "engine/rasterizer.hpp"

#include "engine/span_inline.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace {

// Product of two 16.16 values: 64-bit product, arithmetic shift by 16,
// kept to 32 bits as the fixed-point registers would.
std::uint32_t fixedProduct(std::int32_t a, std::int32_t b)
{
    return static_cast<std::uint32_t>((static_cast<std::int64_t>(a) * b) >> 16);
}

// num / den truncated toward zero (den > 0, |num| < 2^53), from a double
// division corrected by one step: cheaper than a 64-bit integer division.
// Worked on |num| so that the sign costs no branch.
std::int64_t truncatedQuotient(std::int64_t num, std::int64_t den)
{
    const std::int64_t magnitude = num < 0 ? -num : num;
    auto q = static_cast<std::int64_t>(static_cast<double>(magnitude) / static_cast<double>(den));
    const std::int64_t r = magnitude - q * den;
    // The rounded quotient is at most one off; corrected without branches,
    // whose outcome no predictor could guess.
    q += static_cast<std::int64_t>(r >= den) - static_cast<std::int64_t>(r < 0);
    return num < 0 ? -q : q;
}

// The 16.16 slope of the side from a to b, as an edge walking down it uses
// it: x run per row from its upper end to its lower end, truncated toward
// zero. An edge that rises less than 1/32768 of its run has a slope beyond
// 16.16; clamping it keeps x between the edge's end points on the one row
// it covers. A flat side gets 0 (never walked).
inline std::int64_t sideSlope(const RasterVertex& a, const RasterVertex& b)
{
    const std::int64_t rise = static_cast<std::int64_t>(b.y) - a.y;
    const std::int64_t run = static_cast<std::int64_t>(b.x) - a.x;
    // Walked downward: a side that rises is taken the other way round.
    // Signs and flat sides are handled with masks, not branches: which way
    // a side runs is different from one triangle to the next.
    const std::int64_t flip = rise >> 63;  // all ones when rising
    const std::int64_t dy = (rise ^ flip) - flip;
    const std::int64_t dx = (run ^ flip) - flip;
    const std::int64_t flat = static_cast<std::int64_t>(dy == 0);
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    const std::int64_t slope = std::clamp(truncatedQuotient(dx * 65536, dy + flat), -limit, limit);
    return slope & (flat - 1);
}

// The slope of every side i (from vertex i to vertex i + 1), worked out
// for all sides at once so that the divisions overlap. Triangles, nearly
// all the polygons drawn, without a loop.
void sideSlopes(const RasterVertex* v, int count, std::int64_t* slopes)
{
    if (count == 3) {
        slopes[0] = sideSlope(v[0], v[1]);
        slopes[1] = sideSlope(v[1], v[2]);
        slopes[2] = sideSlope(v[2], v[0]);
        return;
    }
    for (int i = 0; i < count; ++i)
        slopes[i] = sideSlope(v[i], v[i + 1 == count ? 0 : i + 1]);
}

// sideSlopes for a triangle whose corners all lie in 0..2^31 - 1, the
// three divisions as two packed ones. There every run and rise is a 32-bit
// value and |run| · 65536 < 2^53, so the double quotient, correctly
// rounded, never reaches the next integer away from zero: truncating it
// gives the exact truncated quotient, and its sign is that of run / rise,
// the slope of the side walked downward. Flat sides divide by 1 and are
// masked to 0. Writes slopes[0..3] (the fourth is 0).
void insideTriangleSlopes(const RasterVertex* v, std::int64_t* slopes)
{
    const __m128i runs = _mm_setr_epi32(v[1].x - v[0].x, v[2].x - v[1].x, v[0].x - v[2].x, 0);
    const __m128i rises = _mm_setr_epi32(v[1].y - v[0].y, v[2].y - v[1].y, v[0].y - v[2].y, 0);
    const __m128i flat = _mm_cmpeq_epi32(rises, _mm_setzero_si128());
    const __m128i divisors = _mm_sub_epi32(rises, flat);
    const __m128d limit = _mm_set1_pd(std::numeric_limits<std::int32_t>::max());
    const __m128d lowest = _mm_set1_pd(-std::numeric_limits<std::int32_t>::max());
    const __m128d scale = _mm_set1_pd(65536.0);
    const auto pair = [&](__m128i r, __m128i d) {
        const __m128d q = _mm_div_pd(_mm_mul_pd(_mm_cvtepi32_pd(r), scale), _mm_cvtepi32_pd(d));
        return _mm_cvttpd_epi32(_mm_max_pd(_mm_min_pd(q, limit), lowest));
    };
    const __m128i four = _mm_andnot_si128(
        flat, _mm_unpacklo_epi64(pair(runs, divisors), pair(_mm_srli_si128(runs, 8), _mm_srli_si128(divisors, 8))));
    const __m128i signs = _mm_srai_epi32(four, 31);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(slopes), _mm_unpacklo_epi32(four, signs));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(slopes + 2), _mm_unpackhi_epi32(four, signs));
}

// Four consecutive gradients of a polygon from the first one named, in one
// load: dBdx, dGdx, dRdx, dBdy or dRdx, dBdy, dGdy, dRdy.
static_assert(offsetof(RasterPolygon, dRdy) - offsetof(RasterPolygon, dBdx) == 5 * sizeof(std::int32_t));
__m128i loadGradients(const std::int32_t& first)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(&first));
}

// One polygon side walked downward from the top vertex.
struct Edge {
    const RasterVertex* vertices;
    const std::int64_t* slopes;  // of every side, from sideSlopes
    int count;
    int direction;  // -1: left edge (lower indices), +1: right edge
    int start;
    int next;
    std::int64_t x;      // 16.16 with the 0.5 bias; 64 bits so that stepping past the edge's end cannot overflow
    std::int64_t slope;

    int following(int i) const
    {
        i += direction;
        return i < 0 ? count - 1 : i == count ? 0 : i;
    }

    // Re-aims the edge when the row has reached its next vertex (or when it
    // has never been aimed); otherwise x keeps its value.
    void update(std::int64_t y, bool first)
    {
        if (!first && y < vertices[next].y)
            return;
        for (int guard = 0; y >= vertices[next].y && guard < count; ++guard) {
            start = next;
            next = following(next);
        }
        const RasterVertex& s = vertices[start];
        const RasterVertex& n = vertices[next];
        const std::int64_t dy = static_cast<std::int64_t>(n.y) - s.y;
        if (dy <= 0) {  // only for input that is not a convex polygon
            slope = 0;
            x = static_cast<std::int64_t>(s.x) + 0x8000;
            return;
        }
        // The side from start to next is side start walking right, side next
        // walking left.
        slope = slopes[direction > 0 ? start : next];
        x = static_cast<std::int64_t>(s.x) + 0x8000 + ((slope * (y - s.y)) >> 16);
    }
};

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

// The first row whose centre lies at or below the top vertex, and each
// channel's value on that row at the centre of column 0 with the rounding
// bias. A run's start value at the centre of pixel x0 is
// rowValue + (gradient·off >> 16) + 0x8000 with off = x0·65536 + (0x8000 - top.x),
// that is rowValue + gradient·x0 + (gradient·(0x8000 - top.x) >> 16) + 0x8000;
// the fills add gradient·x0 per run and the row step per row.
struct ScanStart {
    std::int64_t y;
    std::uint32_t blue, green, red;
};

ScanStart scanStart(const RasterPolygon& polygon, const RasterVertex& top)
{
    const std::int64_t y = ((static_cast<std::int64_t>(top.y) + 0x7FFF) & ~std::int64_t{0xFFFF}) + 0x8000;
    const auto dyTop = static_cast<std::int32_t>(y - top.y);
    const std::int64_t toColumn0 = 0x8000 - static_cast<std::int64_t>(top.x);
    const auto atColumn0 = [&](std::int32_t value, std::int32_t dy, std::int32_t dx) {
        return static_cast<std::uint32_t>(value) + fixedProduct(dy, dyTop) +
               static_cast<std::uint32_t>((dx * toColumn0) >> 16) + 0x8000u;
    };
    return {y, atColumn0(top.blue, polygon.dBdy, polygon.dBdx), atColumn0(top.green, polygon.dGdy, polygon.dGdx),
            atColumn0(top.red, polygon.dRdy, polygon.dRdx)};
}

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

void rasterizePolygon(const RasterPolygon& polygon, int count, std::uint32_t* pixels, int pitch, int width, int height)
{
    if (count < 3 || count > rasterCapacity)
        return;
    // The engine's own writers run inline; any other goes through its pointer.
    const bool own = polygon.spanWriter == spanGouraud || polygon.spanWriter == spanGouraudAdditive;
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
    const ScanStart start0 = scanStart(polygon, polygon.vertices[e.top]);
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

// The fill for a polygon wholly inside the image, with the engine's own
// writers: the same edges, rows and runs as fill, without the checks
// against the image. Each row's start lanes are worked out from 32-bit
// lanes held shifted left by 8, whose high halves are the 8.8 values, so
// that the product with x0 (0..32767) is one multiply-add of its low half
// and one 16-bit multiply of its high half.
template <bool add>
void fillInside(const RasterPolygon& polygon, int count, const YExtremes& e, std::uint32_t* pixels, int pitch,
                int width)
{
    const std::int64_t bottomY = polygon.vertices[e.bottom].y;
    const ScanStart start0 = scanStart(polygon, polygon.vertices[e.top]);
    std::int64_t y = start0.y;
    const auto shifted = [](std::uint32_t v) { return static_cast<int>(v << 8); };
    __m128i rowStart = _mm_setr_epi32(shifted(start0.blue), shifted(start0.green), shifted(start0.red), 0);
    // The x and y gradients as lanes blue, green, red, 0, loaded at once.
    const __m128i dx = _mm_srli_si128(_mm_slli_si128(loadGradients(polygon.dBdx), 4), 4);
    const __m128i dy = _mm_srli_si128(loadGradients(polygon.dRdx), 4);
    const __m128i rowStep = _mm_slli_epi32(dy, 8);
    // gradient << 8 = high·65536 + low with low as a signed 16-bit value
    // (high takes the borrow), each multiplied by x0 in its own half.
    const __m128i gradient = _mm_slli_epi32(dx, 8);
    const __m128i lowMask = _mm_set1_epi32(0xFFFF);
    const __m128i lowHalf = _mm_and_si128(gradient, lowMask);
    const __m128i highHalf = _mm_andnot_si128(lowMask, _mm_sub_epi32(gradient, _mm_srai_epi32(_mm_slli_epi32(lowHalf, 16), 16)));
    // The 8.8 steps (gradient >> 8, kept to 16 bits) as the 16-bit lanes of one pixel.
    const __m128i steps8 = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(dx, 8), 16), 16);
    const span_detail::Steps steps(_mm_packs_epi32(steps8, steps8));

    auto* row = reinterpret_cast<std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(y >> 16) * pitch;
    // The rows from y up to end (at least one), with the edges' x at 16.16
    // plus the 0.5 bias.
    const auto rows = [&](std::int64_t end, std::int64_t& leftX, std::int64_t leftSlope, std::int64_t& rightX,
                          std::int64_t rightSlope) {
        do {
            const auto x0 = static_cast<int>(leftX >> 16);
            const auto n = static_cast<int>(rightX >> 16) - x0;
            leftX += leftSlope;
            rightX += rightSlope;
            const __m128i xs = _mm_set1_epi16(static_cast<short>(x0));
            const __m128i start = _mm_add_epi32(
                rowStart, _mm_add_epi32(_mm_madd_epi16(lowHalf, xs), _mm_mullo_epi16(highHalf, xs)));
            const __m128i value = _mm_srai_epi32(start, 16);
            auto* dest = reinterpret_cast<std::uint32_t*>(row) + x0;
            // Short runs (most of them, on small triangles) as eight pixels
            // where the row has room for eight. An empty row (x0 still
            // lies between the edge's ends, inside the row) goes the same
            // way with no pixel changed: a branch on it would be guessed
            // wrong too often.
            if (n <= 8 && x0 <= width - 8)
                span_detail::runOfEight<add>(dest, n, _mm_packs_epi32(value, value), steps);
            else if (n > 0)
                span_detail::run<add>(dest, n, _mm_packs_epi32(value, value), steps);
            y += 0x10000;
            row += pitch;
            rowStart = _mm_add_epi32(rowStart, rowStep);
        } while (y < end);
    };

    std::int64_t slopes[rasterCapacity];
    const RasterVertex* v = polygon.vertices;
    if (count == 3) {
        // The edges of the general walk, worked out for three corners: from
        // the top t the left edge runs to b = t + 2 and then on to a = t + 1,
        // the right edge to a and then on to b. Whichever of a and b lies
        // higher is reached first (at or above the first row centre, at
        // once), and the other one is the bottom.
        if (y >= bottomY)
            return;
        insideTriangleSlopes(v, slopes);
        const int t = e.top, a = t == 2 ? 0 : t + 1, b = t == 0 ? 2 : t - 1;
        const auto x = [&](int from, std::int64_t slope) {
            return static_cast<std::int64_t>(v[from].x) + 0x8000 + ((slope * (y - v[from].y)) >> 16);
        };
        const bool leftAtTop = y < v[b].y, rightAtTop = y < v[a].y;
        std::int64_t leftSlope = leftAtTop ? slopes[b] : slopes[a];
        std::int64_t rightSlope = rightAtTop ? slopes[t] : slopes[a];
        std::int64_t leftX = x(leftAtTop ? t : b, leftSlope);
        std::int64_t rightX = x(rightAtTop ? t : a, rightSlope);
        rows(std::min<std::int64_t>(leftAtTop ? v[b].y : v[a].y, rightAtTop ? v[a].y : v[b].y), leftX, leftSlope,
             rightX, rightSlope);
        if (y >= bottomY)
            return;
        // One edge has reached the middle corner and turns toward the bottom.
        if (leftAtTop && y >= v[b].y) {
            leftSlope = slopes[a];
            leftX = x(b, leftSlope);
        }
        if (rightAtTop && y >= v[a].y) {
            rightSlope = slopes[a];
            rightX = x(a, rightSlope);
        }
        rows(bottomY, leftX, leftSlope, rightX, rightSlope);
        return;
    }
    sideSlopes(v, count, slopes);
    Edge left{v, slopes, count, -1, e.top, e.top == 0 ? count - 1 : e.top - 1, 0, 0};
    Edge right{v, slopes, count, +1, e.top, e.top == count - 1 ? 0 : e.top + 1, 0, 0};
    left.update(y, true);
    right.update(y, true);
    while (y < bottomY) {
        std::int64_t end = bottomY;
        if (v[left.next].y < end)
            end = v[left.next].y;
        if (v[right.next].y < end)
            end = v[right.next].y;
        rows(end, left.x, left.slope, right.x, right.slope);
        if (y >= bottomY)
            break;
        left.update(y, false);
        right.update(y, false);
    }
}

} // namespace
