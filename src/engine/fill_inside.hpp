// The fill of a polygon that lies wholly inside the image, shared by the
// rasteriser's two builds: the 16-byte one every machine runs and, on
// x86-64, the AVX2 one (rasterizer_avx2.cpp). Everything here is in an
// unnamed namespace, so that each file that includes it gets its own copy,
// compiled for its own instruction set, and no shared inline function can
// be taken from the other build by the linker. The spans are written by a
// policy class: its Lanes hold a row's channels at column 0 (lanes() makes
// them, add() steps them), its startAt() gives a run's start values from
// them, its eight() writes a run of at most eight pixels as eight, its
// sixteen() one of nine to sixteen as sixteen (the caller owns them), its
// any() a run of any length.
#pragma once

#include "engine/rasterizer.hpp"
#include "engine/span_inline.hpp"
#include "engine/wide_fill.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// Four consecutive gradients from the first one named, in one load:
// dBdx, dGdx, dRdx, dBdy or dRdx, dBdy, dGdy, dRdy. Gradients are passed
// as a pointer to dBdx, the first of the six (RasterPolygon and
// RasterTriangle hold them in the same order).
static_assert(offsetof(RasterPolygon, dRdy) - offsetof(RasterPolygon, dBdx) == 5 * sizeof(std::int32_t));
static_assert(offsetof(RasterTriangle, dRdy) - offsetof(RasterTriangle, dBdx) == 5 * sizeof(std::int32_t));
__m128i loadGradients(const std::int32_t& first)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(&first));
}

enum Gradient { dBdx, dGdx, dRdx, dBdy, dGdy, dRdy };

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

ScanStart scanStart(const std::int32_t* gradients, const RasterVertex& top)
{
    const std::int64_t y = ((static_cast<std::int64_t>(top.y) + 0x7FFF) & ~std::int64_t{0xFFFF}) + 0x8000;
    const auto dyTop = static_cast<std::int32_t>(y - top.y);
    const std::int64_t toColumn0 = 0x8000 - static_cast<std::int64_t>(top.x);
    const auto atColumn0 = [&](std::int32_t value, Gradient dy, Gradient dx) {
        return static_cast<std::uint32_t>(value) + fixedProduct(gradients[dy], dyTop) +
               static_cast<std::uint32_t>((gradients[dx] * toColumn0) >> 16) + 0x8000u;
    };
    return {y, atColumn0(top.blue, dBdy, dBdx), atColumn0(top.green, dGdy, dGdx), atColumn0(top.red, dRdy, dRdx)};
}

// Each channel's x gradient as lanes blue, green, red, 0.
__m128i xGradients(const std::int32_t* gradients)
{
    return _mm_srli_si128(_mm_slli_si128(loadGradients(gradients[dBdx]), 4), 4);
}

// The 8.8 steps (gradient >> 8, kept to 16 bits) as the 16-bit lanes of one pixel, twice.
__m128i pixelSteps(const std::int32_t* gradients)
{
    const __m128i steps8 = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(xGradients(gradients), 8), 16), 16);
    return _mm_packs_epi32(steps8, steps8);
}

// The set-up and the row loop of the fill of a polygon wholly inside the
// image: the same edges, rows and runs as the checked fill, without the
// checks against the image. Each row's channels are held at column 0 as
// 32-bit lanes shifted left by 8, whose high halves are the 8.8 values;
// the span policy adds gradient·x0 for a run (Spans::startAt) and lays the
// 8.8 values out as its writers take them.
template <typename Spans>
struct InsideFill {
    using Lanes = typename Spans::Lanes;
    std::int64_t y;  // the row centre, 16.16
    std::uint8_t* row;
    int pitch, width;
    Spans spans;
    Lanes rowStart, rowStep;

