#include "image/ops.hpp"
#include "reference.hpp"
#include "test_images.hpp"

#include <gtest/gtest.h>

#include <climits>

TEST(ClipCopyRect, NegativeDestinationMovesTheSourceStart)
{
    int sx = 0, sy = 0, dx = -10, dy = -5, w = 40, h = 30;
    ASSERT_TRUE(clipCopyRect(sx, sy, dx, dy, w, h, 100, 100, 100, 100));
    EXPECT_EQ(sx, 10);
    EXPECT_EQ(sy, 5);
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 0);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 25);

    // A negative source start moves the destination; both far edges cut.
    sx = -3, sy = 2, dx = 5, dy = 1, w = 20, h = 20;
    ASSERT_TRUE(clipCopyRect(sx, sy, dx, dy, w, h, 10, 12, 15, 100));
    EXPECT_EQ(sx, 0);
    EXPECT_EQ(dx, 8);
    EXPECT_EQ(w, 7);   // the destination's right edge, then the source start
    EXPECT_EQ(sy, 2);
    EXPECT_EQ(h, 10);  // the source's bottom edge
}

TEST(ClipCopyRect, RectanglesWhollyOutsideCopyNothing)
{
    struct Case { int sx, sy, dx, dy, w, h; };
    const Case cases[] = {
        {0, 0, -40, 0, 40, 10},   // left of the destination
        {0, 0, 0, -10, 40, 10},   // above it
        {0, 0, 50, 0, 10, 10},    // right of it
        {0, 0, 0, 30, 10, 10},    // below it
        {-20, 0, 0, 0, 20, 10},   // left of the source
        {0, 25, 0, 0, 10, 10},    // below the source
        {0, 0, 0, 0, 0, 10},      // empty
        {0, 0, 0, 0, 10, -1},
        {0, 0, INT_MIN, 0, INT_MAX, 10},  // far out, no overflow
        {0, 0, 1, 1, INT_MAX, INT_MAX},   // huge, clipped down
    };
    for (const Case& c : cases) {
        int sx = c.sx, sy = c.sy, dx = c.dx, dy = c.dy, w = c.w, h = c.h;
        const bool left = clipCopyRect(sx, sy, dx, dy, w, h, 40, 25, 50, 30);
        if (c.w == INT_MAX && c.h == INT_MAX) {
            EXPECT_TRUE(left);
            EXPECT_EQ(w, 40);
            EXPECT_EQ(h, 25);
        } else {
            EXPECT_FALSE(left) << c.sx << ' ' << c.sy << ' ' << c.dx << ' ' << c.dy << ' ' << c.w << ' ' << c.h;
        }
    }
}

TEST(Fills, ClearSetsEveryPixelAndFillRectStaysInside)
{
    // 13 x 3 = 39 pixels: not a multiple of 8 (or 4), so the tail loop runs.
    Image image(13, 3);
    for (int i = 0; i < 39 + Image::sparePixels; ++i)
        image.pixels[i] = 0xDEADBEEF;
    clearImage(image, 0xFF123456);
    for (int i = 0; i < 39; ++i)
        ASSERT_EQ(image.pixels[i], 0xFF123456u) << "pixel " << i;
    EXPECT_EQ(image.pixels[39], 0xDEADBEEFu) << "cleared past the last row";

    // Rows further apart than the width: the gaps stay.
    std::uint32_t block[3 * 8] = {};
    Image wrapped(5, 3, 32, block);
    clearImage(wrapped, 7);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(block[y * 8 + x], x < 5 ? 7u : 0u) << x << ',' << y;

    // A rectangle reaching past the edges fills only what is inside.
    clearImage(image, 0);
    fillRect(image, 10, -2, 20, 1, 0x00ABCDEF);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 13; ++x)
            EXPECT_EQ(image.pixels[y * 13 + x], (x >= 10 && y <= 1) ? 0x00ABCDEFu : 0u) << x << ',' << y;
    EXPECT_EQ(image.pixels[39], 0xDEADBEEFu);
    fillRect(image, 5, 2, 4, 2, 1);  // inverted: nothing
    EXPECT_EQ(image.pixels[2 * 13 + 4], 0u);
}

