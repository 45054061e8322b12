// The anti-aliased filled disc. The squared distance d of each pixel from
// the centre (times 4096) is stepped along rows and columns in exact
// integers (64 bits, so far-off centres and large radii cannot overflow); a
// pixel with d below `inner` takes the colour, one in the ring below `outer`
// blends towards it.
//
// Along a row, d_j = start + j x step + 4096 j (j - 1) is a convex sequence,
// so the pixels below either limit form one run. Short rows are simply
// walked; on wide rows the runs are found from the quadratic's roots (then
// checked exactly), the inner run becomes a plain fill and the pixels
// outside the ring are not visited.
#include "image/ops.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include "image/simd.hpp"

namespace {

// Radii beyond this would push the fixed-point distances past 64 bits; no
// picture needs a disc a million pixels wide.
constexpr double maxRadius = 1.0e6;
constexpr double maxCentre = 1.0e12;
// Rows at most this wide are walked pixel by pixel.
constexpr int walkedRow = 64;

// (colour x (256 - t) + old x t) / 256 on blue, green and red, two channels
// per 32-bit multiply: each 16-bit lane stays below 65536, so the lanes
// never carry into each other. The fourth byte becomes 0.
inline std::uint32_t blend(std::uint32_t colour, std::uint32_t old, std::uint32_t t)
{
    const std::uint32_t u = 256 - t;
    const std::uint32_t rb = ((colour & 0xFF00FFu) * u + (old & 0xFF00FFu) * t) >> 8;
    const std::uint32_t g = ((colour & 0x00FF00u) * u + (old & 0x00FF00u) * t) >> 8;
    return (rb & 0xFF00FFu) | (g & 0x00FF00u);
}

// floor() and ceil() of values within 64-bit integers, in a few instructions.
double floorOf(double v)
{
    const auto t = static_cast<double>(static_cast<std::int64_t>(v));
    return t > v ? t - 1.0 : t;
}

double ceilOf(double v)
{
    const auto t = static_cast<double>(static_cast<std::int64_t>(v));
    return t < v ? t + 1.0 : t;
}

struct Ring {
    std::int64_t inner, outer, k;
    std::uint32_t colour;
};

// The squared distances along one row.
struct RowDistances {
    std::int64_t start, step;
    std::int64_t at(std::int64_t j) const { return start + j * step + 4096 * j * (j - 1); }
};

struct Run {
    int first, last;  // [first, last), empty when equal
};

// The run of j in [0, n) with d_j < limit, given the lowest d_m of the row
// (below the limit) and b = step - 4096, the linear term of
// d_j = 4096 j^2 + b j + start. The roots give the ends to within a pixel;
// exact checks settle them.
Run runBelow(const RowDistances& row, int n, double b, std::int64_t m, std::int64_t limit)
{
    const double root = std::sqrt(std::max(0.0, b * b - 16384.0 * static_cast<double>(row.start - limit)));
    auto first = static_cast<std::int64_t>(std::clamp((-b - root) * (1.0 / 8192.0), 0.0, static_cast<double>(m)));
    while (first > 0 && row.at(first - 1) < limit)
        --first;
    while (row.at(first) >= limit)
        ++first;
    auto last = static_cast<std::int64_t>(
        std::clamp((-b + root) * (1.0 / 8192.0) + 1.0, static_cast<double>(m + 1), static_cast<double>(n)));
    while (last < n && row.at(last) < limit)
        ++last;
    while (last > m + 1 && row.at(last - 1) >= limit)
        --last;
    return {static_cast<int>(first), static_cast<int>(last)};
}

// Ring by value: its fields stay in registers although p may alias anything.
[[gnu::always_inline]] inline void blendRun(std::uint32_t* p, const RowDistances& row, int first, int last, const Ring ring)
{
    const std::int64_t inner = ring.inner, outer = ring.outer, k = ring.k;
    const std::uint32_t colour = ring.colour;
    std::int64_t d = row.at(first), step = row.step + 8192 * static_cast<std::int64_t>(first);
    for (int j = first; j < last; ++j, d += step, step += 8192) {
        if (d < inner)
            p[j] = colour;
        else if (d < outer)
            p[j] = blend(colour, p[j], static_cast<std::uint32_t>(((d - inner) * k) >> 16));
    }
}

// The distances and ring weights in 32-bit lanes: every distance of the
// box (largest at a corner, the rows and columns being convex), the limits
// and every weight product (below 2^25 in the ring) must fit.
bool fitsLanes(RowDistances row, int n, int rows, std::int64_t rowStep, const Ring& ring, double radius)
{
    constexpr std::int64_t limit = 0x3FFFFFFF;
    // Every pixel of the box lies within r + 2 of the centre, so up to a
    // radius of 60 the distances stay below 2 x 62^2 x 4096 (plus a rounding
    // drift of a pixel per step) and need no look.
    if (radius <= 60.0)
        return ring.k < 65536;
    const std::int64_t lastRowStart = row.start + (rows - 1) * rowStep + 4096 * std::int64_t{rows - 1} * (rows - 2);
    bool fits = ring.outer < limit && ring.k < 65536 && std::abs(rowStep) < limit &&
                std::abs(rowStep + 8192 * std::int64_t{rows}) < limit;
    for (const std::int64_t start : {row.start, lastRowStart}) {
        row.start = start;
        fits = fits && std::abs(row.at(0)) < limit && std::abs(row.at(n - 1)) < limit;
    }
    return fits;
}

// blendRun four pixels at a time for a disc that fitsLanes(). Inner pixels
// take the colour, ring pixels the blend (in 16-bit lanes, where
// colour x (256 - t) + old x t stays below 65536), the rest keep theirs.
// Rows of n pixels, n >= 4; when n is not a multiple of four, the last
// four pixels are taken again with the lanes done already kept.
struct DiscLanes {
    __m128i inner, outer, k, colour, colour16, colour256;
    // d of the row's first four pixels and the step to the next four; d of
    // its last four and which of those the full fours have done.
    __m128i d, step, dLast, doneLast;
    int n;

