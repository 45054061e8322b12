#include "engine/rasterizer.hpp"

#include "engine/span_inline.hpp"

#include <cstddef>
#include <limits>

namespace {

// Product of two 16.16 values: 64-bit product, arithmetic shift by 16,
// kept to 32 bits as the fixed-point registers would.
std::uint32_t fixedProduct(std::int32_t a, std::int32_t b)
{
    return static_cast<std::uint32_t>((static_cast<std::int64_t>(a) * b) >> 16);
}

// num / den truncated toward zero (den > 0, |num| < 2^53), from a double
// division corrected by one step: cheaper than a 64-bit integer division.
std::int64_t truncatedQuotient(std::int64_t num, std::int64_t den)
{
    auto q = static_cast<std::int64_t>(static_cast<double>(num) / static_cast<double>(den));
    const std::int64_t r = num - q * den;
    if (num >= 0) {
        if (r < 0)
            --q;
        else if (r >= den)
            ++q;
    } else {
        if (r > 0)
            ++q;
        else if (r <= -den)
            --q;
    }
    return q;
}

// One polygon side walked downward from the top vertex.
struct Edge {
    const RasterVertex* vertices;
    int count;
    int direction;  // -1: left edge (lower indices), +1: right edge
    int start;
    int next;
    std::int64_t x;      // 16.16 with the 0.5 bias; 64 bits so that stepping past the edge's end cannot overflow
    std::int64_t slope;

    int following(int i) const
    {
        i += direction;
        return i < 0 ? count - 1 : i == count ? 0 : i;
    }

    // Re-aims the edge when the row has reached its next vertex (or when it
    // has never been aimed); otherwise x keeps its value.
    void update(std::int64_t y, bool first)
    {
        if (!first && y < vertices[next].y)
            return;
        for (int guard = 0; y >= vertices[next].y && guard < count; ++guard) {
            start = next;
            next = following(next);
        }
        const RasterVertex& s = vertices[start];
        const RasterVertex& n = vertices[next];
        const std::int64_t dy = static_cast<std::int64_t>(n.y) - s.y;
        if (dy <= 0) {  // only for input that is not a convex polygon
            slope = 0;
            x = static_cast<std::int64_t>(s.x) + 0x8000;
            return;
        }
        // An edge that rises less than 1/32768 of its run has a slope beyond
        // 16.16; clamping it keeps x between the edge's end points on the one
        // row it covers.
        std::int64_t s64 = truncatedQuotient((static_cast<std::int64_t>(n.x) - s.x) * 65536, dy);
        constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
        if (s64 > limit) s64 = limit;
        if (s64 < -limit) s64 = -limit;
        slope = s64;
        x = static_cast<std::int64_t>(s.x) + 0x8000 + ((slope * (y - s.y)) >> 16);
    }
};

template <typename Writer>
void fill(const RasterPolygon& polygon, int count, std::uint32_t* pixels, int pitch, int width, int height, Writer write);

} // namespace

YExtremes findYExtremes(const RasterPolygon& polygon, int count)
{
    YExtremes e{0, 0};
    for (int i = 1; i < count; ++i) {
        if (polygon.vertices[i].y < polygon.vertices[e.top].y)
            e.top = i;
        if (polygon.vertices[i].y > polygon.vertices[e.bottom].y)
            e.bottom = i;
    }
    return e;
}

void rasterizePolygon(const RasterPolygon& polygon, int count, std::uint32_t* pixels, int pitch, int width, int height)
{
    if (count < 3 || count > rasterCapacity)
        return;
    // The engine's own writers run inline; any other goes through its pointer.
    // (Lambdas, not the functions themselves: each needs its own instantiation.)
    if (polygon.spanWriter == spanGouraud)
        fill(polygon, count, pixels, pitch, width, height, [](auto... a) { span_detail::fillSpan(a...); });
    else if (polygon.spanWriter == spanGouraudAdditive)
        fill(polygon, count, pixels, pitch, width, height, [](auto... a) { span_detail::addSpan(a...); });
    else
        fill(polygon, count, pixels, pitch, width, height, polygon.spanWriter);
}

