#include "content/radial_blur.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// The blur one byte at a time, quadrant after quadrant, in the order and
// with the incremental fractions of its definition.
void referenceBlur(Image& image, float centerX, float centerY, float keep, float scale)
{
    const int K = static_cast<int>(keep * 65536.0), S = static_cast<int>(scale * 65536.0), W = (65535 - K) >> 1;
    const int cx = static_cast<int>(centerX), cy = static_cast<int>(centerY);
    const auto at = [&](int x, int y, int b) -> std::uint8_t& {
        return reinterpret_cast<std::uint8_t*>(image.row(y) + x)[b];
    };
    // One step of a fraction: it wraps by `whole` as its source moves on.
    const auto advance = [](int& fraction, int& source, int step, int whole) {
        fraction += step;
        if (fraction < 0)
            fraction += whole, --source;
        else if (fraction >= whole)
            fraction -= whole, ++source;
    };
    for (const int sy : {-1, 1})
        for (const int sx : {-1, 1}) {
            const int y0 = sy < 0 ? cy - 1 : cy, x0 = sx < 0 ? cx - 1 : cx;
            int sourceRow = y0, fy = 0;
            for (int y = y0; y >= 0 && y < image.height; y += sy) {
                if (y != y0)
                    advance(fy, sourceRow, sy * S, 65536);
                int sourceColumn = x0, fx = 0;
                for (int x = x0; x >= 0 && x < image.width; x += sx) {
                    if (x != x0)
                        advance(fx, sourceColumn, sx * (S >> 1), 32768);
                    for (int b = 0; b < 4; ++b) {
                        const int p = at(sourceColumn, sourceRow, b), q = at(sourceColumn + 1, sourceRow, b);
                        const int r = at(sourceColumn, sourceRow + 1, b), s = at(sourceColumn + 1, sourceRow + 1, b);
                        const int top = p + ((q - p) * fx >> 15), bottom = r + ((s - r) * fx >> 15);
                        const int sample = top + static_cast<int>(static_cast<std::int64_t>(bottom - top) * fy >> 16);
                        const int value = (sample * K >> 16) + (at(x, y, b) * W >> 15);
                        at(x, y, b) = static_cast<std::uint8_t>(std::min(value, 255));
                    }
                }
            }
        }
}

// A picture over exactly width x height pixels, with no spare pixels after
// it, so a read past the last row would be caught by the address sanitizer.
struct TightImage {
    std::vector<std::uint32_t> pixels;
    Image image;
    TightImage(int width, int height, std::mt19937& rng)
        : pixels(static_cast<std::size_t>(width) * height), image(width, height, 4 * width, pixels.data())
    {
        for (std::uint32_t& p : pixels)
            p = static_cast<std::uint32_t>(rng());
    }
};

} // namespace

TEST(RadialBlur, MatchesThePlainBlurByteForByte)
{
    std::mt19937 rng(2);
    struct Case {
        int width, height;
        float cx, cy, keep, scale;       // as given to the blur
        float heldX, heldY, heldKeep, heldScale;  // as the reference takes them
    };
    const float most = 65535.0f / 65536;
    // The scene's constants with centres in all four quarters, corners, odd
    // sizes, a scale so near 1 that every row samples itself, and arguments
    // out of range, held to a centre one pixel inside and fractions below 1.
    std::vector<Case> cases = {{640, 320, 262.7f, 101.3f, 0.97f, 0.975f, 262.7f, 101.3f, 0.97f, 0.975f},
                               {640, 320, 390.2f, 230.9f, 0.97f, 0.975f, 390.2f, 230.9f, 0.97f, 0.975f},
                               {37, 23, 1.0f, 1.0f, 0.97f, 0.975f, 1.0f, 1.0f, 0.97f, 0.975f},
                               {37, 23, 35.9f, 21.5f, 0.5f, 0.5f, 35.9f, 21.5f, 0.5f, 0.5f},
                               {3, 3, 1.5f, 1.5f, 0.9f, 0.99f, 1.5f, 1.5f, 0.9f, 0.99f},
                               {150, 300, 70.3f, 160.8f, 0.97f, 0.9999f, 70.3f, 160.8f, 0.97f, 0.9999f},
                               {40, 40, -50.0f, 500.0f, 1.5f, 2.0f, 1.0f, 38.0f, most, most},
                               {40, 40, NAN, 0.5f, -1.0f, NAN, 1.0f, 1.0f, 0.0f, 0.0f}};
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 24; ++i) {
        const int w = 3 + static_cast<int>(rng() % 300), h = 3 + static_cast<int>(rng() % 200);
        const float x = 1.0f + unit(rng) * (w - 2.5f), y = 1.0f + unit(rng) * (h - 2.5f), k = unit(rng), s = unit(rng);
        cases.push_back({w, h, x, y, k, s, x, y, k, s});
    }
    for (const Case& c : cases) {
        TightImage fast(c.width, c.height, rng);
        // Flat white and black too, where saturation and zero weights show.
        std::fill_n(fast.pixels.begin(), fast.pixels.size() / 4, 0xFFFFFFFFu);
        std::fill_n(fast.pixels.end() - fast.pixels.size() / 4, fast.pixels.size() / 8, 0u);
        std::vector<std::uint32_t> expected = fast.pixels;
        Image reference(c.width, c.height, 4 * c.width, expected.data());
        radialBlur(fast.image, c.cx, c.cy, c.keep, c.scale);
        referenceBlur(reference, c.heldX, c.heldY, c.heldKeep, c.heldScale);
        const auto diff = std::mismatch(fast.pixels.begin(), fast.pixels.end(), expected.begin()).first;
        ASSERT_TRUE(diff == fast.pixels.end()) << c.width << " x " << c.height << " centre " << c.cx << ", " << c.cy
                                               << ": pixel " << (diff - fast.pixels.begin());
    }
}

