// Two pixels per register, four 16-bit lanes each. The quadrants never
// depend on each other: a sample of one quadrant reaches into the next only
// at a fraction of 0, which takes no weight.
//
// Far from the centre a row samples only rows already finished. Its samples'
// horizontal blends are then shared: every source row is blended along
// itself once, for every destination column, and each destination row mixes
// two such blended rows. Within a run of columns whose sources lie side by
// side (all but about one column in 40) four blends come from two loads.
//
// Near the centre a row samples itself, so each is a chain from the centre
// outward; but a pixel k columns out needs, of the row before, only pixels
// at most k columns out. So the chained rows run as a wavefront, row m one
// column behind row m - 1, and every step has dozens of independent chains
// to work on instead of waiting on one.
#include "content/radial_blur.hpp"

#include "image/simd.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Per destination column: the byte offset of the sample's source pixel in
// its row and the horizontal fraction repeated in four 16-bit lanes (two
// neighbours load as one register of weights).
std::ptrdiff_t sourceOffset[maxRadialBlurWidth];
alignas(16) std::uint64_t columnWeight[maxRadialBlurWidth];

// Two source rows blended along themselves, per destination column, and
// which rows they are.
alignas(16) std::uint64_t blended[2][maxRadialBlurWidth];
int blendedRow[2];

// Chained rows are worked in batches of at most this many per half.
constexpr int wavefrontRows = 64;

// One destination row and the two rows its samples mix.
struct RowJob {
    std::uint8_t* dest;
    const std::uint8_t* top;
    const std::uint8_t* bottom;
    __m128i fy;      // vertical fraction as signed 16-bit lanes
    __m128i fyHigh;  // all ones where the fraction is 32768 or more
};

RowJob chained[2][wavefrontRows];

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

inline __m128i load64(const void* p)
{
    return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}

inline __m128i load128(const void* p)
{
    return _mm_load_si128(static_cast<const __m128i*>(p));
}

inline __m128i widen(__m128i bytes)
{
    return _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
}

inline __m128i widenHigh(__m128i bytes)
{
    return _mm_unpackhi_epi8(bytes, _mm_setzero_si128());
}

// a + floor((b - a) f / 32768) per lane, f at most 32767.
inline __m128i lerp15(__m128i a, __m128i b, __m128i f)
{
    return _mm_add_epi16(a, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(b, a), 1), f));
}

// top + floor((bottom - top) fy / 65536): the signed product falls short by
// (bottom - top) wherever the fraction has its top bit set.
inline __m128i lerp16(__m128i top, __m128i bottom, const RowJob& row)
{
    const __m128i d = _mm_sub_epi16(bottom, top);
    return _mm_add_epi16(_mm_add_epi16(top, _mm_mulhi_epi16(d, row.fy)), _mm_and_si128(d, row.fyHigh));
}

// The new values (16-bit lanes, up to 508) from the samples and the old pixels.
inline __m128i mix(__m128i sample, __m128i old, const Weights& w)
{
    return _mm_add_epi16(_mm_mulhi_epu16(sample, w.keep), _mm_mulhi_epu16(old, w.own));
}

// ---- Chained rows ----------------------------------------------------------

// Pixels xa and xb of a row that samples itself, blended from scratch.
// Within a wavefront step the pixels they read were written a step or more
// before, dozens of other pixels ago, so whole source pairs load at once.
inline void chainPair(const RowJob& row, int xa, int xb, const Weights& w)
{
    const std::ptrdiff_t ca = sourceOffset[xa], cb = sourceOffset[xb];
    const __m128i fx = _mm_unpacklo_epi64(load64(columnWeight + xa), load64(columnWeight + xb));
    const __m128i top = _mm_unpacklo_epi32(load64(row.top + ca), load64(row.top + cb));
    const __m128i bottom = _mm_unpacklo_epi32(load64(row.bottom + ca), load64(row.bottom + cb));
    const __m128i h = lerp15(widen(top), widenHigh(top), fx);
    const __m128i g = lerp15(widen(bottom), widenHigh(bottom), fx);
    const __m128i old = widen(_mm_unpacklo_epi32(load32(row.dest + 4 * xa), load32(row.dest + 4 * xb)));
    const __m128i sum = mix(lerp16(h, g, row), old, w);
    const __m128i result = _mm_packus_epi16(sum, sum);
    store32(row.dest + 4 * xa, result);
    store32(row.dest + 4 * xb, _mm_srli_si128(result, 4));
}