    InsideFill(const std::int32_t* gradients, const ScanStart& start0, std::uint32_t* pixels, int pitch, int width)
        : y(start0.y), pitch(pitch), width(width), spans(gradients)
    {
        row = reinterpret_cast<std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(y >> 16) * pitch;
        const auto shifted = [](std::uint32_t v) { return static_cast<int>(v << 8); };
        rowStart = Spans::lanes(_mm_setr_epi32(shifted(start0.blue), shifted(start0.green), shifted(start0.red), 0));
        // The y gradients as lanes blue, green, red, 0, loaded at once.
        rowStep = Spans::lanes(_mm_slli_epi32(_mm_srli_si128(loadGradients(gradients[dRdx]), 4), 8));
    }

    // The rows from y on, count of them (at least one), with the edges' x
    // at 16.16 plus the 0.5 bias. The walk runs on local copies: the pixel
    // stores go through vector pointers, which may alias anything, and would
    // make the compiler reload and store every member on every row.
    template <bool add>
    [[gnu::always_inline]] void rows(std::int64_t count, std::int64_t& leftEdge, std::int64_t leftSlope,
                                     std::int64_t& rightEdge, std::int64_t rightSlope)
    {
        std::int64_t leftX = leftEdge, rightX = rightEdge;
        std::uint8_t* line = row;
        Lanes lineStart = rowStart;
        const Lanes step = rowStep;
        const int stride = pitch, lastEight = width - 8;
        const Spans writer = spans;
        y += count << 16;
        do {
            const std::int64_t x0 = leftX >> 16;
            const auto n = static_cast<int>((rightX >> 16) - x0);
            leftX += leftSlope;
            rightX += rightSlope;
            const auto start = writer.startAt(lineStart, static_cast<int>(x0));
            auto* dest = reinterpret_cast<std::uint32_t*>(line) + x0;
            // Short runs (most of them, on small triangles) as eight pixels
            // where the row has room for eight. An empty row (x0 still
            // lies between the edge's ends, inside the row) goes the same
            // way with no pixel changed: a branch on it would be guessed
            // wrong too often.
            if (n <= 8 && x0 <= lastEight)
                writer.template eight<add>(dest, n, start);
            else if (n <= 16 && x0 <= lastEight - 8)
                writer.template sixteen<add>(dest, n, start);
            else if (n > 0)
                writer.template any<add>(dest, n, start);
            line += stride;
            lineStart = Spans::add(lineStart, step);
        } while (--count > 0);
        row = line;
        rowStart = lineStart;
        leftEdge = leftX;
        rightEdge = rightX;
    }
};

// How many rows from the centre y on lie above end (end > y).
std::int64_t rowsBefore(std::int64_t y, std::int64_t end)
{
    return (end - y + 0xFFFF) >> 16;
}

// The walk of one triangle into lane k (triangleExtremes gives e).
void walkTriangle(const RasterVertex* v, const std::int32_t* gradients, const YExtremes& e, TriangleWalks& w, int k)
{
    const ScanStart start = scanStart(gradients, v[e.top]);
    const std::int64_t y = start.y, bottomY = v[e.bottom].y;
    w.y[k] = y;
    w.blue[k] = start.blue;
    w.green[k] = start.green;
    w.red[k] = start.red;
    w.firstRows[k] = w.lastRows[k] = 0;
    if (y >= bottomY)
        return;
    std::int64_t slopes[4];
    insideTriangleSlopes(v, slopes);
    const int t = e.top, a = t == 2 ? 0 : t + 1, b = t == 0 ? 2 : t - 1;
    const auto x = [&](int from, std::int64_t slope, std::int64_t at) {
        return static_cast<std::int64_t>(v[from].x) + 0x8000 + ((slope * (at - v[from].y)) >> 16);
    };
    const bool leftAtTop = y < v[b].y, rightAtTop = y < v[a].y;
    const std::int64_t leftSlope = leftAtTop ? slopes[b] : slopes[a];
    const std::int64_t rightSlope = rightAtTop ? slopes[t] : slopes[a];
    w.leftSlope[k] = static_cast<std::int32_t>(leftSlope);
    w.rightSlope[k] = static_cast<std::int32_t>(rightSlope);
    w.turnSlope[k] = static_cast<std::int32_t>(slopes[a]);
    w.leftX[k] = x(leftAtTop ? t : b, leftSlope, y);
    w.rightX[k] = x(rightAtTop ? t : a, rightSlope, y);
    const std::int64_t firstEnd = std::min<std::int64_t>(leftAtTop ? v[b].y : v[a].y, rightAtTop ? v[a].y : v[b].y);
    const std::int64_t firstRows = rowsBefore(y, firstEnd);
    const std::int64_t turnY = y + (firstRows << 16);
    w.firstRows[k] = static_cast<std::int32_t>(firstRows);
    w.lastRows[k] = turnY >= bottomY ? 0 : static_cast<std::int32_t>(rowsBefore(turnY, bottomY));
    w.turns[k] = (leftAtTop && turnY >= v[b].y ? 1 : 0) | (rightAtTop && turnY >= v[a].y ? 2 : 0);
    w.turnedX[0][k] = x(b, slopes[a], turnY);
    w.turnedX[1][k] = x(a, slopes[a], turnY);
}