TEST(RadialBlur, WithoutKeepEveryByteLosesOnlyTheTruncation)
{
    std::mt19937 rng(5);
    TightImage picture(64, 48, rng);
    picture.pixels[0] = 0xFFFFFFFFu;
    const std::vector<std::uint32_t> before = picture.pixels;
    radialBlur(picture.image, 30.0f, 20.0f, 0.0f, 0.975f);
    for (std::size_t i = 0; i < before.size(); ++i)
        for (int b = 0; b < 32; b += 8)
            ASSERT_EQ(picture.pixels[i] >> b & 0xFF, std::max(before[i] >> b & 0xFF, 1u) - 1) << i;
}

TEST(RadialBlur, BrightShapesThrowFadingStreaksStraightOutward)
{
    // Each pixel ends as 0.97 x its inward sample (already blurred) plus
    // 0.015 x its old self: a blend of the picture along the ray towards the
    // centre. A lone pixel leaves a faint tail of a few pixels; a 9 x 9
    // block a streak some way past it. One of each in every quadrant.
    const int cx = 200, cy = 150, width = 400, height = 300;
    const int offsets[][2] = {{-50, -50}, {60, -45}, {-70, 0}, {0, 60}, {45, 45}};
    for (const int half : {0, 4})
        for (const auto& o : offsets) {
            std::vector<std::uint32_t> pixels(width * height);
            Image picture(width, height, 4 * width, pixels.data());
            for (int y = -half; y <= half; ++y)
                std::fill_n(picture.row(cy + o[1] + y) + cx + o[0] - half, 2 * half + 1, 0x00FFFFFFu);
            radialBlur(picture, cx + 0.5f, cy + 0.5f, 0.97f, 0.975f);

            // Lit pixels outside the shape lie beyond it on rays through it
            // (give or take the sampling's pixel either side).
            const double d0 = std::hypot(o[0], o[1]);
            double farthest = 0.0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const int dx = x - cx, dy = y - cy;
                    const bool inShape = std::abs(dx - o[0]) <= half && std::abs(dy - o[1]) <= half;
                    if ((pixels[y * width + x] & 0xFFFFFF) == 0 || inShape)
                        continue;
                    const double d = std::hypot(dx, dy), back = d0 / d;
                    ASSERT_GT(d, d0 - half) << x << ", " << y;
                    ASSERT_LE(std::abs(dx * back - o[0]), half + 2.0) << x << ", " << y;
                    ASSERT_LE(std::abs(dy * back - o[1]), half + 2.0) << x << ", " << y;
                    farthest = std::max(farthest, d);
                }
            EXPECT_GT(farthest, half ? 1.4 * d0 : d0) << o[0] << ", " << o[1];
            EXPECT_LT(farthest, half ? width : d0 + 10) << o[0] << ", " << o[1];
            int previous = 256;  // dimmer the farther it goes
            for (double d = d0 + half + 3; half && d < farthest; d += 8) {
                const long x = std::lround(cx + d * o[0] / d0), y = std::lround(cy + d * o[1] / d0);
                const int level = static_cast<int>(pixels[y * width + x] & 0xFF);
                EXPECT_GT(level, 0) << "gap at " << d;
                EXPECT_LE(level, previous) << "brighter at " << d;
                previous = level;
            }
        }
}
