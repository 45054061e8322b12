#include "content/stroke.hpp"

#include "engine/line.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// drawLineAA's walk for a line that needs no clipping and whose every pixel
// pair lies inside the image: the same steps and blends, without the checks.
struct LineWalk {
    bool across;  // mostly horizontal: one pair per column, else one per row
    int n;        // columns (across), or rows - 1
    int column;   // first column (across)
    int row;      // first row (not across)
    int step;     // column step, 1 or -1 (across)
    std::int32_t fixed, fixedStep;  // y (across) or x, in 1/32768 pixel
};

LineWalk planLine(float x0, float y0, float x1, float y1)
{
    if (y1 < y0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const double cdx = static_cast<double>(x1) - x0;
    const double cdy = static_cast<double>(y1) - y0;
    const double adx = std::fabs(cdx);
    const double ady = std::fabs(cdy);
    LineWalk w{};
    w.across = adx > ady;
    if (w.across) {
        w.n = static_cast<int>(adx + 0.5);
        w.column = static_cast<int>(x0);
        w.step = x1 >= x0 ? 1 : -1;
        w.fixed = static_cast<std::int32_t>(y0 * 32768.0);
        w.fixedStep = static_cast<std::int32_t>(cdy / adx * 32768.0);
    } else {
        w.n = static_cast<int>(ady + 0.5);
        w.row = static_cast<int>(y0);
        w.fixed = static_cast<std::int32_t>(x0 * 32768.0);
        w.fixedStep = ady > 0.0 ? static_cast<std::int32_t>(cdx / ady * 32768.0) : 0;
    }
    return w;
}

// One step of a walk: the pair below (across) or right of the point.
[[gnu::always_inline]] inline void stepAcross(Image& target, int column, std::int32_t y, const PairBlender& blend)
{
    blend(target.row(y >> 15) + column, target.row((y >> 15) + 1) + column, y & 0x7FFF);
}

[[gnu::always_inline]] inline void stepDown(Image& target, int row, std::int32_t x, const PairBlender& blend)
{
    std::uint32_t* pixel = target.row(row) + (x >> 15);
    blend(pixel, pixel + 1, x & 0x7FFF);
}

// The pairs of both lines in one row, (p, p + 1) and then (p + 1, p + 2),
// with the same weights, as stepDown twice: a blended channel never exceeds
// 255, so p + 1 can take its second blend in 16-bit lanes without being
// packed and stored in between.
[[gnu::always_inline]] inline void stepDownTwice(Image& target, int row, std::int32_t x, const PairBlender& blend)
{
    std::uint32_t* pixel = target.row(row) + (x >> 15);
    const std::int32_t f = x & 0x7FFF;
    const __m128i zero = _mm_setzero_si128();
    const __m128i noFourth = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    // 32767 - f is 32767 XOR f for 15-bit f: the left pixel's colour weight
    // in the low four lanes, f in the high four.
    const __m128i fs = _mm_set1_epi32(f | f << 16);
    const __m128i weight = _mm_xor_si128(fs, _mm_set_epi16(0, 0, 0, 0, 32767, 32767, 32767, 32767));
    const __m128i keep = _mm_xor_si128(weight, _mm_set1_epi16(32767));
    const __m128i paint = _mm_mulhi_epi16(blend.paint2, weight);
    __m128i pair = _mm_and_si128(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel)), zero),
                                 noFourth);
    const __m128i first = _mm_add_epi16(_mm_mulhi_epi16(_mm_add_epi16(pair, pair), keep), paint);
    const __m128i third = _mm_and_si128(
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(pixel[2])), zero), noFourth);
    pair = _mm_unpacklo_epi64(_mm_srli_si128(first, 8), third);
    const __m128i second = _mm_add_epi16(_mm_mulhi_epi16(_mm_add_epi16(pair, pair), keep), paint);
    const __m128i packed = _mm_packus_epi16(first, second);
    pixel[0] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pixel + 1), _mm_srli_si128(packed, 8));
}

