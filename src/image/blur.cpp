// Working values are 16-bit with 7 fractional bits (a byte v is v x 128).
// Each step moves the running value y towards the target by
// 4 x floor((target - y) x c / 65536), which is the high half of a signed
// 16-bit product: one pmulhw per two pixels. Lines are independent, so
// sixteen of them run side by side: eight chains of steps are enough to
// hide the latency of each step.
#include "image/blur.hpp"

#include "image/least_blur.hpp"
#include "image/noise.hpp"
#include "image/wide.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include "image/simd.hpp"

namespace {

constexpr int groupLines = 16;                  // lines blurred together
constexpr int groupRegisters = groupLines / 2;  // two pixels per register

// Forward results of one group, pixel after pixel, kept for the backward pass.
__m128i scratch[maxBlurLength * groupRegisters];

inline __m128i step(__m128i value, __m128i target, __m128i c)
{
    return _mm_add_epi16(value, _mm_slli_epi16(_mm_mulhi_epi16(_mm_sub_epi16(target, value), c), 2));
}

inline __m128i loadPixel(const std::uint8_t* p)
{
    int v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

// The pixels at byte offset `offset` of the group's eight lines, as 16-bit
// values times 128. Contiguous: the group's pixels lie side by side.
template <bool Contiguous>
inline void gather(std::uint8_t* const* line, std::ptrdiff_t offset, __m128i* out)
{
    const __m128i zero = _mm_setzero_si128();
    if constexpr (Contiguous) {
        for (int j = 0; j < groupRegisters; j += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line[0] + offset + 8 * j));
            out[j] = _mm_slli_epi16(_mm_unpacklo_epi8(a, zero), 7);
            out[j + 1] = _mm_slli_epi16(_mm_unpackhi_epi8(a, zero), 7);
        }
    } else {
        for (int j = 0; j < groupRegisters; ++j) {
            const __m128i pair = _mm_unpacklo_epi32(loadPixel(line[2 * j] + offset),
                                                    loadPixel(line[2 * j + 1] + offset));
            out[j] = _mm_slli_epi16(_mm_unpacklo_epi8(pair, zero), 7);
        }
    }
}

// Writes floor(value / 128) back as bytes (the values never exceed 32640,
// so the pack's clamp to 255 never bites).
template <bool Contiguous>
inline void scatter(std::uint8_t* const* line, std::ptrdiff_t offset, const __m128i* value)
{
    alignas(16) std::uint32_t px[groupLines];
    for (int j = 0; j < groupRegisters; j += 2) {
        const __m128i a = _mm_packus_epi16(_mm_srli_epi16(value[j], 7), _mm_srli_epi16(value[j + 1], 7));
        if constexpr (Contiguous)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(line[0] + offset + 8 * j), a);
        else
            _mm_store_si128(reinterpret_cast<__m128i*>(px + 2 * j), a);
    }
    if constexpr (!Contiguous) {
        // Lines repeated to fill a short group get the same value twice.
        for (int i = 0; i < groupLines; ++i)
            std::memcpy(line[i] + offset, &px[i], 4);
    }
}

template <bool Contiguous>
void blurGroup(std::uint8_t* const* line, std::ptrdiff_t elementStep, int count, __m128i c)
{
    __m128i y[groupRegisters], x[groupRegisters];
    gather<Contiguous>(line, 0, y);
    std::ptrdiff_t offset = 0;
    for (int k = 0; k < count; ++k, offset += elementStep) {
        gather<Contiguous>(line, offset, x);
        for (int j = 0; j < groupRegisters; ++j)
            scratch[k * groupRegisters + j] = y[j] = step(y[j], x[j], c);
    }
    // Backward from the last forward value, in place.
    for (int k = count - 1; k >= 0; --k) {
        offset -= elementStep;
        for (int j = 0; j < groupRegisters; ++j)
            y[j] = step(y[j], scratch[k * groupRegisters + j], c);
        scatter<Contiguous>(line, offset, y);
    }
}

