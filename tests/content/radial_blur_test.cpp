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
    const int K = static_cast<int>(keep * 65536.0), S = static_cast<int>(scale * 65536.0);
    const int W = (65535 - K) >> 1;
    const int cx = static_cast<int>(centerX), cy = static_cast<int>(centerY);
    const auto byte = [&](int x, int y, int b) -> std::uint8_t& {
        return reinterpret_cast<std::uint8_t*>(image.row(y) + x)[b];
    };
    for (const int sy : {-1, 1})
        for (const int sx : {-1, 1}) {
            const int rows = sy < 0 ? cy : image.height - cy;
            const int columns = sx < 0 ? cx : image.width - cx;
            const int firstRow = sy < 0 ? cy - 1 : cy, firstColumn = sx < 0 ? cx - 1 : cx;
            int sourceRow = firstRow, fy = 0;
            for (int m = 0; m < rows; ++m) {
                if (m > 0) {
                    fy += sy * S;
                    if (fy < 0)
                        fy += 65536, --sourceRow;
                    else if (fy >= 65536)
                        fy -= 65536, ++sourceRow;
                }
                int sourceColumn = firstColumn, fx = 0;
                for (int k = 0; k < columns; ++k) {
                    if (k > 0) {
                        fx += sx * (S >> 1);
                        if (fx < 0)
                            fx += 32768, --sourceColumn;
                        else if (fx >= 32768)
                            fx -= 32768, ++sourceColumn;
                    }
                    const int x = firstColumn + sx * k, y = firstRow + sy * m;
                    for (int b = 0; b < 4; ++b) {
                        const int p = byte(sourceColumn, sourceRow, b), q = byte(sourceColumn + 1, sourceRow, b);
                        const int r = byte(sourceColumn, sourceRow + 1, b);
                        const int s = byte(sourceColumn + 1, sourceRow + 1, b);
                        const int top = p + ((q - p) * fx >> 15), bottom = r + ((s - r) * fx >> 15);
                        const int sample = top + static_cast<int>(static_cast<std::int64_t>(bottom - top) * fy >> 16);
                        const int value = (sample * K >> 16) + (byte(x, y, b) * W >> 15);
                        byte(x, y, b) = static_cast<std::uint8_t>(std::min(value, 255));
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
    TightImage(int width, int height)
        : pixels(static_cast<std::size_t>(width) * height), image(width, height, 4 * width, pixels.data())
    {
    }
};

} // namespace

TEST(RadialBlur, MatchesThePlainBlurByteForByte)
{
    std::mt19937 rng(2);
    // Odd and even sizes, centres in all four quarters and next to the edges,
    // the scene's constants and random ones.
    struct Case {
        int width, height;
        float cx, cy, keep, scale;
    };
    std::vector<Case> cases = {{640, 320, 262.7f, 101.3f, 0.97f, 0.975f}, {640, 320, 390.2f, 230.9f, 0.97f, 0.975f},
                               {37, 23, 1.0f, 1.0f, 0.97f, 0.975f},     {37, 23, 35.9f, 21.5f, 0.5f, 0.5f},
                               {3, 3, 1.5f, 1.5f, 0.9f, 0.99f},         {101, 64, 50.0f, 2.0f, 0.999f, 0.01f},
                               {150, 300, 70.3f, 160.8f, 0.97f, 0.9999f}};
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 24; ++i) {
        const int w = 3 + static_cast<int>(rng() % 300), h = 3 + static_cast<int>(rng() % 200);
        cases.push_back({w, h, 1.0f + unit(rng) * (w - 2.5f), 1.0f + unit(rng) * (h - 2.5f), unit(rng), unit(rng)});
    }
    for (const Case& c : cases) {
        TightImage fast(c.width, c.height), expected(c.width, c.height);
        for (std::uint32_t& p : fast.pixels)
            p = static_cast<std::uint32_t>(rng());
        // Some flat white and black, where saturation and zero weights show.
        std::fill_n(fast.pixels.begin(), fast.pixels.size() / 4, 0xFFFFFFFFu);
        std::fill_n(fast.pixels.end() - fast.pixels.size() / 4, fast.pixels.size() / 8, 0u);
        expected.pixels = fast.pixels;
        expected.image.pixels = expected.pixels.data();
        radialBlur(fast.image, c.cx, c.cy, c.keep, c.scale);
        referenceBlur(expected.image, c.cx, c.cy, c.keep, c.scale);
        const auto diff = std::mismatch(fast.pixels.begin(), fast.pixels.end(), expected.pixels.begin());
        ASSERT_TRUE(diff.first == fast.pixels.end())
            << c.width << " x " << c.height << " centre " << c.cx << ", " << c.cy << " keep " << c.keep << " scale "
            << c.scale << ": pixel " << (diff.first - fast.pixels.begin());
    }
}

TEST(RadialBlur, WithoutKeepEveryByteLosesOnlyTheTruncation)
{
    std::mt19937 rng(5);
    TightImage picture(64, 48);
    for (std::uint32_t& p : picture.pixels)
        p = static_cast<std::uint32_t>(rng());
    picture.pixels[0] = 0xFFFFFFFFu;
    const std::vector<std::uint32_t> before = picture.pixels;
    radialBlur(picture.image, 30.0f, 20.0f, 0.0f, 0.975f);
    for (std::size_t i = 0; i < before.size(); ++i)
        for (int b = 0; b < 32; b += 8) {
            const int old = static_cast<int>(before[i] >> b & 0xFF);
            ASSERT_EQ(static_cast<int>(picture.pixels[i] >> b & 0xFF), std::max(old - 1, 0)) << "pixel " << i;
        }
}

TEST(RadialBlur, BrightShapesThrowFadingStreaksStraightOutward)
{
    // Each pixel ends as 0.97 x (its inward sample, already blurred) plus
    // 0.015 x its old self: a blend of the old picture along the ray towards
    // the centre. A lone pixel keeps 7 of its 255 and leaves a faint tail of
    // a few pixels; a 9 x 9 block throws a streak some way past it (each step
    // out loses 3 % and the truncations). One of each in every quadrant, on
    // diagonals and axes.
    const int cx = 200, cy = 150, width = 400, height = 300;
    const int offsets[][2] = {{-50, -50}, {60, -45}, {-70, 0}, {0, 60}, {45, 45}};
    for (const int half : {0, 4})
        for (const auto& o : offsets) {
            TightImage picture(width, height);
            for (int y = -half; y <= half; ++y)
                for (int x = -half; x <= half; ++x)
                    picture.image.row(cy + o[1] + y)[cx + o[0] + x] = 0x00FFFFFFu;
            radialBlur(picture.image, cx + 0.5f, cy + 0.5f, 0.97f, 0.975f);

            // Every lit pixel outside the shape lies beyond it, on a ray from
            // the centre that passes through the shape (give or take the
            // sampling's pixel either side).
            const double d0 = std::hypot(o[0], o[1]);
            double farthest = 0.0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const int dx = x - cx, dy = y - cy;
                    if ((picture.image.row(y)[x] & 0xFFFFFF) == 0 ||
                        (std::abs(dx - o[0]) <= half && std::abs(dy - o[1]) <= half))
                        continue;
                    const double d = std::hypot(dx, dy), back = d0 / d;
                    ASSERT_GT(d, d0 - half) << x << ", " << y;
                    ASSERT_LE(std::abs(dx * back - o[0]), half + 2.0) << x << ", " << y;
                    ASSERT_LE(std::abs(dy * back - o[1]), half + 2.0) << x << ", " << y;
                    farthest = std::max(farthest, d);
                }
            const double ux = o[0] / d0, uy = o[1] / d0;
            if (half == 0) {
                EXPECT_GT(farthest, d0) << "no tail from " << o[0] << ", " << o[1];
                EXPECT_LT(farthest, d0 + 10) << "tail from " << o[0] << ", " << o[1];
                continue;
            }
            EXPECT_GT(farthest, 1.4 * d0) << "streak from " << o[0] << ", " << o[1] << " stops short";
            // Dimmer the farther it goes.
            int previous = 256;
            for (double d = d0 + half + 3; d < farthest; d += 8) {
                const int x = static_cast<int>(std::lround(cx + d * ux));
                const int y = static_cast<int>(std::lround(cy + d * uy));
                const int level = static_cast<int>(picture.image.row(y)[x] & 0xFF);
                EXPECT_GT(level, 0) << "gap at " << d;
                EXPECT_LE(level, previous) << "brighter at " << d;

                previous = level;
            }
        }
}

TEST(RadialBlur, OutOfRangeArgumentsStayInsideTheImage)
{
    std::mt19937 rng(9);
    // Centres beyond the edges act as the nearest centre one pixel inside;
    // keep and scale of 1 or more as the largest fractions below 1.
    const float centres[][2] = {{-50.0f, 10.0f}, {500.0f, -3.0f}, {0.5f, 39.0f}, {NAN, 1e9f}};
    const float held[][2] = {{1.0f, 10.0f}, {38.0f, 1.0f}, {1.0f, 38.0f}, {1.0f, 38.0f}};
    for (int i = 0; i < 4; ++i) {
        TightImage fast(40, 40), expected(40, 40);
        for (std::uint32_t& p : fast.pixels)
            p = static_cast<std::uint32_t>(rng());
        expected.pixels = fast.pixels;
        expected.image.pixels = expected.pixels.data();
        radialBlur(fast.image, centres[i][0], centres[i][1], 1.5f, 2.0f);
        referenceBlur(expected.image, held[i][0], held[i][1], 65535.0f / 65536, 65535.0f / 65536);
        EXPECT_TRUE(fast.pixels == expected.pixels) << i;
    }
}