// Draws the triangle walked in lane k.
template <bool add, typename Spans>
void fillWalk(const std::int32_t* gradients, const TriangleWalks& w, int k, std::uint32_t* pixels, int pitch,
              int width)
{
    if (w.firstRows[k] <= 0)
        return;
    InsideFill<Spans> fill(gradients, {w.y[k], w.blue[k], w.green[k], w.red[k]}, pixels, pitch, width);
    std::int64_t leftX = w.leftX[k], rightX = w.rightX[k];
    std::int64_t leftSlope = w.leftSlope[k], rightSlope = w.rightSlope[k];
    fill.template rows<add>(w.firstRows[k], leftX, leftSlope, rightX, rightSlope);
    if (w.lastRows[k] <= 0)
        return;
    // Which edges turn differs from one triangle to the next, and no
    // predictor could guess it: the edges are picked with masks, which the
    // compiler keeps as they are, not with branches.
    const std::int64_t leftTurns = -static_cast<std::int64_t>(w.turns[k] & 1);
    const std::int64_t rightTurns = -static_cast<std::int64_t>(w.turns[k] >> 1 & 1);
    const std::int64_t turnSlope = w.turnSlope[k];
    leftX = (w.turnedX[0][k] & leftTurns) | (leftX & ~leftTurns);
    leftSlope = (turnSlope & leftTurns) | (leftSlope & ~leftTurns);
    rightX = (w.turnedX[1][k] & rightTurns) | (rightX & ~rightTurns);
    rightSlope = (turnSlope & rightTurns) | (rightSlope & ~rightTurns);
    fill.template rows<add>(w.lastRows[k], leftX, leftSlope, rightX, rightSlope);
}

// A triangle wholly inside the image.
template <bool add, typename Spans>
void fillInsideTriangle(const RasterPolygon& polygon, const YExtremes& e, std::uint32_t* pixels, int pitch,
                        int width)
{
    TriangleWalks w;
    walkTriangle(polygon.vertices, &polygon.dBdx, e, w, 0);
    fillWalk<add, Spans>(&polygon.dBdx, w, 0, pixels, pitch, width);
}

// A polygon of any corner count wholly inside the image, walked edge by
// edge as the checked fill walks it.
template <bool add, typename Spans>
void fillInsidePolygon(const RasterPolygon& polygon, int count, const YExtremes& e, std::uint32_t* pixels, int pitch,
                       int width)
{
    const std::int64_t bottomY = polygon.vertices[e.bottom].y;
    InsideFill<Spans> fill(&polygon.dBdx, scanStart(&polygon.dBdx, polygon.vertices[e.top]), pixels, pitch, width);
    const std::int64_t& y = fill.y;
    std::int64_t slopes[rasterCapacity];
    const RasterVertex* v = polygon.vertices;
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
        fill.template rows<add>(rowsBefore(y, end), left.x, left.slope, right.x, right.slope);
        if (y >= bottomY)
            break;
        left.update(y, false);
        right.update(y, false);
    }
}

} // namespace
