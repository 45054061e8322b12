// Working values are 16-bit with 7 fractional bits (a byte v is v x 128).
// Each step moves the running value y towards the target by
// 4 x floor((target - y) x c / 65536), which is the high half of a signed
// 16-bit product: one pmulhw per two pixels. Lines are independent, so
// eight of them run side by side to hide the latency of each step.
#include "image/blur.hpp"

#include "image/noise.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include "image/simd.hpp"

namespace {

constexpr int groupLines = 8;                   // lines blurred together
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
// values times 128. Contiguous: the eight pixels lie side by side.
template <bool Contiguous>
inline void gather(std::uint8_t* const* line, std::ptrdiff_t offset, __m128i* out)
{
    const __m128i zero = _mm_setzero_si128();
    if constexpr (Contiguous) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line[0] + offset));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line[0] + offset + 16));
        out[0] = _mm_slli_epi16(_mm_unpacklo_epi8(a, zero), 7);
        out[1] = _mm_slli_epi16(_mm_unpackhi_epi8(a, zero), 7);
        out[2] = _mm_slli_epi16(_mm_unpacklo_epi8(b, zero), 7);
        out[3] = _mm_slli_epi16(_mm_unpackhi_epi8(b, zero), 7);
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
    const __m128i a = _mm_packus_epi16(_mm_srli_epi16(value[0], 7), _mm_srli_epi16(value[1], 7));
    const __m128i b = _mm_packus_epi16(_mm_srli_epi16(value[2], 7), _mm_srli_epi16(value[3], 7));
    if constexpr (Contiguous) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line[0] + offset), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line[0] + offset + 16), b);
    } else {
        alignas(16) std::uint32_t px[groupLines];
        _mm_store_si128(reinterpret_cast<__m128i*>(px), a);
        _mm_store_si128(reinterpret_cast<__m128i*>(px + 4), b);
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
    const __m128i c = _mm_set_epi16(hold(cX), hold(cR), hold(cG), hold(cB),
                                    hold(cX), hold(cR), hold(cG), hold(cB));

    auto* first = static_cast<std::uint8_t*>(base);
    std::uint8_t* line[groupLines];
    for (int l = 0; l < lines; l += groupLines) {
        const int inGroup = std::min(groupLines, lines - l);
        for (int i = 0; i < groupLines; ++i)
            line[i] = first + static_cast<std::ptrdiff_t>(l + std::min(i, inGroup - 1)) * lineStep;
        if (lineStep == 4 && inGroup == groupLines)
            blurGroup<true>(line, elementStep, count, c);
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
