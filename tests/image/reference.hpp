// Plain one-byte-at-a-time versions of the fast image operations, written
// straight from their integer formulas; the tests hold the fast routines to
// them byte for byte.
#pragma once

#include "image/noise.hpp"
#include "image/ops.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace ref {

inline std::uint8_t* at(Image& image, int x, int y) { return reinterpret_cast<std::uint8_t*>(image.row(y) + x); }
inline int byteOf(Colour c, int b) { return static_cast<int>(c >> (8 * b)) & 0xFF; }

// d = clamp(d + op(s)) on all four bytes of the clipped rectangle.
template <typename Op>
void addBytes(const Image& src, Image& dst, int sx, int sy, int dx, int dy, int w, int h, Op op)
{
    if (!clipCopyRect(sx, sy, dx, dy, w, h, src.width, src.height, dst.width, dst.height))
        return;
    for (int r = 0; r < h; ++r)
        for (int b = 0; b < 4 * w; ++b) {
            std::uint8_t& d = at(dst, dx, dy + r)[b];
            d = static_cast<std::uint8_t>(std::clamp(d + op(at(const_cast<Image&>(src), sx, sy + r)[b]), 0, 255));
        }
}

inline void addImage(const Image& src, Image& dst, int sx, int sy, int dx, int dy, int w, int h)
{
    addBytes(src, dst, sx, sy, dx, dy, w, h, [](int s) { return s; });
}

// The fourth byte is treated like the colour channels.
inline void addImageScaled(const Image& src, Image& dst, int sx, int sy, int dx, int dy, int w, int h, float f)
{
    const int a = static_cast<int>(static_cast<double>(f) * 32767.0);
    addBytes(src, dst, sx, sy, dx, dy, w, h, [a](int s) { return (s * a) >> 15; });
}

inline void addColour(Image& image, Colour colour)
{
    for (int y = 0; y < image.height; ++y)
        for (int b = 0; b < 4 * image.width; ++b)
            at(image, 0, y)[b] = static_cast<std::uint8_t>(std::min(255, at(image, 0, y)[b] + byteOf(colour, b % 4)));
}

// The cosine weight taken every time (the fast one looks most of them up).
inline double smoothNoise(float x)
{
    const int i = static_cast<int>(x);
    const float f = x - static_cast<float>(i);
    const float w = static_cast<float>(0.5 - std::cos(f * std::numbers::pi) * 0.5);
    return noise(i + 1) * w + noise(i) * (1.0 - w);
}

// For rectangles inside the image and amounts in 0..1.
inline void rowNoiseTint(Image& image, float time, int x, int y, int w, int h, float amount)
{
    const float t10 = time * 10.0f;
    const double u1 = 100000.0 - time * 10.1, u2 = time * 10.2, u3 = 150000.0 - time * 10.3;
    for (int i = 0; i < h; ++i) {
        const double r = i * 0.3;
        const int s1 = static_cast<int>(smoothNoise(static_cast<float>(r + t10)) * 63 + 127);
        const int s2 = static_cast<int>(smoothNoise(static_cast<float>(u1 + r)) * 63 + 127);
        const int s3 = static_cast<int>(smoothNoise(static_cast<float>(u2 + r + 44320)) * 63 + 190);
        const int s4 = static_cast<int>(smoothNoise(static_cast<float>(u3 + r)) * 63 + 190);
        const int m = (s1 * s2) >> 8, q = (s3 * s4) >> 8;
        const int add = static_cast<int>(((m * m) >> 8) * static_cast<double>(amount));
        const int mul = static_cast<int>(255 - ((q * q) >> 8) * static_cast<double>(amount));
        for (int c = 0; c < w; ++c) {
            std::uint8_t* p = at(image, x + c, y + i);
            for (int b = 0; b < 3; ++b)
                p[b] = static_cast<std::uint8_t>(std::min(255, ((p[b] * mul) >> 8) + add));
            p[3] = 0;
        }
    }
}

// For radii above 0.5.
inline void drawDisc(std::uint32_t* pixels, int pitch, int width, int height, float cx, float cy, float r,
                     Colour colour)
{
    const double x = cx, y = cy;
    const int x0 = std::max(0, static_cast<int>(std::floor(x - r)));
    const int x1 = std::min(width, static_cast<int>(std::ceil(x + r)) + 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(y - r)));
    const int y1 = std::min(height, static_cast<int>(std::ceil(y + r)) + 1);
    const double innerSq = (r - 1.0) * (r - 1.0);
    const float outerSq = static_cast<float>((r + 1.0) * (r + 1.0));
    const auto inner = static_cast<long long>(innerSq * 4096);
    const auto outer = static_cast<long long>(outerSq * 4096.0);
    const auto k = static_cast<long long>(4096 / (outerSq - innerSq));
    auto rowStart = static_cast<long long>(((x0 - x) * (x0 - x) + (y0 - y) * (y0 - y)) * 4096);
    auto rowStep = static_cast<long long>((2 * (y0 - y) + 1) * 4096);
    for (int py = y0; py < y1; ++py, rowStart += rowStep, rowStep += 8192) {
        long long d = rowStart, columnStep = static_cast<long long>((2 * (x0 - x) + 1) * 4096);
        for (int px = x0; px < x1; ++px, d += columnStep, columnStep += 8192) {
            auto* p = reinterpret_cast<std::uint8_t*>(pixels) + static_cast<long long>(py) * pitch + 4 * px;
            if (d < inner) {
                for (int b = 0; b < 4; ++b)
                    p[b] = static_cast<std::uint8_t>(byteOf(colour, b));
            } else if (d < outer) {
                const int t = static_cast<int>(((d - inner) * k) >> 16);
                for (int b = 0; b < 3; ++b)
                    p[b] = static_cast<std::uint8_t>((byteOf(colour, b) * (256 - t) + p[b] * t) / 256);
                p[3] = 0;
            }
        }
    }
}

// One line and one channel at a time; coefficients fourth byte, red, green, blue.
inline void blurLines(void* base, int elementStep, int lineStep, int count, int lines, int cX, int cR, int cG,
                      int cB)
{
    const int coefficient[4] = {cB, cG, cR, cX};  // by byte in memory
    std::vector<int> forward(static_cast<std::size_t>(count));
    for (int l = 0; l < lines; ++l)
        for (int b = 0; b < 4; ++b) {
            auto byte = [&](int k) -> std::uint8_t& {
                return static_cast<std::uint8_t*>(base)[static_cast<long long>(l) * lineStep +
                                                        static_cast<long long>(k) * elementStep + b];
            };
            const int c = coefficient[b];
            int y = 128 * byte(0);
            for (int k = 0; k < count; ++k)
                forward[static_cast<std::size_t>(k)] = y += 4 * ((128 * byte(k) - y) * c >> 16);
            for (int k = count - 1; k >= 0; --k) {
                y += 4 * ((forward[static_cast<std::size_t>(k)] - y) * c >> 16);
                byte(k) = static_cast<std::uint8_t>(std::min(255, y / 128));
            }
        }
}

} // namespace ref
