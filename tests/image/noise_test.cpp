#include "image/noise.hpp"
#include "image/ops.hpp"
#include "reference.hpp"
#include "test_images.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(Noise, KnownValuesRangeAndPurity)
{
    // n = 0: v = -771171059 masked to 31 bits = 1376312589.
    EXPECT_DOUBLE_EQ(noise(0), 1.0 - 1376312589.0 / 1073741824.0);
    EXPECT_NEAR(noise(0), -0.2818, 1e-4);
    // n = 1: m = 8193, computed by hand in wrapping 32-bit arithmetic.
    const std::uint32_t m = 8193;
    const std::uint32_t v = (m * (m * m * 15731u + 789221u) - 771171059u) & 0x7FFFFFFFu;
    EXPECT_DOUBLE_EQ(noise(1), 1.0 - v / 1073741824.0);
    for (int n : {-2147483647 - 1, -1, 1, 12345, 2147483647}) {
        const double a = noise(n);
        EXPECT_GT(a, -1.0) << n;
        EXPECT_LE(a, 1.0) << n;
        EXPECT_EQ(a, noise(n)) << n;
    }
    EXPECT_NE(noise(1), noise(2));
}

TEST(Noise, NextNoiseCountsFromZero)
{
    resetNextNoise();
    for (int n = 0; n < 24; ++n)
        ASSERT_EQ(nextNoise(), noise(n)) << n;
    resetNextNoise();
    EXPECT_EQ(nextNoise(), noise(0));
}

TEST(Noise, SmoothNoiseIsExactAtIntegersAndBlendsBetween)
{
    for (int n : {-70000, -3, -1, 0, 1, 2, 17, 44320, 100000})
        EXPECT_EQ(smoothNoise(static_cast<float>(n)), noise(n)) << n;
    // Halfway the cosine weight is one half.
    EXPECT_NEAR(smoothNoise(5.5f), (noise(5) + noise(6)) / 2, 1e-7);
    // trunc() goes toward zero: -2.5 lies between -2 and -1 by the code's
    // reckoning, with f = -0.5 and the same weight one half.
    EXPECT_NEAR(smoothNoise(-2.5f), (noise(-2) + noise(-1)) / 2, 1e-7);
}

TEST(Noise, ClampUnit)
{
    EXPECT_EQ(clampUnit(-0.5f), 0.0f);
    EXPECT_EQ(clampUnit(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(clampUnit(0.25f), 0.25f);
    EXPECT_EQ(clampUnit(1.5f), 1.0f);
    EXPECT_EQ(clampUnit(std::numeric_limits<float>::infinity()), 1.0f);
}

TEST(RowNoiseTint, MatchesTheReferenceOnRandomFrames)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 60; ++round) {
        const int w = 1 + rng() % 50, h = 1 + rng() % 40;
        Image image(w, h), expected(w, h);
        fillRandom(image, rng);
        copyPixels(image, expected);
        const int x = static_cast<int>(rng() % w), y = static_cast<int>(rng() % h);
        const int rw = 1 + static_cast<int>(rng() % (w - x)), rh = 1 + static_cast<int>(rng() % (h - y));
        const float time = static_cast<float>(rng() % 170000) / 1000.0f;
        const float amount = round % 3 == 0 ? 1.0f : static_cast<float>(rng() % 1001) / 1000.0f;
        rowNoiseTint(image, time, x, y, rw, rh, amount);
        ref::rowNoiseTint(expected, time, x, y, rw, rh, amount);
        ASSERT_TRUE(samePixels(image, expected)) << "round " << round << " time " << time << " amount "
                                                 << amount << " pixel " << firstDifference(image, expected);
    }
}

TEST(RowNoiseTint, AmountZeroKeepsColoursAndRectanglesAreClipped)
{
    // Amount 0: mul 255, add 0, so c becomes (c x 255) >> 8; the fourth byte clears.
    Image image(9, 2);
    for (int i = 0; i < 18; ++i)
        image.pixels[i] = 0xFFFF8001;
    rowNoiseTint(image, 3.0f, 0, 0, 9, 2, 0.0f);
    for (int i = 0; i < 18; ++i)
        ASSERT_EQ(image.pixels[i], 0x00FE7F00u) << i;

    // A rectangle hanging over every edge tints only the inside, with the
    // bands of the rows it would have had.
    std::mt19937 rng(6);
    Image big(30, 20), expected(30, 20), before(30, 20);
    fillRandom(big, rng);
    copyPixels(big, expected);
    copyPixels(big, before);
    Image window(10, 6, big.pitch, big.row(5) + 7);
    rowNoiseTint(window, 12.5f, -7, -5, 30, 20, 1.0f);
    ref::rowNoiseTint(expected, 12.5f, 0, 0, 30, 20, 1.0f);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const bool inside = x >= 7 && x < 17 && y >= 5 && y < 11;
            ASSERT_EQ(big.row(y)[x], (inside ? expected : before).row(y)[x]) << x << ',' << y;
        }
}