namespace {

template <typename Writer>
void fill(const RasterPolygon& polygon, int count, std::uint32_t* pixels, int pitch, int width, int height, Writer write)
{
    const YExtremes e = findYExtremes(polygon, count);
    const RasterVertex& top = polygon.vertices[e.top];
    const std::int64_t bottomY = polygon.vertices[e.bottom].y;

    // First row whose centre lies at or below the top vertex.
    std::int64_t y = ((static_cast<std::int64_t>(top.y) + 0x7FFF) & ~std::int64_t{0xFFFF}) + 0x8000;
    const auto dyTop = static_cast<std::int32_t>(y - top.y);
    std::uint32_t rowBlue = static_cast<std::uint32_t>(top.blue) + fixedProduct(polygon.dBdy, dyTop);
    std::uint32_t rowGreen = static_cast<std::uint32_t>(top.green) + fixedProduct(polygon.dGdy, dyTop);
    std::uint32_t rowRed = static_cast<std::uint32_t>(top.red) + fixedProduct(polygon.dRdy, dyTop);

    // Offsets from top.x to the centre of column 0, with the rounding bias.
    const std::int64_t toColumn0 = 0x8000 - static_cast<std::int64_t>(top.x);
    const std::uint32_t blueAtColumn0 = static_cast<std::uint32_t>((polygon.dBdx * toColumn0) >> 16) + 0x8000u;
    const std::uint32_t greenAtColumn0 = static_cast<std::uint32_t>((polygon.dGdx * toColumn0) >> 16) + 0x8000u;
    const std::uint32_t redAtColumn0 = static_cast<std::uint32_t>((polygon.dRdx * toColumn0) >> 16) + 0x8000u;

    const auto stepBlue = static_cast<std::uint16_t>(polygon.dBdx >> 8);
    const auto stepGreen = static_cast<std::uint16_t>(polygon.dGdx >> 8);
    const auto stepRed = static_cast<std::uint16_t>(polygon.dRdx >> 8);

    Edge left{polygon.vertices, count, -1, e.top, e.top == 0 ? count - 1 : e.top - 1, 0, 0};
    Edge right{polygon.vertices, count, +1, e.top, e.top == count - 1 ? 0 : e.top + 1, 0, 0};
    bool first = true;
    for (; y < bottomY; y += 0x10000) {
        left.update(y, first);
        right.update(y, first);
        first = false;

        const std::int64_t row = y >> 16;
        std::int64_t x0 = left.x >> 16;
        std::int64_t x1 = right.x >> 16;
        if (x0 < x1 && row >= 0 && row < height) {
            // gradient·off >> 16 with off = x0·65536 + (0x8000 - top.x), the
            // distance from top.x to the centre of pixel x0, is
            // gradient·x0 + (gradient·(0x8000 - top.x) >> 16).
            const auto px = static_cast<std::uint32_t>(x0);
            std::uint32_t blue = rowBlue + static_cast<std::uint32_t>(polygon.dBdx) * px + blueAtColumn0;
            std::uint32_t green = rowGreen + static_cast<std::uint32_t>(polygon.dGdx) * px + greenAtColumn0;
            std::uint32_t red = rowRed + static_cast<std::uint32_t>(polygon.dRdx) * px + redAtColumn0;
            if (x0 < 0) {
                // Skipping k pixels adds k steps to the 8.8 lanes: the bytes
                // of the pixels drawn stay those of the full run.
                const auto k = static_cast<std::uint32_t>(-x0);
                blue += (k * stepBlue) << 8;
                green += (k * stepGreen) << 8;
                red += (k * stepRed) << 8;
                x0 = 0;
            }
            if (x1 > width)
                x1 = width;
            if (x0 < x1) {
                auto* line = reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(pixels) +
                                                              static_cast<std::ptrdiff_t>(row) * pitch);
                write(line + x0, static_cast<int>(x1 - x0), static_cast<std::int32_t>(blue),
                                   static_cast<std::int32_t>(green), static_cast<std::int32_t>(red), stepBlue,
                                   stepGreen, stepRed);
            }
        }
        left.x += left.slope;
        right.x += right.slope;
        rowBlue += static_cast<std::uint32_t>(polygon.dBdy);
        rowGreen += static_cast<std::uint32_t>(polygon.dGdy);
        rowRed += static_cast<std::uint32_t>(polygon.dRdy);
    }
}

} // namespace