// Four neighbouring pixels of each of the group's lines, read as one
// 16-byte load per line and turned into the registers of four steps: x[s]
// holds pixel s of every line pair, as gather gives it.
inline void gatherFour(std::uint8_t* const* line, std::ptrdiff_t offset, __m128i (*x)[groupRegisters])
{
    const __m128i zero = _mm_setzero_si128();
    for (int j = 0; j < groupRegisters; ++j) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line[2 * j] + offset));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line[2 * j + 1] + offset));
        const __m128i low = _mm_unpacklo_epi32(a, b);   // a0 b0 a1 b1
        const __m128i high = _mm_unpackhi_epi32(a, b);  // a2 b2 a3 b3
        x[0][j] = _mm_slli_epi16(_mm_unpacklo_epi8(low, zero), 7);
        x[1][j] = _mm_slli_epi16(_mm_unpackhi_epi8(low, zero), 7);
        x[2][j] = _mm_slli_epi16(_mm_unpacklo_epi8(high, zero), 7);
        x[3][j] = _mm_slli_epi16(_mm_unpackhi_epi8(high, zero), 7);
    }
}

// The reverse of gatherFour: four steps' values written back as bytes, one
// 16-byte store per line. Lines repeated to fill a short group get the same
// bytes twice.
inline void scatterFour(std::uint8_t* const* line, std::ptrdiff_t offset, const __m128i (*y)[groupRegisters])
{
    for (int j = 0; j < groupRegisters; ++j) {
        const __m128i low = _mm_packus_epi16(_mm_srli_epi16(y[0][j], 7), _mm_srli_epi16(y[1][j], 7));
        const __m128i high = _mm_packus_epi16(_mm_srli_epi16(y[2][j], 7), _mm_srli_epi16(y[3][j], 7));
        const __m128i lowByLine = _mm_shuffle_epi32(low, _MM_SHUFFLE(3, 1, 2, 0));    // a0 a1 b0 b1
        const __m128i highByLine = _mm_shuffle_epi32(high, _MM_SHUFFLE(3, 1, 2, 0));  // a2 a3 b2 b3
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line[2 * j] + offset), _mm_unpacklo_epi64(lowByLine, highByLine));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line[2 * j + 1] + offset),
                         _mm_unpackhi_epi64(lowByLine, highByLine));
    }
}

// blurGroup for lines whose pixels lie side by side (rows): whole blocks of
// four pixels are moved with one load or store per line instead of one per
// pixel; the steps and their order are those of blurGroup.
void blurGroupAlong(std::uint8_t* const* line, int count, __m128i c)
{
    __m128i y[groupRegisters];
    gather<false>(line, 0, y);
    const int blocks = count / 4;
    for (int b = 0; b < blocks; ++b) {
        __m128i x[4][groupRegisters];
        gatherFour(line, std::ptrdiff_t{16} * b, x);
        for (int s = 0; s < 4; ++s)
            for (int j = 0; j < groupRegisters; ++j)
                scratch[(4 * b + s) * groupRegisters + j] = y[j] = step(y[j], x[s][j], c);
    }
    for (int k = 4 * blocks; k < count; ++k) {
        __m128i x[groupRegisters];
        gather<false>(line, std::ptrdiff_t{4} * k, x);
        for (int j = 0; j < groupRegisters; ++j)
            scratch[k * groupRegisters + j] = y[j] = step(y[j], x[j], c);
    }
    // Backward from the last forward value, in place: the pixels past the
    // last whole block first, then the blocks from the end.
    for (int k = count - 1; k >= 4 * blocks; --k) {
        for (int j = 0; j < groupRegisters; ++j)
            y[j] = step(y[j], scratch[k * groupRegisters + j], c);
        scatter<false>(line, std::ptrdiff_t{4} * k, y);
    }
    for (int b = blocks - 1; b >= 0; --b) {
        __m128i out[4][groupRegisters];
        for (int s = 3; s >= 0; --s)
            for (int j = 0; j < groupRegisters; ++j)
                out[s][j] = y[j] = step(y[j], scratch[(4 * b + s) * groupRegisters + j], c);
        scatterFour(line, std::ptrdiff_t{16} * b, out);
    }
}

