// Plain one-byte-at-a-time versions of the fast image operations, written
// straight from their integer formulas, and random pictures to hold the fast
// routines to them byte for byte.
#pragma once

#include "image/noise.hpp"
#include "image/ops.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

// A random picture and a copy of it, for a fast routine and its reference.
struct RandomPair {
    Image fast, expected;
    RandomPair(int width, int height, std::mt19937& rng) : fast(width, height), expected(width, height)
    {
        for (int i = 0; i < fast.pitch / 4 * height; ++i)
            fast.pixels[i] = static_cast<std::uint32_t>(rng());
        std::memcpy(expected.pixels, fast.pixels, static_cast<std::size_t>(fast.pitch) * height);
    }
    // The first pixel that differs, -1 when the pictures are the same.
    int difference() const
    {
        const int n = fast.pitch / 4 * fast.height;
        const auto i = std::mismatch(fast.pixels, fast.pixels + n, expected.pixels).first - fast.pixels;
        return i == n ? -1 : static_cast<int>(i);
    }
};

namespace ref {

inline std::uint8_t* at(const Image& image, int x, int y)
{
    return reinterpret_cast<std::uint8_t*>(const_cast<Image&>(image).row(y) + x);
}
inline int byteOf(Colour c, int b) { return static_cast<int>(c >> (8 * b)) & 0xFF; }

// d = clamp(d + (s x a) >> 15) on all four bytes of the clipped rectangle:
// a = 32768 for addImage, factor x 32767 for addImageScaled.
inline void addImage(const Image& src, Image& dst, int sx, int sy, int dx, int dy, int w, int h, int a)
{
    if (clipCopyRect(sx, sy, dx, dy, w, h, src.width, src.height, dst.width, dst.height))
        for (int r = 0; r < h; ++r)
            for (int b = 0; b < 4 * w; ++b) {
                std::uint8_t& d = at(dst, dx, dy + r)[b];
                d = static_cast<std::uint8_t>(std::clamp(d + ((at(src, sx, sy + r)[b] * a) >> 15), 0, 255));
            }
}

// The cosine weight taken every time.
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
inline void drawDisc(Image& image, float cx, float cy, float r, Colour colour)
{
    const double x = cx, y = cy;
    const int x0 = std::max(0, static_cast<int>(std::floor(x - r)));
    const int x1 = std::min(image.width, static_cast<int>(std::ceil(x + r)) + 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(y - r)));
    const int y1 = std::min(image.height, static_cast<int>(std::ceil(y + r)) + 1);
    const double innerSq = (r - 1.0) * (r - 1.0);
    const float outerSq = static_cast<float>((r + 1.0) * (r + 1.0));
    const auto inner = static_cast<long long>(innerSq * 4096), outer = static_cast<long long>(outerSq * 4096.0);
    const auto k = static_cast<long long>(4096 / (outerSq - innerSq));
    auto rowStart = static_cast<long long>(((x0 - x) * (x0 - x) + (y0 - y) * (y0 - y)) * 4096);
    auto rowStep = static_cast<long long>((2 * (y0 - y) + 1) * 4096);
    for (int py = y0; py < y1; ++py, rowStart += rowStep, rowStep += 8192) {
        long long d = rowStart, columnStep = static_cast<long long>((2 * (x0 - x) + 1) * 4096);
        for (int px = x0; px < x1; ++px, d += columnStep, columnStep += 8192) {
            std::uint8_t* p = at(image, px, py);
            const int t = static_cast<int>(((d - inner) * k) >> 16);
            for (int b = 0; b < 4 && d < outer; ++b)
                p[b] = static_cast<std::uint8_t>(d < inner ? byteOf(colour, b)
                                                 : b == 3  ? 0
                                                           : (byteOf(colour, b) * (256 - t) + p[b] * t) / 256);
        }
    }
}

// One line and one channel at a time; coefficients fourth byte, red, green, blue.
inline void blurLines(void* base, int elementStep, int lineStep, int count, int lines, int cX, int cR, int cG, int cB)
{
    const int coefficient[4] = {cB, cG, cR, cX};  // by byte in memory
    std::vector<int> forward(static_cast<std::size_t>(count));
    for (int l = 0; l < lines; ++l)
        for (int b = 0; b < 4; ++b) {
            auto byte = [&](int k) -> std::uint8_t& {
                return static_cast<std::uint8_t*>(base)[static_cast<long long>(l) * lineStep +
                                                        static_cast<long long>(k) * elementStep + b];
            };
            int y = 128 * byte(0);
            for (int k = 0; k < count; ++k)
                forward[static_cast<std::size_t>(k)] = y += 4 * ((128 * byte(k) - y) * coefficient[b] >> 16);
            for (int k = count - 1; k >= 0; --k) {
                y += 4 * ((forward[static_cast<std::size_t>(k)] - y) * coefficient[b] >> 16);
                byte(k) = static_cast<std::uint8_t>(std::min(255, y / 128));
            }
        }
}

} // namespace ref