// Both lines' pairs of one column step: (column, row) and (column + 1, row)
// take colour weight 32767 - f, the two pixels below take f. The four
// pixels are distinct, so the two blends of the step may go together.
[[gnu::always_inline]] inline void stepAcrossTwice(Image& target, int column, std::int32_t y,
                                                   const PairBlender& blend)
{
    std::uint32_t* top = target.row(y >> 15) + column;
    std::uint32_t* bottom = target.row((y >> 15) + 1) + column;
    const std::int32_t f = y & 0x7FFF;
    const __m128i zero = _mm_setzero_si128();
    const __m128i noFourth = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    const __m128i fs = _mm_set1_epi32(f | f << 16);
    const __m128i rest = _mm_xor_si128(fs, _mm_set1_epi16(32767));
    // Pixel by pixel: the right one was stored by the step before as part
    // of a wider store, which a load of the same width could not take over.
    const auto pairAt = [](const std::uint32_t* p) {
        return _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(p[0])), _mm_cvtsi32_si128(static_cast<int>(p[1])));
    };
    __m128i upper = _mm_and_si128(_mm_unpacklo_epi8(pairAt(top), zero), noFourth);
    __m128i lower = _mm_and_si128(_mm_unpacklo_epi8(pairAt(bottom), zero), noFourth);
    upper = _mm_add_epi16(_mm_mulhi_epi16(_mm_add_epi16(upper, upper), fs), _mm_mulhi_epi16(blend.paint2, rest));
    lower = _mm_add_epi16(_mm_mulhi_epi16(_mm_add_epi16(lower, lower), rest), _mm_mulhi_epi16(blend.paint2, fs));
    const __m128i packed = _mm_packus_epi16(upper, lower);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(top), packed);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bottom), _mm_unpackhi_epi64(packed, packed));
}

void walkLine(Image& target, const LineWalk& w, const PairBlender& blend)
{
    std::int32_t f = w.fixed;
    if (w.across) {
        for (int i = 0, column = w.column; i < w.n; ++i, column += w.step, f += w.fixedStep)
            stepAcross(target, column, f, blend);
    } else {
        for (int i = 0, row = w.row; i <= w.n; ++i, ++row, f += w.fixedStep)
            stepDown(target, row, f, blend);
    }
}

// Both lines of a stroke, the second one pixel right of the first. Mostly
// the second's walk is the first's moved one column, and both are walked
// together; each pixel still takes the first line's blend before the
// second's, as when the lines are drawn one after the other.
void walkStroke(Image& target, float x0, float y0, float x1, float y1, const PairBlender& blend)
{
    const LineWalk a = planLine(x0, y0, x1, y1);
    // With both x exactly one more (and positive, as inside the bounds), the
    // second line has the same differences, so the same kind and number of
    // steps, its start one column (or 32768 fixed-point units) further.
    const bool moved = static_cast<double>(x0 + 1.0f) - x0 == 1.0 && static_cast<double>(x1 + 1.0f) - x1 == 1.0;
    if (!moved) {
        walkLine(target, a, blend);
        walkLine(target, planLine(x0 + 1.0f, y0, x1 + 1.0f, y1), blend);
        return;
    }
    std::int32_t f = a.fixed;
    if (!a.across) {
        // The second line's pair shares the first's right pixel, in the same row.
        for (int i = 0, row = a.row; i <= a.n; ++i, ++row, f += a.fixedStep)
            stepDownTwice(target, row, f, blend);
    } else {
        // Within one line no pixel is blended twice, so its steps may go in
        // any order; across the lines, the second's column c + 1 must come
        // after the first's step there. Walking from right to left keeps it so.
        const int last = a.n - 1;
        if (a.step < 0) {
            for (int i = 0; i <= last; ++i, f += a.fixedStep)
                stepAcrossTwice(target, a.column - i, f, blend);
        } else {
            f += last * a.fixedStep;
            for (int i = last; i >= 0; --i, f -= a.fixedStep)
                stepAcrossTwice(target, a.column + i, f, blend);
        }
    }
}

} // namespace

// The walks keep to the end points' rows and columns, give or take half a
// pixel, and write the second pixel of a pair one further: with the ends one
// pixel inside the clip rectangle (itself held inside the image), and two
// more on the right for the second line, they never leave the image and
// drawLineAA would clip nothing.
StrokeDrawer::StrokeDrawer(Image& image, Colour paint)
    : target(image), colour(paint), blend(paint), left(std::max(image.clipLeft, 0.0f) + 1.0f),
      top(std::max(image.clipTop, 0.0f) + 1.0f),
      right(std::min(image.clipRight, static_cast<float>(image.width - 1)) - 3.0f),
      bottom(std::min(image.clipBottom, static_cast<float>(image.height - 1)) - 2.0f)
{
}

void StrokeDrawer::draw(float x0, float y0, float x1, float y1) const
{
    // Also false for NaN.
    const auto holds = [&](float x, float y) { return x >= left && x <= right && y >= top && y <= bottom; };
    if (target.pixels && holds(x0, y0) && holds(x1, y1)) {
        walkStroke(target, x0, y0, x1, y1, blend);
    } else {
        drawLineAA(target, x0, y0, x1, y1, colour);
        drawLineAA(target, x0 + 1.0f, y0, x1 + 1.0f, y1, colour);
    }
}
