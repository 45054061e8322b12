// The AVX2 bodies of image/wide.hpp, compiled with -mavx2 on x86-64 only.
// Each step is its 16-byte form's, done on eight pixels at once. Of the
// project's own code it includes only its header and loop bodies kept to
// unnamed namespaces, so that no shared inline function is compiled here
// with AVX2 and then picked by the linker for callers that run on any x86-64.
#include "image/wide.hpp"

#include "image/least_blur.hpp"

#include <immintrin.h>

namespace {

// The longest row blurSixteenRows takes (blurLines' own limit).
constexpr int longestRow = 2048;

// Forward results of sixteen rows, four registers per pixel.
__m256i scratch[longestRow * 4];

// As the 16-byte blur: y + 4 x floor((target - y) x c / 65536) per 16-bit lane.
inline __m256i step(__m256i value, __m256i target, __m256i c)
{
    return _mm256_add_epi16(value, _mm256_slli_epi16(_mm256_mulhi_epi16(_mm256_sub_epi16(target, value), c), 2));
}

// Four pixels of rows a and b in the low and high halves of one register.
inline __m256i loadTwo(const std::uint8_t* a, const std::uint8_t* b)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

inline void storeTwo(std::uint8_t* a, std::uint8_t* b, __m256i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(a), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b), _mm256_extracti128_si256(v, 1));
}

// 32-byte registers for the least blur: lines 0..3 in the low halves,
// 4..7 in the high halves.
struct WideBytes {
    using V = __m256i;
    static V zero() { return _mm256_setzero_si256(); }
    static V equal(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
    static V subSaturated(V a, V b) { return _mm256_subs_epu8(a, b); }
    static V add(V a, V b) { return _mm256_add_epi8(a, b); }
    static V andNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    static V orBits(V a, V b) { return _mm256_or_si256(a, b); }
    static V low32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V high32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V low64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V high64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    static V load(std::uint8_t* const* line, int r, int offset) { return loadTwo(line[r] + offset, line[r + 4] + offset); }
    static void store(std::uint8_t* const* line, int r, int offset, V v)
    {
        storeTwo(line[r] + offset, line[r + 4] + offset, v);
    }
};

__m256i risingFrom[longestRow];

} // namespace

void wide::tintRow(std::uint32_t* p, int count, int mul, int add)
{
    // As the 16-byte form: blue and red in the low halves of 16-bit lanes,
    // green (and the fourth byte, whose multiplier is 0) shifted there and
    // back; the saturating byte add is the min().
    const __m256i even = _mm256_set1_epi16(0x00FF);
    const __m256i mEven = _mm256_set1_epi16(static_cast<short>(mul << 8));
    const __m256i mOdd = _mm256_set1_epi32(mul << 8);
    const __m256i a = _mm256_set1_epi32(add * 0x010101);
    const auto tint = [&](__m256i v) {
        const __m256i lo = _mm256_mulhi_epu16(_mm256_and_si256(v, even), mEven);
        const __m256i hi = _mm256_slli_epi16(_mm256_mulhi_epu16(_mm256_srli_epi16(v, 8), mOdd), 8);
        return _mm256_adds_epu8(_mm256_or_si256(lo, hi), a);
    };
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        auto* q = reinterpret_cast<__m256i*>(p + x);
        const __m256i v0 = _mm256_loadu_si256(q), v1 = _mm256_loadu_si256(q + 1);
        _mm256_storeu_si256(q, tint(v0));
        _mm256_storeu_si256(q + 1, tint(v1));
    }
    if (x + 8 <= count) {
        auto* q = reinterpret_cast<__m256i*>(p + x);
        _mm256_storeu_si256(q, tint(_mm256_loadu_si256(q)));
        x += 8;
    }
    if (x < count) {
        // The last one to seven pixels: lanes past the row are neither read nor written.
        const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(count - x), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        auto* q = reinterpret_cast<int*>(p + x);
        _mm256_maskstore_epi32(q, keep, tint(_mm256_maskload_epi32(q, keep)));
    }
}

namespace {

// addScaledRow with the sum for one pixel group given by add(from, onto).
template <typename Add>
[[gnu::always_inline]] inline void addRow(const std::uint32_t* s, std::uint32_t* d, int count, Add add)
{
    // Pixels at + first .. at + end - 1 (0 <= first < end <= 8); the other
    // lanes are neither read nor written.
    const auto masked = [&](int at, int first, int end) {
        const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        const __m256i keep = _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(first), lane),
                                                 _mm256_cmpgt_epi32(_mm256_set1_epi32(end), lane));
        const auto* from = reinterpret_cast<const int*>(s + at);
        auto* onto = reinterpret_cast<int*>(d + at);
        _mm256_maskstore_epi32(onto, keep, add(_mm256_maskload_epi32(from, keep), _mm256_maskload_epi32(onto, keep)));
    };
    // Up to the first 32-byte boundary of the destination, so that the
    // stores (and their loads) do not straddle cache lines.
    int x = static_cast<int>((32 - (reinterpret_cast<std::uintptr_t>(d) & 31)) / 4 % 8);
    if (x >= count) {
        if (count > 0)
            masked(0, 0, count);
        return;
    }
    if (x > 0)
        masked(0, 0, x);
    for (; x + 8 <= count; x += 8) {
        const auto* from = reinterpret_cast<const __m256i*>(s + x);
        auto* onto = reinterpret_cast<__m256i*>(d + x);
        _mm256_store_si256(onto, add(_mm256_loadu_si256(from), _mm256_load_si256(onto)));
    }
    if (x < count)
        masked(x, 0, count - x);
}

} // namespace

