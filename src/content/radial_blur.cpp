// Two pixels per register, four 16-bit lanes each. The quadrants never
// depend on each other: a sample of one quadrant reaches into the next only
// at a fraction of 0, which takes no weight. Far from the centre a row
// samples only rows already finished, so its pixels are independent and go
// in pairs along the row. Near it (the first rows out in each direction) a
// row samples itself: those rows are chains from the centre outward, and the
// left and right halves, up and down, run as four chains side by side.
#include "content/radial_blur.hpp"

#include "image/simd.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Per destination column: the sample's source column and its horizontal
// fraction repeated in four 16-bit lanes (so two neighbours load as one
// register of weights).
std::int32_t sourceColumn[maxRadialBlurWidth];
std::uint64_t columnWeight[maxRadialBlurWidth];

// One destination row and the two rows its samples blend.
struct RowJob {
    std::uint8_t* dest;
    const std::uint8_t* top;
    const std::uint8_t* bottom;
    __m128i fy;      // vertical fraction as signed 16-bit lanes
    __m128i fyHigh;  // all ones where the fraction is 32768 or more
};

struct Weights {
    __m128i keep;  // K, for the unsigned high product
    __m128i own;   // 2W: (old x 2W) >> 16 is (old x W) >> 15
};

inline __m128i load32(const std::uint8_t* p)
{
    int v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

inline void store32(std::uint8_t* p, __m128i v)
{
    const int bits = _mm_cvtsi128_si32(v);
    std::memcpy(p, &bits, 4);
}

inline __m128i load64(const std::uint8_t* p)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// a + floor((b - a) f / 32768) per lane, f at most 32767.
inline __m128i lerp15(__m128i a, __m128i b, __m128i f)
{
    return _mm_add_epi16(a, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(b, a), 1), f));
}

// Blends two pixels at once. top and bottom hold, as bytes, the source pixel
// of lane A, that of lane B, then the right-hand neighbour of each; old holds
// the two destination pixels. Returns the two new pixels in the low 8 bytes.
inline __m128i blendPair(__m128i top, __m128i bottom, __m128i old, __m128i fx, const RowJob& row,
                         const Weights& w)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i h = lerp15(_mm_unpacklo_epi8(top, zero), _mm_unpackhi_epi8(top, zero), fx);
    const __m128i g = lerp15(_mm_unpacklo_epi8(bottom, zero), _mm_unpackhi_epi8(bottom, zero), fx);
    // The signed product is short by d wherever the fraction has its top bit set.
    const __m128i d = _mm_sub_epi16(g, h);
    const __m128i sample =
        _mm_add_epi16(_mm_add_epi16(h, _mm_mulhi_epi16(d, row.fy)), _mm_and_si128(d, row.fyHigh));
    const __m128i sum = _mm_add_epi16(_mm_mulhi_epu16(sample, w.keep),
                                      _mm_mulhi_epu16(_mm_unpacklo_epi8(old, zero), w.own));
    return _mm_packus_epi16(sum, sum);
}

// Pixels xa and xb of a row that samples itself: every load and store is
// one pixel wide, so each result reaches the next load by store forwarding.
inline void chainPair(const RowJob& row, int xa, int xb, const Weights& w)
{
    const int ca = 4 * sourceColumn[xa], cb = 4 * sourceColumn[xb];
    const __m128i top = _mm_unpacklo_epi64(_mm_unpacklo_epi32(load32(row.top + ca), load32(row.top + cb)),
                                           _mm_unpacklo_epi32(load32(row.top + ca + 4), load32(row.top + cb + 4)));
    const __m128i bottom =
        _mm_unpacklo_epi64(_mm_unpacklo_epi32(load32(row.bottom + ca), load32(row.bottom + cb)),
                           _mm_unpacklo_epi32(load32(row.bottom + ca + 4), load32(row.bottom + cb + 4)));
    const __m128i old = _mm_unpacklo_epi32(load32(row.dest + 4 * xa), load32(row.dest + 4 * xb));
    const __m128i fx = _mm_unpacklo_epi64(load64(reinterpret_cast<const std::uint8_t*>(columnWeight + xa)),
                                          load64(reinterpret_cast<const std::uint8_t*>(columnWeight + xb)));
    const __m128i result = blendPair(top, bottom, old, fx, row, w);
    store32(row.dest + 4 * xa, result);
    store32(row.dest + 4 * xb, _mm_srli_si128(result, 4));
}

// Pixels x and x + 1 (or x alone when single) of a row that samples only
// finished rows.
inline void freePair(const RowJob& row, int x, bool single, const Weights& w)
{
    const int xb = single ? x : x + 1;
    const int ca = 4 * sourceColumn[x], cb = 4 * sourceColumn[xb];
    const __m128i top = _mm_unpacklo_epi32(load64(row.top + ca), load64(row.top + cb));
    const __m128i bottom = _mm_unpacklo_epi32(load64(row.bottom + ca), load64(row.bottom + cb));
    const __m128i fx = _mm_unpacklo_epi64(load64(reinterpret_cast<const std::uint8_t*>(columnWeight + x)),
                                          load64(reinterpret_cast<const std::uint8_t*>(columnWeight + xb)));
    if (single) {
        store32(row.dest + 4 * x, blendPair(top, bottom, load32(row.dest + 4 * x), fx, row, w));
        return;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row.dest + 4 * x),
                     blendPair(top, bottom, load64(row.dest + 4 * x), fx, row, w));
}