TEST(AddImage, SaturatesEveryByteAndMatchesTheReference)
{
    std::uint32_t s = 0x80FF0102, d = 0x90017FFF;
    Image src(1, 1, 4, &s), dst(1, 1, 4, &d);
    addImage(src, dst, 0, 0, 0, 0, 1, 1);
    EXPECT_EQ(d, 0xFFFF80FFu);

    std::mt19937 rng(1);
    for (int round = 0; round < 200; ++round) {
        const int sw = 1 + rng() % 40, sh = 1 + rng() % 12, dw = 1 + rng() % 40, dh = 1 + rng() % 12;
        Image a(sw, sh), b(dw, dh), expected(dw, dh);
        fillRandom(a, rng);
        fillRandom(b, rng);
        copyPixels(b, expected);
        const int sx = static_cast<int>(rng() % 20) - 5, sy = static_cast<int>(rng() % 8) - 3;
        const int dx = static_cast<int>(rng() % 30) - 10, dy = static_cast<int>(rng() % 10) - 4;
        const int w = static_cast<int>(rng() % 45), h = static_cast<int>(rng() % 14);
        addImage(a, b, sx, sy, dx, dy, w, h);
        ref::addImage(a, expected, sx, sy, dx, dy, w, h);
        ASSERT_TRUE(samePixels(b, expected)) << "round " << round << " pixel " << firstDifference(b, expected);
    }
}

TEST(AddImageScaled, FactorOneAddsOneLessAndMatchesTheReference)
{
    // Every source value s >= 1 adds s - 1 at factor 1, since 32767 / 32768 < 1.
    Image src(256, 1), dst(256, 1);
    for (int s = 0; s < 256; ++s)
        src.pixels[s] = static_cast<std::uint32_t>(s * 0x01010101u);
    clearImage(dst, 0);
    addImageScaled(src, dst, 0, 0, 0, 0, 256, 1, 1.0f);
    for (int s = 0; s < 256; ++s)
        ASSERT_EQ(dst.pixels[s] & 0xFFFFFFu, static_cast<std::uint32_t>(std::max(s - 1, 0) * 0x010101u)) << s;

    clearImage(dst, 0x00102030);
    addImageScaled(src, dst, 0, 0, 0, 0, 256, 1, 0.0f);
    for (int s = 0; s < 256; ++s)
        ASSERT_EQ(dst.pixels[s], 0x00102030u) << "factor 0 added something at " << s;

    // A factor above 1 must not wrap into a negative one and darken.
    clearImage(dst, 0x00404040);
    addImageScaled(src, dst, 0, 0, 0, 0, 256, 1, 1.5f);
    EXPECT_EQ(dst.pixels[200] & 0xFFFFFFu, 0x00FFFFFFu);

    std::mt19937 rng(2);
    const float factors[] = {1.0f, 0.999f, 0.5f, 0.37f, 0.01f, -0.3f, -1.0f};
    for (int round = 0; round < 140; ++round) {
        const int sw = 1 + rng() % 40, sh = 1 + rng() % 12, dw = 1 + rng() % 40, dh = 1 + rng() % 12;
        Image a(sw, sh), b(dw, dh), expected(dw, dh);
        fillRandom(a, rng);
        fillRandom(b, rng);
        copyPixels(b, expected);
        const int sx = static_cast<int>(rng() % 20) - 5, sy = static_cast<int>(rng() % 8) - 3;
        const int dx = static_cast<int>(rng() % 30) - 10, dy = static_cast<int>(rng() % 10) - 4;
        const int w = static_cast<int>(rng() % 45), h = static_cast<int>(rng() % 14);
        const float f = round % 8 == 7 ? static_cast<float>(rng() % 10000) / 9999.0f : factors[round % 7];
        addImageScaled(a, b, sx, sy, dx, dy, w, h, f);
        ref::addImageScaled(a, expected, sx, sy, dx, dy, w, h, f);
        ASSERT_TRUE(samePixels(b, expected)) << "round " << round << " factor " << f
                                             << " pixel " << firstDifference(b, expected);
    }
}

TEST(AddColour, SaturatesAllFourBytesOverOddSizes)
{
    std::mt19937 rng(3);
    for (int w = 1; w <= 19; w += 3) {
        Image image(w, 3), expected(w, 3);
        fillRandom(image, rng);
        copyPixels(image, expected);
        const Colour colour = static_cast<Colour>(rng());
        addColour(image, colour);
        ref::addColour(expected, colour);
        ASSERT_TRUE(samePixels(image, expected)) << "width " << w << " pixel " << firstDifference(image, expected);
    }
}