void wide::addScaledRow(const std::uint32_t* s, std::uint32_t* d, int count, int a)
{
    if (a == 32767) {
        // The factor 1: (s * 32767) >> 15 is s - 1 for every s from 1 to
        // 255 and 0 for 0, one saturating byte subtraction.
        const __m256i one = _mm256_set1_epi8(1);
        addRow(s, d, count,
               [&](__m256i from, __m256i onto) { return _mm256_adds_epu8(onto, _mm256_subs_epu8(from, one)); });
        return;
    }
    // As the 16-byte form: (s * a) >> 15 is the high half of s * 2a, the
    // even bytes masked into the low halves of 16-bit lanes, the odd ones
    // shifted there and back; the sums clamp in one saturating byte add.
    const __m256i mul = _mm256_set1_epi16(static_cast<short>(2 * a));
    const __m256i even = _mm256_set1_epi16(0x00FF);
    addRow(s, d, count, [&](__m256i from, __m256i onto) {
        const __m256i lo = _mm256_mulhi_epu16(_mm256_and_si256(from, even), mul);
        const __m256i hi = _mm256_slli_epi16(_mm256_mulhi_epu16(_mm256_srli_epi16(from, 8), mul), 8);
        return _mm256_adds_epu8(onto, _mm256_or_si256(lo, hi));
    });
}

// Register j of a pixel holds rows 4j, 4j + 1 (low half) and 4j + 2,
// 4j + 3 (high half), 16-bit values times 128. The halves of a register
// never mix: each instruction below works within them as the 16-byte form
// does on one pair of rows, so every row takes the same steps.
void wide::blurSixteenRows(std::uint8_t* const* line, int count, const short coefficients[4])
{
    const __m256i c = _mm256_set_epi16(coefficients[3], coefficients[2], coefficients[1], coefficients[0],
                                       coefficients[3], coefficients[2], coefficients[1], coefficients[0],
                                       coefficients[3], coefficients[2], coefficients[1], coefficients[0],
                                       coefficients[3], coefficients[2], coefficients[1], coefficients[0]);
    const __m256i zero = _mm256_setzero_si256();
    // The four pixels s = 0..3 of a block of rows 4j..4j+3, widened.
    const auto widen = [&](const std::uint8_t* const* rows, int offset, __m256i x[4]) {
        const __m256i a = loadTwo(rows[0] + offset, rows[2] + offset);
        const __m256i b = loadTwo(rows[1] + offset, rows[3] + offset);
        const __m256i low = _mm256_unpacklo_epi32(a, b);   // pixels 0 and 1, row by row
        const __m256i high = _mm256_unpackhi_epi32(a, b);  // pixels 2 and 3
        x[0] = _mm256_slli_epi16(_mm256_unpacklo_epi8(low, zero), 7);
        x[1] = _mm256_slli_epi16(_mm256_unpackhi_epi8(low, zero), 7);
        x[2] = _mm256_slli_epi16(_mm256_unpacklo_epi8(high, zero), 7);
        x[3] = _mm256_slli_epi16(_mm256_unpackhi_epi8(high, zero), 7);
    };
    __m256i y[4];
    for (int j = 0; j < 4; ++j) {
        __m256i x[4];
        widen(line + 4 * j, 0, x);
        y[j] = x[0];
    }
    const int blocks = count / 4;
    for (int b = 0; b < blocks; ++b) {
        __m256i* const out = scratch + 16 * b;
        for (int j = 0; j < 4; ++j) {
            __m256i x[4];
            widen(line + 4 * j, 16 * b, x);
            __m256i v = y[j];
            for (int s = 0; s < 4; ++s)
                out[4 * s + j] = v = step(v, x[s], c);
            y[j] = v;
        }
    }
    for (int b = blocks - 1; b >= 0; --b) {
        const __m256i* const in = scratch + 16 * b;
        for (int j = 0; j < 4; ++j) {
            __m256i v[4];
            v[3] = step(y[j], in[12 + j], c);
            v[2] = step(v[3], in[8 + j], c);
            v[1] = step(v[2], in[4 + j], c);
            v[0] = step(v[1], in[j], c);
            y[j] = v[0];
            // Bytes (never above 255): pixels 0 and 1, then 2 and 3, of
            // each row pair; then each row's four in order.
            const __m256i low = _mm256_packus_epi16(_mm256_srli_epi16(v[0], 7), _mm256_srli_epi16(v[1], 7));
            const __m256i high = _mm256_packus_epi16(_mm256_srli_epi16(v[2], 7), _mm256_srli_epi16(v[3], 7));
            const __m256i lowByRow = _mm256_shuffle_epi32(low, _MM_SHUFFLE(3, 1, 2, 0));
            const __m256i highByRow = _mm256_shuffle_epi32(high, _MM_SHUFFLE(3, 1, 2, 0));
            std::uint8_t* const* rows = line + 4 * j;
            storeTwo(rows[0] + 16 * b, rows[2] + 16 * b,
                     _mm256_unpacklo_epi64(lowByRow, highByRow));
            storeTwo(rows[1] + 16 * b, rows[3] + 16 * b,
                     _mm256_unpackhi_epi64(lowByRow, highByRow));
        }
    }
}

void wide::blurLeastEightRows(std::uint8_t* const* line, int count)
{
    blurLeastLines<WideBytes>(line, count, risingFrom);
}