// Rows chained[half][0..count) of each half, each depending on the one
// before it. At step j row m does the pixels j - m columns out on both sides
// of the centre column, as one pair; once the nearer side has run out, the
// other side goes on alone (both lanes on the same pixel).
void wavefront(const int count[2], int cx, int width, const Weights& w)
{
    const int both = cx < width - cx ? cx : width - cx;
    const int reach = cx + width - cx - both;
    const bool leftLonger = cx > width - cx;
    const int longest = count[0] > count[1] ? count[0] : count[1];
    for (int step = 0; step < reach + longest - 1; ++step) {
        const int first = step - reach + 1 > 0 ? step - reach + 1 : 0;
        const int split = step - both + 1 > first ? step - both + 1 : first;
        for (int half = 0; half < 2; ++half) {
            const RowJob* rows = chained[half];
            const int end = step + 1 < count[half] ? step + 1 : count[half];
            int m = first;
            for (; m < split && m < end; ++m) {
                const int x = leftLonger ? cx - 1 - (step - m) : cx + (step - m);
                chainPair(rows[m], x, x, w);
            }
            for (; m < end; ++m)
                chainPair(rows[m], cx - 1 - (step - m), cx + (step - m), w);
        }
    }
}

// ---- Rows that sample finished rows ----------------------------------------

// The blends for the four columns from x, as two registers of two.
inline void blendFour(const std::uint8_t* row, int x, __m128i& low, __m128i& high)
{
    const std::ptrdiff_t c = sourceOffset[x];
    if (sourceOffset[x + 3] == c + 12) {
        // Sources side by side: four pixels from c, four from the next.
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c + 4));
        low = lerp15(widen(a), widen(b), load128(columnWeight + x));
        high = lerp15(widenHigh(a), widenHigh(b), load128(columnWeight + x + 2));
        return;
    }
    const __m128i p = _mm_unpacklo_epi32(load64(row + c), load64(row + sourceOffset[x + 1]));
    const __m128i q = _mm_unpacklo_epi32(load64(row + sourceOffset[x + 2]), load64(row + sourceOffset[x + 3]));
    low = lerp15(widen(p), widenHigh(p), load128(columnWeight + x));
    high = lerp15(widen(q), widenHigh(q), load128(columnWeight + x + 2));
}

inline __m128i blendOne(const std::uint8_t* row, int x)
{
    const __m128i pixels = widen(load64(row + sourceOffset[x]));
    return lerp15(pixels, _mm_srli_si128(pixels, 8), load64(columnWeight + x));
}

inline void store128(std::uint64_t* p, __m128i v)
{
    _mm_store_si128(reinterpret_cast<__m128i*>(p), v);
}

void blendRow(const std::uint8_t* row, std::uint64_t* out, int width)
{
    int x = 0;
    for (; x + 3 < width; x += 4) {
        __m128i low, high;
        blendFour(row, x, low, high);
        store128(out + x, low);
        store128(out + x + 2, high);
    }
    for (; x < width; ++x)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), blendOne(row, x));
}

// The vertical mix of two blended rows for one kind of fraction fy:
// below 32768 the signed product takes fy as it is; above, the same result
// comes from the bottom row with 65536 - fy; at 32768 the general form.
enum class Fraction { Low, High, Half };

