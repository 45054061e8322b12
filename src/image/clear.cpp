// The two fills: the whole image, and a rectangle of it.
#include "image/ops.hpp"

#include <algorithm>
#include "image/simd.hpp"

namespace {

void fillRun(std::uint32_t* p, std::size_t count, Colour colour)
{
    const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 4), c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 8), c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 12), c);
    }
    for (; i + 4 <= count; i += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), c);
    for (; i < count; ++i)
        p[i] = colour;
}

} // namespace

void clearImage(Image& image, Colour colour)
{
    if (!image.pixels || image.width <= 0 || image.height <= 0)
        return;
    if (image.pitch == image.width * 4) {
        fillRun(image.pixels, static_cast<std::size_t>(image.width) * image.height, colour);
        return;
    }
    for (int y = 0; y < image.height; ++y)
        fillRun(image.row(y), static_cast<std::size_t>(image.width), colour);
}

void fillRect(Image& image, int x0, int y0, int x1, int y1, Colour colour)
{
    // Kept inside the image, so a rectangle reaching past an edge fills only
    // what is there.
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, image.width - 1);
    y1 = std::min(y1, image.height - 1);
    if (!image.pixels || x0 > x1 || y0 > y1)
        return;
    for (int y = y0; y <= y1; ++y)
        fillRun(image.row(y) + x0, static_cast<std::size_t>(x1 - x0 + 1), colour);
}
