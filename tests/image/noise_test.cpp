#include "image/noise.hpp"
#include "image/ops.hpp"
#include "reference.hpp"

#include <gtest/gtest.h>

#include <limits>

TEST(Noise, HashCounterAndClamp)
{
    // n = 0: v = -771171059 kept to 31 bits = 1376312589, about -0.28.
    EXPECT_DOUBLE_EQ(noise(0), 1.0 - 1376312589.0 / 1073741824.0);
    resetNextNoise();
    for (int n = 0; n < 24; ++n)
        ASSERT_EQ(nextNoise(), noise(n)) << n;
    EXPECT_EQ(clampUnit(-0.5f), 0.0f);
    EXPECT_EQ(clampUnit(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(clampUnit(0.25f), 0.25f);
    EXPECT_EQ(clampUnit(1.5f), 1.0f);
}

TEST(Noise, SmoothNoiseIsExactAtIntegersAndMatchesTheCosineBetween)
{
    for (int n : {-70000, -1, 0, 1, 17, 44320, 100000})
        EXPECT_EQ(smoothNoise(static_cast<float>(n)), noise(n)) << n;
    // trunc() goes toward zero: -2.5 blends noise(-2) and noise(-1).
    EXPECT_NEAR(smoothNoise(-2.5f), (noise(-2) + noise(-1)) / 2, 1e-7);
    // Fine fractions near 0 take the cosine, coarse ones far out a table.
    std::mt19937 rng(3);
    for (int round = 0; round < 200000; ++round) {
        const float scale = static_cast<float>(1 << (round % 20)) / 64.0f * (round % 7 == 0 ? -1.0f : 1.0f);
        const float x = static_cast<float>(rng() % 1000000) / 1000000.0f * scale;
        ASSERT_EQ(smoothNoise(x), ref::smoothNoise(x)) << x;
    }
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

TEST(RowNoiseTint, RectanglesOverTheEdgesAreClipped)
{
    // Hanging over every edge of a 10 x 6 window: only the window changes,
    // with the bands of the rows the rectangle gives it.
    std::mt19937 rng(6);
    RandomPair big(30, 20, rng);
    Image window(10, 6, big.fast.pitch, big.fast.row(5) + 7);
    rowNoiseTint(window, 12.5f, -7, -5, 30, 20, 1.0f);
    Image tinted(30, 20);
    std::memcpy(tinted.pixels, big.expected.pixels, 30 * 20 * 4);
    ref::rowNoiseTint(tinted, 12.5f, 0, 0, 30, 20, 1.0f);
    for (int i = 0; i < 30 * 20; ++i) {
        const bool inside = i % 30 >= 7 && i % 30 < 17 && i / 30 >= 5 && i / 30 < 11;
        ASSERT_EQ(big.fast.pixels[i], (inside ? tinted : big.expected).pixels[i]) << i;
    }
}
