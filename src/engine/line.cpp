#include "engine/line.hpp"

#include "engine/line_blend.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

void blendPixelPair(std::uint32_t* first, std::uint32_t* second, std::int32_t f, Colour colour)
{
    const PairBlender blend(colour);
    blend(first, second, f);
}

namespace {

// old·(32767 - w)/32768 + colour·w/32768 per channel, each rounded down;
// the fourth byte becomes 0.
std::uint32_t blendScalar(std::uint32_t old, Colour colour, std::int32_t w)
{
    std::uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const std::int32_t o = static_cast<std::int32_t>((old >> shift) & 0xFF);
        const std::int32_t c = static_cast<std::int32_t>((colour >> shift) & 0xFF);
        out |= static_cast<std::uint32_t>(((o * (32767 - w)) >> 15) + ((c * w) >> 15)) << shift;
    }
    return out;
}

struct Target {
    Image& image;
    Colour colour;
    PairBlender blend;

    bool inside(int column, int row) const
    {
        return static_cast<unsigned>(column) < static_cast<unsigned>(image.width) &&
               static_cast<unsigned>(row) < static_cast<unsigned>(image.height);
    }

    // The pixel on the line with colour weight 32767 - f and its neighbour
    // with f; a pixel outside the image is left out.
    [[gnu::always_inline]] void blendPair(int column0, int row0, int column1, int row1, std::int32_t f) const
    {
        const bool first = inside(column0, row0), second = inside(column1, row1);
        if (first && second) {
            blend(image.row(row0) + column0, image.row(row1) + column1, f);
            return;
        }
        if (first)
            image.row(row0)[column0] = blendScalar(image.row(row0)[column0], colour, 32767 - f);
        if (second)
            image.row(row1)[column1] = blendScalar(image.row(row1)[column1], colour, f);
    }
};

bool outside(float x0, float y0, float x1, float y1, float left, float top, float right, float bottom)
{
    return y1 < top || y0 > bottom || (x0 > right && x1 > right) || (x0 < left && x1 < left);
}

// After clipping a line that crosses the rectangle has its end points on
// or inside it; one that passes outside a corner may not.
bool near(float v, float lo, float hi)
{
    return v >= lo - 0.5f && v <= hi + 0.5f;
}

std::int32_t fraction15(double p)
{
    return static_cast<std::int32_t>(p * 32768.0);
}

} // namespace

void drawLineAA(Image& image, float x0, float y0, float x1, float y1, Colour colour)
{
    if (!image.pixels)
        return;
    // The clip rectangle, kept inside the image.
    const float left = std::max(image.clipLeft, 0.0f);
    const float top = std::max(image.clipTop, 0.0f);
    const float right = std::min(image.clipRight, static_cast<float>(image.width - 1));
    const float bottom = std::min(image.clipBottom, static_cast<float>(image.height - 1));
    if (!(left <= right && top <= bottom))
        return;

    if (y1 < y0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    if (outside(x0, y0, x1, y1, left, top, right, bottom))
        return;
    const double dx = static_cast<double>(x1) - x0;
    const double dy = static_cast<double>(y1) - y0;
    if (x0 < left) {
        y0 = static_cast<float>(y0 + (left - static_cast<double>(x0)) * dy / dx);
        x0 = left;
    }
    if (x1 < left) {
        y1 = static_cast<float>(y1 + (left - static_cast<double>(x1)) * dy / dx);
        x1 = left;
    }
    if (y0 < top) {
        x0 = static_cast<float>(x0 + (top - static_cast<double>(y0)) * dx / dy);
        y0 = top;
    }
    if (x0 > right) {
        y0 = static_cast<float>(y0 - (static_cast<double>(x0) - right) * dy / dx);
        x0 = right;
    }
    if (x1 > right) {
        y1 = static_cast<float>(y1 - (static_cast<double>(x1) - right) * dy / dx);
        x1 = right;
    }
    if (y1 > bottom) {
        x1 = static_cast<float>(x1 - (static_cast<double>(y1) - bottom) * dx / dy);
        y1 = bottom;
    }
    if (outside(x0, y0, x1, y1, left, top, right, bottom))
        return;
    // Also refuses NaN end points.
    if (!(near(x0, left, right) && near(x1, left, right) && near(y0, top, bottom) && near(y1, top, bottom)))
        return;

    const Target target{image, colour, PairBlender(colour)};
    const double cdx = static_cast<double>(x1) - x0;
    const double cdy = static_cast<double>(y1) - y0;
    const double adx = std::fabs(cdx);
    const double ady = std::fabs(cdy);
    if (adx > ady) {
        const int n = static_cast<int>(adx + 0.5);
        int column = static_cast<int>(x0);
        const int step = x1 >= x0 ? 1 : -1;
        std::int32_t y = fraction15(y0);
        const std::int32_t yStep = fraction15(cdy / adx);
        for (int i = 0; i < n; ++i, column += step, y += yStep) {
            const std::int32_t f = y & 0x7FFF;
            target.blendPair(column, y >> 15, column, (y >> 15) + 1, f);
        }
    } else {
        const int n = static_cast<int>(ady + 0.5);
        int row = static_cast<int>(y0);
        std::int32_t x = fraction15(x0);
        const std::int32_t xStep = ady > 0.0 ? fraction15(cdx / ady) : 0;
        for (int i = 0; i <= n; ++i, ++row, x += xStep) {
            const std::int32_t f = x & 0x7FFF;
            target.blendPair(x >> 15, row, (x >> 15) + 1, row, f);
        }
    }
}