    DiscLanes(const Ring& ring, const RowDistances& row, int n)
        : inner(_mm_set1_epi32(static_cast<int>(ring.inner))), outer(_mm_set1_epi32(static_cast<int>(ring.outer))),
          k(_mm_set1_epi32(static_cast<int>(ring.k))), colour(_mm_set1_epi32(static_cast<int>(ring.colour))),
          colour16(_mm_unpacklo_epi8(colour, _mm_setzero_si128())), colour256(_mm_slli_epi16(colour16, 8)), n(n)
    {
        auto four = [&](int j) {
            return _mm_set_epi32(static_cast<int>(row.at(j + 3)), static_cast<int>(row.at(j + 2)),
                                 static_cast<int>(row.at(j + 1)), static_cast<int>(row.at(j)));
        };
        d = four(0);
        step = _mm_sub_epi32(four(4), d);
        dLast = four(n - 4);
        const int done = 4 - n % 4;
        doneLast = _mm_set_epi32(0, done > 2 ? -1 : 0, done > 1 ? -1 : 0, -1);
    }

    // Four pixels at q; the lanes in keep are left as they are.
    [[gnu::always_inline]] void four(std::uint32_t* p, __m128i dj, __m128i keep) const
    {
        const __m128i in = _mm_andnot_si128(keep, _mm_cmplt_epi32(dj, inner));
        const __m128i covered = _mm_andnot_si128(keep, _mm_cmplt_epi32(dj, outer));
        if (_mm_movemask_epi8(covered) == 0)
            return;
        auto* q = reinterpret_cast<__m128i*>(p);
        if (_mm_movemask_epi8(in) == 0xFFFF) {
            _mm_storeu_si128(q, colour);
            return;
        }
        const __m128i zero = _mm_setzero_si128();
        const __m128i old = _mm_loadu_si128(q);
        // t = ((d - inner) k) >> 16, good in the ring lanes.
        const __m128i x = _mm_sub_epi32(dj, inner);
        const __m128i t02 = _mm_srli_epi64(_mm_mul_epu32(x, k), 16);
        const __m128i t13 = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(x, 32), k), 16);
        const __m128i t = _mm_or_si128(_mm_and_si128(t02, _mm_set_epi32(0, -1, 0, -1)), _mm_slli_epi64(t13, 32));
        const __m128i t16 = _mm_packs_epi32(t, t);
        const __m128i tPairs = _mm_unpacklo_epi16(t16, t16);
        const __m128i tLo = _mm_unpacklo_epi32(tPairs, tPairs), tHi = _mm_unpackhi_epi32(tPairs, tPairs);
        // colour x (256 - t) + old x t = colour x 256 + (old - colour) x t lies
        // in 0..65280, so the sum taken modulo 2^16 is exact.
        auto mix = [&](__m128i o16, __m128i t4) {
            return _mm_srli_epi16(_mm_add_epi16(colour256, _mm_mullo_epi16(_mm_sub_epi16(o16, colour16), t4)), 8);
        };
        const __m128i blended = _mm_and_si128(
            _mm_packus_epi16(mix(_mm_unpacklo_epi8(old, zero), tLo), mix(_mm_unpackhi_epi8(old, zero), tHi)),
            _mm_set1_epi32(0x00FFFFFF));
        const __m128i ring4 = _mm_andnot_si128(in, covered);
        const __m128i out = _mm_or_si128(_mm_or_si128(_mm_and_si128(in, colour), _mm_and_si128(ring4, blended)),
                                         _mm_andnot_si128(covered, old));
        _mm_storeu_si128(q, out);
    }

    void run(std::uint32_t* p) const
    {
        // The step to the next four grows by 4 x 4 x 8192.
        const __m128i stepGrowth = _mm_set1_epi32(32 * 4096);
        const __m128i none = _mm_setzero_si128();
        __m128i dj = d, stepj = step;
        int j = 0;
        for (; j + 4 <= n; j += 4, dj = _mm_add_epi32(dj, stepj), stepj = _mm_add_epi32(stepj, stepGrowth))
            four(p + j, dj, none);
        if (j < n)
            four(p + n - 4, dLast, doneLast);
    }

    // Every d of the next row is larger by the row step.
    void nextRow(std::int64_t rowStep)
    {
        const __m128i add = _mm_set1_epi32(static_cast<int>(rowStep));
        d = _mm_add_epi32(d, add);
        dLast = _mm_add_epi32(dLast, add);
    }
};

} // namespace