template <Fraction kind>
inline __m128i vertical(__m128i top, __m128i bottom, const RowJob& row, __m128i rest)
{
    if constexpr (kind == Fraction::Low)
        return _mm_add_epi16(top, _mm_mulhi_epi16(_mm_sub_epi16(bottom, top), row.fy));
    else if constexpr (kind == Fraction::High)
        return _mm_add_epi16(bottom, _mm_mulhi_epi16(_mm_sub_epi16(top, bottom), rest));
    else
        return lerp16(top, bottom, row);
}

// Mixes the blended top row with the bottom row, which is blended on the
// way from `raw` (and kept for the next row) unless raw is null.
template <Fraction kind>
void mixRows(const std::uint64_t* top, std::uint64_t* bottom, const std::uint8_t* raw, const RowJob& row, int width,
             const Weights& w)
{
    const __m128i rest = _mm_sub_epi16(_mm_setzero_si128(), row.fy);  // 65536 - fy in 16 bits
    std::uint8_t* dest = row.dest;
    int x = 0;
    for (; x + 3 < width; x += 4) {
        __m128i low, high;
        if (raw) {
            blendFour(raw, x, low, high);
            store128(bottom + x, low);
            store128(bottom + x + 2, high);
        } else {
            low = load128(bottom + x);
            high = load128(bottom + x + 2);
        }
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dest + 4 * x));
        const __m128i s0 = mix(vertical<kind>(load128(top + x), low, row, rest), widen(old), w);
        const __m128i s1 = mix(vertical<kind>(load128(top + x + 2), high, row, rest), widenHigh(old), w);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 4 * x), _mm_packus_epi16(s0, s1));
    }
    for (; x < width; ++x) {
        if (raw)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(bottom + x), blendOne(raw, x));
        const __m128i s = mix(lerp16(load64(top + x), load64(bottom + x), row), widen(load32(dest + 4 * x)), w);
        store32(dest + 4 * x, _mm_packus_epi16(s, s));
    }
}

// A row whose samples blend source rows `source` and `source + 1`. Each
// source row is blended once: the top one is usually the last row's bottom.
void freeRow(const Image& image, const RowJob& row, int source, int fraction, const Weights& w)
{
    int t = blendedRow[0] == source ? 0 : blendedRow[1] == source ? 1 : -1;
    if (t < 0) {
        t = blendedRow[0] == source + 1 ? 1 : 0;
        blendRow(row.top, blended[t], image.width);
        blendedRow[t] = source;
    }
    const int b = 1 - t;
    const std::uint8_t* raw = blendedRow[b] == source + 1 ? nullptr : row.bottom;
    blendedRow[b] = source + 1;
    if (fraction < 32768)
        mixRows<Fraction::Low>(blended[t], blended[b], raw, row, image.width, w);
    else if (fraction > 32768)
        mixRows<Fraction::High>(blended[t], blended[b], raw, row, image.width, w);
    else
        mixRows<Fraction::Half>(blended[t], blended[b], raw, row, image.width, w);
}

// ---- Set-up ------------------------------------------------------------------

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
        sourceOffset[x] = 4 * static_cast<std::ptrdiff_t>(column);
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
        sourceOffset[x] = 4 * static_cast<std::ptrdiff_t>(column);
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
    bool inside(int height) const { return dest >= 0 && dest < height; }
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

    RowWalk walks[2] = {{cy - 1, cy - 1, 0, -1}, {cy, cy, 0, 1}};

    // Chained rows first, a batch from each half at a time.
    for (;;) {
        int count[2] = {0, 0};
        for (int half = 0; half < 2; ++half) {
            RowWalk& walk = walks[half];
            for (; count[half] < wavefrontRows && walk.inside(height) && walk.chained(); walk.next(S))
                chained[half][count[half]++] = walk.job(image);
        }
        if (count[0] == 0 && count[1] == 0)
            break;
        wavefront(count, cx, width, w);
    }
    for (RowWalk& walk : walks) {
        blendedRow[0] = blendedRow[1] = -1;
        for (; walk.inside(height); walk.next(S))
            freeRow(image, walk.job(image), walk.source, walk.fraction, w);
    }
}
