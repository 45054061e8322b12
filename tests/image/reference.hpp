// Plain one-channel-at-a-time versions of the fast image operations, written
// straight from their integer formulas. The tests hold the fast routines to
// these byte for byte.
#pragma once

#include "image/image.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ref {

inline std::uint8_t* bytes(Image& image, int x, int y)
{
    return reinterpret_cast<std::uint8_t*>(image.row(y) + x);
}
inline const std::uint8_t* bytes(const Image& image, int x, int y)
{
    return reinterpret_cast<const std::uint8_t*>(image.row(y) + x);
}

inline void clearImage(Image& image, Colour colour)
{
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.row(y)[x] = colour;
}

inline void addImage(const Image& src, Image& dst, int sx, int sy, int dx, int dy, int w, int h)
{
    if (!clipCopyRect(sx, sy, dx, dy, w, h, src.width, src.height, dst.width, dst.height))
        return;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            for (int b = 0; b < 4; ++b) {
                std::uint8_t& d = bytes(dst, dx + c, dy + r)[b];
                d = static_cast<std::uint8_t>(std::min(255, d + bytes(src, sx + c, sy + r)[b]));
            }
}

// The fourth byte is treated like the colour channels.
inline void addImageScaled(const Image& src, Image& dst, int sx, int sy, int dx, int dy, int w, int h,
                           float factor)
{
    const int a = static_cast<int>(static_cast<double>(factor) * 32767.0);
    if (!clipCopyRect(sx, sy, dx, dy, w, h, src.width, src.height, dst.width, dst.height))
        return;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            for (int b = 0; b < 4; ++b) {
                std::uint8_t& d = bytes(dst, dx + c, dy + r)[b];
                const int s = bytes(src, sx + c, sy + r)[b];
                d = static_cast<std::uint8_t>(std::clamp(d + ((s * a) >> 15), 0, 255));
            }
}

inline void addColour(Image& image, Colour colour)
{
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (int b = 0; b < 4; ++b) {
                std::uint8_t& d = bytes(image, x, y)[b];
                d = static_cast<std::uint8_t>(std::min<int>(255, d + ((colour >> (8 * b)) & 0xFF)));
            }
}

// For rectangles inside the image and amounts in 0..1.
inline void rowNoiseTint(Image& image, float time, int x, int y, int w, int h, float amount)
{
    const float t10 = time * 10.0f;
    const double u1 = 100000.0 - time * 10.1;
    const double u2 = time * 10.2;
    const double u3 = 150000.0 - time * 10.3;
    for (int i = 0; i < h; ++i) {
        const double r = i * 0.3;
        const int s1 = static_cast<int>(smoothNoise(static_cast<float>(r + t10)) * 63 + 127);
        const int s2 = static_cast<int>(smoothNoise(static_cast<float>(u1 + r)) * 63 + 127);
        const int s3 = static_cast<int>(smoothNoise(static_cast<float>(u2 + r + 44320)) * 63 + 190);
        const int s4 = static_cast<int>(smoothNoise(static_cast<float>(u3 + r)) * 63 + 190);
        const int m = (s1 * s2) >> 8;
        const int add = static_cast<int>(((m * m) >> 8) * static_cast<double>(amount));
        const int q = (s3 * s4) >> 8;
        const int mul = static_cast<int>(255 - ((q * q) >> 8) * static_cast<double>(amount));
        for (int c = 0; c < w; ++c) {
            std::uint8_t* p = bytes(image, x + c, y + i);
            for (int b = 0; b < 3; ++b)
                p[b] = static_cast<std::uint8_t>(std::min(255, ((p[b] * mul) >> 8) + add));
            p[3] = 0;
        }
    }
}

inline void drawDisc(std::uint32_t* pixels, int pitch, int width, int height,
                     float cx, float cy, float r, Colour colour)
{
    int x0 = static_cast<int>(std::floor(static_cast<double>(cx) - r));
    int x1 = static_cast<int>(std::ceil(static_cast<double>(cx) + r)) + 1;
    int y0 = static_cast<int>(std::floor(static_cast<double>(cy) - r));
    int y1 = static_cast<int>(std::ceil(static_cast<double>(cy) + r)) + 1;
    if (x1 < 0 || y1 < 0 || x0 >= width || y0 >= height)
        return;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width);
    y1 = std::min(y1, height);
    const double innerSq = (static_cast<double>(r) - 1) * (static_cast<double>(r) - 1);
    const float outerSq = static_cast<float>((static_cast<double>(r) + 1) * (static_cast<double>(r) + 1));
    const long long inner = static_cast<long long>(innerSq * 4096);
    const long long outer = static_cast<long long>(outerSq * 4096.0);
    const long long k = static_cast<long long>(4096 / (outerSq - innerSq));
    long long rowStart = static_cast<long long>(((x0 - cx) * static_cast<double>(x0 - cx) +
                                                 (y0 - cy) * static_cast<double>(y0 - cy)) * 4096);
    long long rowStep = static_cast<long long>((2 * static_cast<double>(y0 - cy) + 1) * 4096);
    for (int y = y0; y < y1; ++y) {
        long long d = rowStart;
        long long columnStep = static_cast<long long>((2 * static_cast<double>(x0 - cx) + 1) * 4096);
        for (int x = x0; x < x1; ++x) {
            auto* p = reinterpret_cast<std::uint8_t*>(pixels) + static_cast<long long>(y) * pitch + 4 * x;
            if (d < inner) {
                for (int b = 0; b < 4; ++b)
                    p[b] = static_cast<std::uint8_t>(colour >> (8 * b));
            } else if (d < outer) {
                const int t = static_cast<int>(((d - inner) * k) >> 16);
                for (int b = 0; b < 3; ++b)
                    p[b] = static_cast<std::uint8_t>((((colour >> (8 * b)) & 0xFF) * (256 - t) + p[b] * t) / 256);
                p[3] = 0;
            }
            d += columnStep;
            columnStep += 8192;
        }
        rowStart += rowStep;
        rowStep += 8192;
    }
}

// One channel at a time, one line at a time; coefficients in 0..16383 in
// the order fourth byte, red, green, blue.
inline void blurLines(void* base, int elementStep, int lineStep, int count, int lines,
                      int cX, int cR, int cG, int cB)
{
    const int coefficient[4] = {cB, cG, cR, cX};  // by byte in memory
    std::vector<int> forward(static_cast<std::size_t>(count));
    for (int l = 0; l < lines; ++l) {
        std::uint8_t* line = static_cast<std::uint8_t*>(base) + static_cast<long long>(l) * lineStep;
        for (int b = 0; b < 4; ++b) {
            const int c = coefficient[b];
            auto at = [&](int k) -> std::uint8_t& { return line[static_cast<long long>(k) * elementStep + b]; };
            int y = 128 * at(0);
            for (int k = 0; k < count; ++k) {
                y += 4 * ((128 * at(k) - y) * c >> 16);
                forward[static_cast<std::size_t>(k)] = y;
            }
            int z = y;
            for (int k = count - 1; k >= 0; --k) {
                z += 4 * ((forward[static_cast<std::size_t>(k)] - z) * c >> 16);
                at(k) = static_cast<std::uint8_t>(std::min(255, z / 128));
            }
        }
    }
}

} // namespace ref
