#include "image/noise.hpp"
#include "image/ops.hpp"
#include "reference.hpp"
#include "test_images.hpp"

#include <gtest/gtest.h>

#include <limits>

TEST(Noise, HashValuesAndCounter)
{
    // n = 0: v = -771171059 kept to 31 bits = 1376312589, about -0.28.
    EXPECT_DOUBLE_EQ(noise(0), 1.0 - 1376312589.0 / 1073741824.0);
    for (int n : {-2147483647 - 1, -1, 1, 12345, 2147483647}) {
        EXPECT_GT(noise(n), -1.0) << n;
        EXPECT_LE(noise(n), 1.0) << n;
    }
    resetNextNoise();
    for (int n = 0; n < 24; ++n)
        ASSERT_EQ(nextNoise(), noise(n)) << n;
}

TEST(Noise, SmoothNoiseIsExactAtIntegersAndBlendsBetween)
{
    for (int n : {-70000, -1, 0, 1, 17, 44320, 100000})
        EXPECT_EQ(smoothNoise(static_cast<float>(n)), noise(n)) << n;
    EXPECT_NEAR(smoothNoise(5.5f), (noise(5) + noise(6)) / 2, 1e-7);
    // trunc() goes toward zero: -2.5 blends noise(-2) and noise(-1).
    EXPECT_NEAR(smoothNoise(-2.5f), (noise(-2) + noise(-1)) / 2, 1e-7);
}

TEST(Noise, SmoothNoiseMatchesTheCosineEverywhere)
{
    // Fine fractions near 0 take the cosine, coarse ones far out the table.
    std::mt19937 rng(3);
    for (int round = 0; round < 200000; ++round) {
        const float scale = static_cast<float>(1 << (round % 20)) / 64.0f;
        const float x = (static_cast<float>(rng() % 1000000) / 1000000.0f) * scale * (round % 7 == 0 ? -1.0f : 1.0f);
        ASSERT_EQ(smoothNoise(x), ref::smoothNoise(x)) << x;
    }
}

TEST(Noise, ClampUnit)
{
    EXPECT_EQ(clampUnit(-0.5f), 0.0f);
    EXPECT_EQ(clampUnit(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(clampUnit(0.25f), 0.25f);
    EXPECT_EQ(clampUnit(1.5f), 1.0f);
}

TEST(RowNoiseTint, MatchesTheReferenceOnRandomRectangles)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 60; ++round) {
        const int w = 1 + rng() % 50, h = 1 + rng() % 40;
        RandomPair image(w, h, rng);
        const int x = static_cast<int>(rng() % w), y = static_cast<int>(rng() % h);
        const int rw = 1 + static_cast<int>(rng() % (w - x)), rh = 1 + static_cast<int>(rng() % (h - y));
        const float time = static_cast<float>(rng() % 170000) / 1000.0f;
        const float amount = round % 3 == 0 ? 1.0f : static_cast<float>(rng() % 1001) / 1000.0f;
        rowNoiseTint(image.fast, time, x, y, rw, rh, amount);
        ref::rowNoiseTint(image.expected, time, x, y, rw, rh, amount);
        ASSERT_EQ(image.difference(), -1) << "round " << round << " time " << time << " amount " << amount;
    }
}

TEST(RowNoiseTint, AmountZeroKeepsColoursAndRectanglesAreClipped)
{
    // Amount 0: c becomes (c x 255) >> 8 and the fourth byte clears.
    Image image(9, 2);
    clearImage(image, 0xFFFF8001);
    rowNoiseTint(image, 3.0f, 0, 0, 9, 2, 0.0f);
    for (int i = 0; i < 18; ++i)
        ASSERT_EQ(image.pixels[i], 0x00FE7F00u) << i;

    // Hanging over every edge of a 10 x 6 window: only the window changes,
    // with the bands of the rows the rectangle gives it.
    std::mt19937 rng(6);
    RandomPair big(30, 20, rng);
    Image before(30, 20);
    copyPixels(big.fast, before);
    Image window(10, 6, big.fast.pitch, big.fast.row(5) + 7);
    rowNoiseTint(window, 12.5f, -7, -5, 30, 20, 1.0f);
    ref::rowNoiseTint(big.expected, 12.5f, 0, 0, 30, 20, 1.0f);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const bool inside = x >= 7 && x < 17 && y >= 5 && y < 11;
            ASSERT_EQ(big.fast.row(y)[x], (inside ? big.expected : before).row(y)[x]) << x << ',' << y;
        }
}