void freeRow(const RowJob& row, int width, const Weights& w)
{
    int x = 0;
    for (; x + 1 < width; x += 2)
        freePair(row, x, false, w);
    if (x < width)
        freePair(row, x, true, w);
}

// Chains of one row (a) or of two rows in different halves (a, b), each
// from the centre column outward on both sides.
void chainRows(const RowJob& a, const RowJob* b, int cx, int width, const Weights& w)
{
    const int left = cx, right = width - cx;
    const int both = std::min(left, right);
    int k = 0;
    for (; k < both; ++k) {
        chainPair(a, cx - 1 - k, cx + k, w);
        if (b)
            chainPair(*b, cx - 1 - k, cx + k, w);
    }
    // The longer side goes on alone (both lanes on the same pixel).
    for (; k < left; ++k) {
        chainPair(a, cx - 1 - k, cx - 1 - k, w);
        if (b)
            chainPair(*b, cx - 1 - k, cx - 1 - k, w);
    }
    for (; k < right; ++k) {
        chainPair(a, cx + k, cx + k, w);
        if (b)
            chainPair(*b, cx + k, cx + k, w);
    }
}

std::uint64_t repeatLanes(int fraction)
{
    return static_cast<std::uint64_t>(fraction) * 0x0001000100010001ull;
}

void buildColumnTables(int cx, int width, int step)
{
    int column = cx, fraction = 0;
    for (int x = cx; x < width; ++x) {
        if (x > cx) {
            fraction += step;
            if (fraction >= 32768) {
                fraction -= 32768;
                ++column;
            }
        }
        sourceColumn[x] = column;
        columnWeight[x] = repeatLanes(fraction);
    }
    column = cx - 1;
    fraction = 0;
    for (int x = cx - 1; x >= 0; --x) {
        if (x < cx - 1) {
            fraction -= step;
            if (fraction < 0) {
                fraction += 32768;
                --column;
            }
        }
        sourceColumn[x] = column;
        columnWeight[x] = repeatLanes(fraction);
    }
}

// Walks one vertical half row by row outward: its source row and fraction.
struct RowWalk {
    int dest, source, fraction, direction;

    void next(int S)
    {
        dest += direction;
        if (direction > 0) {
            fraction += S;
            if (fraction >= 65536) {
                fraction -= 65536;
                ++source;
            }
        } else {
            fraction -= S;
            if (fraction < 0) {
                fraction += 65536;
                --source;
            }
        }
    }
    // The row's samples read the row itself.
    bool chained() const { return source == dest || source + 1 == dest; }

    RowJob job(Image& image) const
    {
        const std::int16_t f = static_cast<std::int16_t>(static_cast<std::uint16_t>(fraction));
        return RowJob{reinterpret_cast<std::uint8_t*>(image.row(dest)),
                      reinterpret_cast<const std::uint8_t*>(image.row(source)),
                      reinterpret_cast<const std::uint8_t*>(image.row(source + 1)), _mm_set1_epi16(f),
                      fraction >= 32768 ? _mm_set1_epi16(-1) : _mm_setzero_si128()};
    }
};

int fixedPoint(float value, int high)
{
    const double scaled = static_cast<double>(value) * 65536.0;
    if (!(scaled > 0.0))
        return 0;
    return scaled >= high ? high : static_cast<int>(scaled);
}

int centre(float value, int size)
{
    if (!(value >= 1.0f))
        return 1;
    return value >= static_cast<float>(size - 2) ? size - 2 : static_cast<int>(value);
}

} // namespace

void radialBlur(Image& image, float centerX, float centerY, float keep, float scale)
{
    const int width = image.width, height = image.height;
    if (!image.pixels || width < 3 || height < 3)
        return;
    if (width > maxRadialBlurWidth) {
        std::fprintf(stderr, "radialBlur: an image %d pixels wide is wider than the %d the blur holds; left as it is\n",
                     width, maxRadialBlurWidth);
        return;
    }
    const int K = fixedPoint(keep, 65535);
    const int S = fixedPoint(scale, 65535);
    const Weights w{_mm_set1_epi16(static_cast<std::int16_t>(static_cast<std::uint16_t>(K))),
                    _mm_set1_epi16(static_cast<std::int16_t>(static_cast<std::uint16_t>(((65535 - K) >> 1) * 2)))};
    const int cx = centre(centerX, width), cy = centre(centerY, height);
    buildColumnTables(cx, width, S >> 1);

    RowWalk up{cy - 1, cy - 1, 0, -1};
    RowWalk down{cy, cy, 0, 1};
    const auto upLeft = [&] { return up.dest >= 0; };
    const auto downLeft = [&] { return down.dest < height; };

    // Chained rows first, both halves together while both have them.
    while (upLeft() && up.chained() && downLeft() && down.chained()) {
        const RowJob a = up.job(image), b = down.job(image);
        chainRows(a, &b, cx, width, w);
        up.next(S);
        down.next(S);
    }
    for (RowWalk* walk : {&up, &down}) {
        const auto inside = [&] { return walk->dest >= 0 && walk->dest < height; };
        for (; inside() && walk->chained(); walk->next(S))
            chainRows(walk->job(image), nullptr, cx, width, w);
        for (; inside(); walk->next(S))
            freeRow(walk->job(image), width, w);
    }
}
