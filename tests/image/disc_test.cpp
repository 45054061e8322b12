#include "image/ops.hpp"
#include "reference.hpp"
#include "test_images.hpp"

#include <gtest/gtest.h>

TEST(DrawDisc, RadiusOneAtAnIntegerCentre)
{
    Image image(5, 5);
    clearImage(image, 0xFF000000);
    drawDisc(image.pixels, image.pitch, 5, 5, 2.0f, 2.0f, 1.0f, 0x00FF8040);
    // inner = 0, so even the centre blends, with t = 0: the full colour and a
    // cleared fourth byte.
    EXPECT_EQ(image.pixels[2 * 5 + 2], 0x00FF8040u);
    // Distance 1: d = 4096, t = 4096 x 1024 >> 16 = 64; (c x 192) / 256 over black.
    EXPECT_EQ(image.pixels[2 * 5 + 3], 0x00BF6030u);
    EXPECT_EQ(image.pixels[1 * 5 + 2], 0x00BF6030u);
    // Distance sqrt 2: d = 8192, t = 128.
    EXPECT_EQ(image.pixels[1 * 5 + 1], 0x007F4020u);
    // Distance 2 is outside the ring: untouched, as is everything beyond.
    EXPECT_EQ(image.pixels[2 * 5 + 4], 0xFF000000u);
    EXPECT_EQ(image.pixels[2 * 5 + 0], 0xFF000000u);
    EXPECT_EQ(image.pixels[0], 0xFF000000u);
}

TEST(DrawDisc, MatchesTheReferenceAndStaysInside)
{
    std::mt19937 rng(4);
    for (int round = 0; round < 300; ++round) {
        const int w = 1 + rng() % 40, h = 1 + rng() % 30;
        Image image(w, h), expected(w, h);
        fillRandom(image, rng);
        copyPixels(image, expected);
        const float cx = static_cast<float>(rng() % 6000) / 100.0f - 10.0f;
        const float cy = static_cast<float>(rng() % 5000) / 100.0f - 10.0f;
        const float r = static_cast<float>(rng() % 2000) / 100.0f + 0.6f;
        const Colour colour = static_cast<Colour>(rng());
        drawDisc(image.pixels, image.pitch, w, h, cx, cy, r, colour);
        ref::drawDisc(expected.pixels, expected.pitch, w, h, cx, cy, r, colour);
        ASSERT_TRUE(samePixels(image, expected)) << "round " << round << " centre " << cx << ',' << cy
                                                 << " radius " << r << " pixel " << firstDifference(image, expected);
    }
}

TEST(DrawDisc, OddArgumentsDrawSafely)
{
    Image image(16, 8);
    clearImage(image, 0);
    // Wholly off the image, or not a number: nothing.
    drawDisc(image.pixels, image.pitch, 16, 8, -30.0f, 4.0f, 5.0f, 0xFFFFFF);
    drawDisc(image.pixels, image.pitch, 16, 8, 8.0f, 40.0f, 5.0f, 0xFFFFFF);
    drawDisc(image.pixels, image.pitch, 16, 8, 8.0f, 4.0f, std::nanf(""), 0xFFFFFF);
    drawDisc(image.pixels, image.pitch, 16, 8, 1.0e30f, 4.0f, 5.0f, 0xFFFFFF);
    for (int i = 0; i < 16 * 8; ++i)
        ASSERT_EQ(image.pixels[i], 0u) << i;
    // Radius 0 at an integer centre sets that one pixel.
    drawDisc(image.pixels, image.pitch, 16, 8, 3.0f, 2.0f, 0.0f, 0x123456);
    for (int i = 0; i < 16 * 8; ++i)
        ASSERT_EQ(image.pixels[i], i == 2 * 16 + 3 ? 0x123456u : 0u) << i;
    // A disc much larger than the image covers it, centre far away.
    drawDisc(image.pixels, image.pitch, 16, 8, -5000.0f, 3.0f, 100000.0f, 0x00ABCDEF);
    for (int i = 0; i < 16 * 8; ++i)
        ASSERT_EQ(image.pixels[i], 0x00ABCDEFu) << i;
}
