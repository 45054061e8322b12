#include "image/ops.hpp"
#include "reference.hpp"
#include "test_images.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

TEST(ClipCopyRect, NegativePositionsMoveTheOtherStart)
{
    int sx = 0, sy = 0, dx = -10, dy = -5, w = 40, h = 30;
    ASSERT_TRUE(clipCopyRect(sx, sy, dx, dy, w, h, 100, 100, 100, 100));
    EXPECT_EQ((std::vector{sx, sy, dx, dy, w, h}), (std::vector{10, 5, 0, 0, 30, 25}));

    // Source start -3: the destination moves to 8 after its right edge cut w to 10.
    sx = -3, sy = 2, dx = 5, dy = 1, w = 20, h = 20;
    ASSERT_TRUE(clipCopyRect(sx, sy, dx, dy, w, h, 10, 12, 15, 100));
    EXPECT_EQ((std::vector{sx, sy, dx, dy, w, h}), (std::vector{0, 2, 8, 1, 7, 10}));

    sx = 0, sy = 0, dx = 1, dy = 1, w = INT_MAX, h = INT_MAX;  // no overflow
    ASSERT_TRUE(clipCopyRect(sx, sy, dx, dy, w, h, 40, 25, 50, 30));
    EXPECT_EQ((std::vector{w, h}), (std::vector{40, 25}));
}

TEST(ClipCopyRect, RectanglesWhollyOutsideCopyNothing)
{
    // Source 40 x 25, destination 50 x 30: {sx, sy, dx, dy, w, h}.
    const int cases[][6] = {{0, 0, -40, 0, 40, 10}, {0, 0, 0, -10, 40, 10}, {0, 0, 50, 0, 10, 10},
                            {0, 0, 0, 30, 10, 10},  {-20, 0, 0, 0, 20, 10}, {0, 25, 0, 0, 10, 10},
                            {0, 0, 0, 0, 0, 10},    {0, 0, 0, 0, 10, -1},   {0, 0, INT_MIN, 0, INT_MAX, 10}};
    for (const auto& c : cases) {
        int sx = c[0], sy = c[1], dx = c[2], dy = c[3], w = c[4], h = c[5];
        EXPECT_FALSE(clipCopyRect(sx, sy, dx, dy, w, h, 40, 25, 50, 30))
            << c[0] << ' ' << c[1] << ' ' << c[2] << ' ' << c[3] << ' ' << c[4] << ' ' << c[5];
    }
}

TEST(Fills, ClearSetsEveryPixelAndFillRectStaysInside)
{
    // 13 x 3 = 39 pixels, not a multiple of 8: the last ones go through the tail.
    Image image(13, 3);
    std::fill_n(image.pixels, 40, 0xDEADBEEFu);
    clearImage(image, 0xFF123456);
    for (int i = 0; i < 39; ++i)
        ASSERT_EQ(image.pixels[i], 0xFF123456u) << "pixel " << i;
    EXPECT_EQ(image.pixels[39], 0xDEADBEEFu) << "cleared past the last row";

    // Rows further apart than the width keep their gaps.
    std::uint32_t block[3 * 8] = {};
    Image wrapped(5, 3, 32, block);
    clearImage(wrapped, 7);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(block[i], i % 8 < 5 ? 7u : 0u) << i;

    // A rectangle reaching past the edges fills what is inside; an inverted one nothing.
    clearImage(image, 0);
    fillRect(image, 10, -2, 20, 1, 0x00ABCDEF);
    fillRect(image, 5, 2, 4, 2, 1);
    for (int i = 0; i < 39; ++i)
        EXPECT_EQ(image.pixels[i], (i % 13 >= 10 && i < 26) ? 0x00ABCDEFu : 0u) << i;
    EXPECT_EQ(image.pixels[39], 0xDEADBEEFu);
}

TEST(AddImageScaled, FactorOneAddsOneLessAndZeroNothing)
{
    // 32767 / 32768 < 1, so every s >= 1 adds s - 1.
    Image src(256, 1), dst(256, 1);
    for (int s = 0; s < 256; ++s)
        src.pixels[s] = static_cast<std::uint32_t>(s) * 0x01010101u;
    clearImage(dst, 0);
    addImageScaled(src, dst, 0, 0, 0, 0, 256, 1, 1.0f);
    for (int s = 0; s < 256; ++s)
        ASSERT_EQ(dst.pixels[s] & 0xFFFFFFu, static_cast<std::uint32_t>(std::max(s - 1, 0)) * 0x010101u) << s;

    clearImage(dst, 0x00102030);
    addImageScaled(src, dst, 0, 0, 0, 0, 256, 1, 0.0f);
    EXPECT_EQ(dst.pixels[255], 0x00102030u);
    // Above 1 the multiplier must not wrap into a negative one and darken.
    addImageScaled(src, dst, 0, 0, 0, 0, 256, 1, 1.5f);
    EXPECT_EQ(dst.pixels[255] & 0xFFFFFFu, 0xFFFFFFu);
}

TEST(Blits, AddsMatchTheReferenceOnRandomRectangles)
{
    std::mt19937 rng(1);
    const float factors[] = {1.0f, 0.999f, 0.5f, 0.37f, 0.01f, -0.3f, -1.0f};
    for (int round = 0; round < 300; ++round) {
        Image src(1 + rng() % 40, 1 + rng() % 12);
        fillRandom(src, rng);
        RandomPair dst(1 + rng() % 40, 1 + rng() % 12, rng);
        const int sx = static_cast<int>(rng() % 20) - 5, sy = static_cast<int>(rng() % 8) - 3;
        const int dx = static_cast<int>(rng() % 30) - 10, dy = static_cast<int>(rng() % 10) - 4;
        const int w = static_cast<int>(rng() % 45), h = static_cast<int>(rng() % 14);
        const float f = round % 9 == 8 ? static_cast<float>(rng() % 10000) / 9999.0f : factors[round % 7];
        if (round % 3 == 0) {
            addImage(src, dst.fast, sx, sy, dx, dy, w, h);
            ref::addImage(src, dst.expected, sx, sy, dx, dy, w, h);
        } else if (round % 3 == 1) {
            addImageScaled(src, dst.fast, sx, sy, dx, dy, w, h, f);
            ref::addImageScaled(src, dst.expected, sx, sy, dx, dy, w, h, f);
        } else {
            const auto colour = static_cast<Colour>(rng());
            addColour(dst.fast, colour);
            ref::addColour(dst.expected, colour);
        }
        ASSERT_EQ(dst.difference(), -1) << "round " << round << " factor " << f;
    }
}
