// The anti-aliased filled disc. Squared distances from the centre are
// stepped along rows and columns (in 64 bits, so far-off centres and large
// radii cannot overflow); a pixel inside r - 1 takes the colour, a pixel in
// the ring out to r + 1 blends towards it.
#include "image/ops.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Radii beyond this would push the fixed-point distances past 64 bits; no
// picture needs a disc a million pixels wide.
constexpr double maxRadius = 1.0e6;

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

} // namespace

void drawDisc(std::uint32_t* pixels, int pitch, int width, int height,
              float cx, float cy, float radius, Colour colour)
{
    const double r = radius, x = cx, y = cy;
    if (!pixels || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(r) || r > maxRadius)
        return;

    // Bounds, the right and bottom ones exclusive.
    double x0 = std::floor(x - r), x1 = std::ceil(x + r) + 1.0;
    double y0 = std::floor(y - r), y1 = std::ceil(y + r) + 1.0;
    if (x1 < 0.0 || y1 < 0.0 || x0 >= width || y0 >= height)
        return;
    x0 = std::max(x0, 0.0);
    y0 = std::max(y0, 0.0);
    x1 = std::min(x1, static_cast<double>(width));
    y1 = std::min(y1, static_cast<double>(height));
    const int left = static_cast<int>(x0), right = static_cast<int>(x1);
    const int top = static_cast<int>(y0), bottom = static_cast<int>(y1);

    // Fixed point, 4096 = 1.
    const double innerSq = (r - 1.0) * (r - 1.0);
    const float outerSq = static_cast<float>((r + 1.0) * (r + 1.0));
    const auto inner = static_cast<std::int64_t>(innerSq * 4096.0);
    const auto outer = static_cast<std::int64_t>(static_cast<double>(outerSq) * 4096.0);
    // Blend weight per unit of squared distance, so that t runs from 0 to 256
    // across the ring. Without a ring (radius 0 or below) it is never used.
    const double ring = static_cast<double>(outerSq) - innerSq;
    const std::int64_t k = ring > 0.0 ? static_cast<std::int64_t>(std::min(4096.0 / ring, 1.0e12)) : 0;

    const double dx = left - x, dy = top - y;
    auto rowStart = static_cast<std::int64_t>((dx * dx + dy * dy) * 4096.0);
    auto rowStep = static_cast<std::int64_t>((2.0 * dy + 1.0) * 4096.0);
    const auto columnStep0 = static_cast<std::int64_t>((2.0 * dx + 1.0) * 4096.0);

    auto* row = reinterpret_cast<std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(top) * pitch;
    for (int py = top; py < bottom; ++py) {
        auto* p = reinterpret_cast<std::uint32_t*>(row);
        std::int64_t d = rowStart, columnStep = columnStep0;
        for (int px = left; px < right; ++px) {
            if (d < inner)
                p[px] = colour;
            else if (d < outer)
                p[px] = blend(colour, p[px], static_cast<std::uint32_t>(((d - inner) * k) >> 16));
            d += columnStep;
            columnStep += 8192;
        }
        rowStart += rowStep;
        rowStep += 8192;
        row += pitch;
    }
}