// 16-byte registers for the least blur: four lines, one in each register.
struct NarrowBytes {
    using V = __m128i;
    static V zero() { return _mm_setzero_si128(); }
    static V equal(V a, V b) { return _mm_cmpeq_epi8(a, b); }
    static V subSaturated(V a, V b) { return _mm_subs_epu8(a, b); }
    static V add(V a, V b) { return _mm_add_epi8(a, b); }
    static V andNot(V a, V b) { return _mm_andnot_si128(a, b); }
    static V orBits(V a, V b) { return _mm_or_si128(a, b); }
    static V low32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V high32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V low64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V high64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    static V load(std::uint8_t* const* line, int r, int offset)
    {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(line[r] + offset));
    }
    static void store(std::uint8_t* const* line, int r, int offset, V v)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line[r] + offset), v);
    }
};

__m128i risingFrom[maxBlurLength];

int coefficient(float factor)
{
    return static_cast<int>(static_cast<double>(clampUnit(factor)) * 16383.0);
}

} // namespace

void blurLines(void* base, int elementStep, int lineStep, int count, int lines,
               int cX, int cR, int cG, int cB)
{
    if (!base || count <= 0 || lines <= 0)
        return;
    if (count > maxBlurLength) {
        std::fprintf(stderr, "blurLines: a line of %d pixels is longer than the %d the blur holds; left unblurred\n",
                     count, maxBlurLength);
        return;
    }
    // Outside 0..16383 a step could overshoot its target and wrap.
    auto hold = [](int v) { return static_cast<short>(std::clamp(v, 0, 16383)); };
    const short coefficients[4] = {hold(cB), hold(cG), hold(cR), hold(cX)};
    const __m128i c = _mm_set_epi16(coefficients[3], coefficients[2], coefficients[1], coefficients[0],
                                    coefficients[3], coefficients[2], coefficients[1], coefficients[0]);

    auto* first = static_cast<std::uint8_t*>(base);
    std::uint8_t* line[groupLines];
    // Every coefficient 16383 along lines of whole blocks of four pixels:
    // worked out on the bytes, eight or four lines at a time (the last
    // group filled up with its last line).
    const bool least = coefficients[0] == 16383 && coefficients[1] == 16383 && coefficients[2] == 16383 &&
                       coefficients[3] == 16383;
    if (least && elementStep == 4 && lineStep >= 4 * count && count % 4 == 0) {
        const int together = wideVectors() ? 8 : 4;
        for (int l = 0; l < lines; l += together) {
            for (int i = 0; i < together; ++i)
                line[i] = first + static_cast<std::ptrdiff_t>(std::min(l + i, lines - 1)) * lineStep;
            if (together == 8)
                wide::blurLeastEightRows(line, count);
            else
                blurLeastLines<NarrowBytes>(line, count, risingFrom);
        }
        return;
    }
    for (int l = 0; l < lines; l += groupLines) {
        const int inGroup = std::min(groupLines, lines - l);
        for (int i = 0; i < groupLines; ++i)
            line[i] = first + static_cast<std::ptrdiff_t>(l + std::min(i, inGroup - 1)) * lineStep;
        if (lineStep == 4 && inGroup == groupLines)
            blurGroup<true>(line, elementStep, count, c);
        else if (elementStep == 4 && lineStep >= 4 * count && count % 4 == 0 && wideVectors())
            wide::blurSixteenRows(line, count, coefficients);
        else if (elementStep == 4 && lineStep >= 4 * count)  // side by side, lines apart
            blurGroupAlong(line, count, c);
        else
            blurGroup<false>(line, elementStep, count, c);
    }
}

void blurRows(Image& image, float fX, float fR, float fG, float fB)
{
    blurLines(image.pixels, 4, image.pitch, image.width, image.height,
              coefficient(fX), coefficient(fR), coefficient(fG), coefficient(fB));
}

void blurColumns(Image& image, float fX, float fR, float fG, float fB)
{
    blurLines(image.pixels, image.pitch, 4, image.height, image.width,
              coefficient(fX), coefficient(fR), coefficient(fG), coefficient(fB));
}

void blurImage(Image& image, float fX, float fR, float fG, float fB)
{
    blurRows(image, fX, fR, fG, fB);
    blurColumns(image, fX, fR, fG, fB);
}