void drawDisc(std::uint32_t* pixels, int pitch, int width, int height,
              float cx, float cy, float radius, Colour colour)
{
    const double r = radius, x = cx, y = cy;
    // Beyond these limits nothing is drawn (a far-off disc misses any image;
    // a radius below -1.5 leaves no pixel), so the bounds fit 64-bit integers.
    if (!pixels || !(std::fabs(x) <= maxCentre) || !(std::fabs(y) <= maxCentre) || !(std::fabs(r) <= maxRadius))
        return;

    // Bounds, the right and bottom ones exclusive.
    double x0 = floorOf(x - r), x1 = ceilOf(x + r) + 1.0;
    double y0 = floorOf(y - r), y1 = ceilOf(y + r) + 1.0;
    if (x1 < 0.0 || y1 < 0.0 || x0 >= width || y0 >= height)
        return;
    x0 = std::max(x0, 0.0);
    y0 = std::max(y0, 0.0);
    x1 = std::min(x1, static_cast<double>(width));
    y1 = std::min(y1, static_cast<double>(height));
    const int left = static_cast<int>(x0), top = static_cast<int>(y0), bottom = static_cast<int>(y1);
    const int n = static_cast<int>(x1) - left;

    // Fixed point, 4096 = 1.
    const double innerSq = (r - 1.0) * (r - 1.0);
    const float outerSq = static_cast<float>((r + 1.0) * (r + 1.0));
    Ring ring{static_cast<std::int64_t>(innerSq * 4096.0), static_cast<std::int64_t>(static_cast<double>(outerSq) * 4096.0),
              0, colour};
    // Blend weight per unit of squared distance, so that t runs from 0 to 256
    // across the ring. Without a ring (radius 0 or below) it is never used.
    const double ringWidth = static_cast<double>(outerSq) - innerSq;
    if (ringWidth > 0.0)
        ring.k = static_cast<std::int64_t>(std::min(4096.0 / ringWidth, 1.0e12));

    const double dx = left - x, dy = top - y;
    RowDistances row{static_cast<std::int64_t>((dx * dx + dy * dy) * 4096.0),
                     static_cast<std::int64_t>((2.0 * dx + 1.0) * 4096.0)};
    auto rowStep = static_cast<std::int64_t>((2.0 * dy + 1.0) * 4096.0);

    auto* line = reinterpret_cast<std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(top) * pitch;
    if (n >= 4 && n <= walkedRow && fitsLanes(row, n, bottom - top, rowStep, ring, r)) {
        DiscLanes lanes(ring, row, n);
        for (int py = top; py < bottom; ++py, row.start += rowStep, rowStep += 8192, line += pitch) {
            lanes.run(reinterpret_cast<std::uint32_t*>(line) + left);
            lanes.nextRow(rowStep);
        }
        return;
    }
    for (int py = top; py < bottom; ++py, row.start += rowStep, rowStep += 8192, line += pitch) {
        std::uint32_t* p = reinterpret_cast<std::uint32_t*>(line) + left;
        if (n <= walkedRow) {
            blendRun(p, row, 0, n, ring);
            continue;
        }
        // The lowest d of the row: at the integer nearest the vertex.
        const double b = static_cast<double>(row.step) - 4096.0;
        // The vertex -b / 8192 is exact: b is an integer.
        const auto m = static_cast<std::int64_t>(std::clamp(-b * (1.0 / 8192.0), 0.0, n - 1.0) + 0.5);
        const std::int64_t lowest = row.at(m);
        if (lowest >= ring.outer && lowest >= ring.inner)
            continue;
        const Run out = lowest < ring.outer ? runBelow(row, n, b, m, ring.outer) : Run{0, 0};
        const Run in = lowest < ring.inner ? runBelow(row, n, b, m, ring.inner) : Run{out.last, out.last};
        blendRun(p, row, out.first, std::min(out.last, in.first), ring);
        std::fill(p + in.first, p + in.last, colour);
        blendRun(p, row, std::max(out.first, in.last), out.last, ring);
    }
}
