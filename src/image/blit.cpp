// The saturating adds: image onto image, scaled image onto image, and a
// constant colour onto every pixel. Four pixels at a time in SSE2; the odd
// pixels at the end of a row go through the same arithmetic one at a time.
// A scaled image with a factor above 0 goes eight pixels at a time where
// the processor has AVX2 (wide::addScaledRow).
#include "image/ops.hpp"

#include <cmath>
#include <cstdint>
#include "image/simd.hpp"
#include "image/wide.hpp"

namespace {

inline __m128i load4(const std::uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store4(std::uint32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline __m128i load1(const std::uint32_t* p) { return _mm_cvtsi32_si128(static_cast<int>(*p)); }
inline void store1(std::uint32_t* p, __m128i v) { *p = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v)); }

// Calls row(s, d, w) for each row of the w x h block, clipped to both images.
template <typename Row>
void forRows(const Image& src, Image& dst, int srcX, int srcY, int dstX, int dstY, int w, int h, Row row)
{
    if (!src.pixels || !dst.pixels)
        return;
    if (!clipCopyRect(srcX, srcY, dstX, dstY, w, h, src.width, src.height, dst.width, dst.height))
        return;
    for (int r = 0; r < h; ++r)
        row(src.row(srcY + r) + srcX, dst.row(dstY + r) + dstX, w);
}

// Runs op over the w x h block of each pixel pair, row by row.
template <typename Op>
void blitRows(const Image& src, Image& dst, int srcX, int srcY, int dstX, int dstY, int w, int h, Op op)
{
    forRows(src, dst, srcX, srcY, dstX, dstY, w, h, [&](const std::uint32_t* s, std::uint32_t* d, int w) {
        // The odd pixels before the first 16-byte boundary of the destination
        // row, so that the stores (and their loads) do not straddle cache lines.
        int x = 0;
        for (; x < w && (reinterpret_cast<std::uintptr_t>(d + x) & 15) != 0; ++x)
            store1(d + x, op(load1(s + x), load1(d + x)));
        for (; x + 4 <= w; x += 4)
            store4(d + x, op(load4(s + x), load4(d + x)));
        for (; x < w; ++x)
            store1(d + x, op(load1(s + x), load1(d + x)));
    });
}

// The 16-bit multiplier of a blend factor; kept within -1..1 because a
// larger factor would wrap to a negative one.
int scaleFactor(float factor)
{
    if (!(factor == factor))
        return 0;
    const double f = std::fmax(-1.0, std::fmin(1.0, static_cast<double>(factor)));
    return static_cast<int>(f * 32767.0);
}

} // namespace

void addImage(const Image& src, Image& dst, int srcX, int srcY, int dstX, int dstY, int w, int h)
{
    blitRows(src, dst, srcX, srcY, dstX, dstY, w, h,
             [](__m128i s, __m128i d) { return _mm_adds_epu8(d, s); });
}

void addImageScaled(const Image& src, Image& dst, int srcX, int srcY, int dstX, int dstY,
                    int w, int h, float factor)
{
    const int a = scaleFactor(factor);
    if (a == 0)
        return;
    if (a > 0) {
        // (s * a) >> 15 is the high half of s * 2a, an unsigned product that
        // needs no unpacking: the even bytes are masked into the low halves
        // of 16-bit lanes, the odd ones shifted there and back. The sums
        // then clamp in one saturating byte add.
        if (wideVectors()) {
            forRows(src, dst, srcX, srcY, dstX, dstY, w, h,
                    [a](const std::uint32_t* s, std::uint32_t* d, int w) { wide::addScaledRow(s, d, w, a); });
            return;
        }
        if (a == 32767) {
            // The factor 1: (s * 32767) >> 15 is s - 1 for every s from 1
            // to 255 and 0 for 0, one saturating byte subtraction.
            const __m128i one = _mm_set1_epi8(1);
            blitRows(src, dst, srcX, srcY, dstX, dstY, w, h,
                     [=](__m128i s, __m128i d) { return _mm_adds_epu8(d, _mm_subs_epu8(s, one)); });
            return;
        }
        const __m128i mul = _mm_set1_epi16(static_cast<short>(2 * a));
        const __m128i even = _mm_set1_epi16(0x00FF);
        blitRows(src, dst, srcX, srcY, dstX, dstY, w, h, [=](__m128i s, __m128i d) {
            const __m128i lo = _mm_mulhi_epu16(_mm_and_si128(s, even), mul);
            const __m128i hi = _mm_slli_epi16(_mm_mulhi_epu16(_mm_srli_epi16(s, 8), mul), 8);
            return _mm_adds_epu8(d, _mm_or_si128(lo, hi));
        });
        return;
    }
    const __m128i mul = _mm_set1_epi16(static_cast<short>(a));
    const __m128i zero = _mm_setzero_si128();
    // (s * a) >> 15 is the high half of (2 s) * a; d + that stays well inside
    // 16 bits, and the pack clamps it to 0..255.
    blitRows(src, dst, srcX, srcY, dstX, dstY, w, h, [=](__m128i s, __m128i d) {
        const __m128i sLo = _mm_slli_epi16(_mm_unpacklo_epi8(s, zero), 1);
        const __m128i sHi = _mm_slli_epi16(_mm_unpackhi_epi8(s, zero), 1);
        const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(d, zero), _mm_mulhi_epi16(sLo, mul));
        const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(d, zero), _mm_mulhi_epi16(sHi, mul));
        return _mm_packus_epi16(lo, hi);
    });
}

void addBoxScaled(const Image& src, const PixelBox& box, Image& dst, int x, int y, float factor)
{
    addImageScaled(src, dst, box.x, box.y, x + box.x, y + box.y, box.width, box.height, factor);
}

void addColour(Image& image, Colour colour)
{
    if (!image.pixels || image.width <= 0 || image.height <= 0 || colour == 0)
        return;
    const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
    // One run over the whole block when rows follow one another directly.
    const bool packed = image.pitch == image.width * 4;
    const int rows = packed ? 1 : image.height;
    const long long runLength = packed ? static_cast<long long>(image.width) * image.height : image.width;
    for (int r = 0; r < rows; ++r) {
        std::uint32_t* p = image.row(r);
        long long x = 0;
        for (; x + 8 <= runLength; x += 8) {
            store4(p + x, _mm_adds_epu8(load4(p + x), c));
            store4(p + x + 4, _mm_adds_epu8(load4(p + x + 4), c));
        }
        for (; x < runLength; ++x)
            store1(p + x, _mm_adds_epu8(load1(p + x), c));
    }
}
