#include "image/ops.hpp"
#include "image/wide.hpp"
#include "reference.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

// {sx, sy, dx, dy, w, h} after clipping; empty when nothing is left to copy.
std::vector<int> clipped(std::vector<int> r, int srcW, int srcH, int dstW, int dstH)
{
    return clipCopyRect(r[0], r[1], r[2], r[3], r[4], r[5], srcW, srcH, dstW, dstH) ? r : std::vector<int>{};
}

TEST(ClipCopyRect, NegativeStartsAndRectanglesWhollyOutside)
{
    EXPECT_EQ(clipped({0, 0, -10, -5, 40, 30}, 100, 100, 100, 100), (std::vector{10, 5, 0, 0, 30, 25}));
    // Source start -3: the destination moves to 8 after its right edge cut w to 10.
    EXPECT_EQ(clipped({-3, 2, 5, 1, 20, 20}, 10, 12, 15, 100), (std::vector{0, 2, 8, 1, 7, 10}));
    EXPECT_EQ(clipped({0, 0, 1, 1, INT_MAX, INT_MAX}, 40, 25, 50, 30), (std::vector{0, 0, 1, 1, 40, 25}));
    const std::vector<int> outside[] = {{0, 0, -40, 0, 40, 10}, {0, 0, 0, -10, 40, 10}, {0, 0, 50, 0, 10, 10},
                                        {0, 0, 0, 30, 10, 10},  {-20, 0, 0, 0, 20, 10}, {0, 25, 0, 0, 10, 10},
                                        {0, 0, 0, 0, 0, 10},    {0, 0, 0, 0, 10, -1},   {0, 0, INT_MIN, 0, INT_MAX, 10}};
    for (const auto& r : outside)
        EXPECT_EQ(clipped(r, 40, 25, 50, 30), std::vector<int>{}) << r[0] << ' ' << r[1] << ' ' << r[2] << ' ' << r[4];
}

TEST(ContentBox, HoldsEveryPixelThatIsNotZeroAndNothingPastTheRowEnds)
{
    const auto box = [](const Image& image) {
        const PixelBox b = contentBox(image);
        return std::vector<int>{b.x, b.y, b.width, b.height};
    };
    // Rows of 8 pixels of which the image shows 7: the eighth never counts.
    std::vector<std::uint32_t> block(8 * 5, 0);
    Image image(7, 5, 8 * 4, block.data());
    EXPECT_EQ(box(image), (std::vector<int>{0, 0, 0, 0}));
    block[7] = block[4 * 8 + 7] = 0xFFFFFFFFu;
    EXPECT_EQ(box(image), (std::vector<int>{0, 0, 0, 0}));
    block[2 * 8 + 3] = 0x01000000u;  // the fourth byte alone is content
    EXPECT_EQ(box(image), (std::vector<int>{3, 2, 1, 1}));
    block[4 * 8 + 1] = 1;
    block[6] = 0x00010000u;
    EXPECT_EQ(box(image), (std::vector<int>{1, 0, 6, 5}));

    // Adding only the box draws what adding the whole image draws, also
    // where the image reaches past the destination.
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        Image text(1 + static_cast<int>(rng() % 30), 1 + static_cast<int>(rng() % 12));
        const int x0 = static_cast<int>(rng() % static_cast<unsigned>(text.width)), y0 = static_cast<int>(rng() % static_cast<unsigned>(text.height));
        const int x1 = x0 + static_cast<int>(rng() % static_cast<unsigned>(text.width - x0));
        const int y1 = y0 + static_cast<int>(rng() % static_cast<unsigned>(text.height - y0));
        clearImage(text, 0);
        if (round % 10 != 0)
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x)
                    text.row(y)[x] = rng() % 3 == 0 ? 0u : static_cast<std::uint32_t>(rng());
        RandomPair dst(24, 10, rng);
        const int x = static_cast<int>(rng() % 40) - 15, y = static_cast<int>(rng() % 20) - 8;
        const float f = static_cast<float>(rng() % 2001) / 1000.0f - 1.0f;
        addImageScaled(text, dst.expected, 0, 0, x, y, text.width, text.height, f);
        addBoxScaled(text, contentBox(text), dst.fast, x, y, f);
        ASSERT_EQ(dst.difference(), -1) << "round " << round;
    }
}

TEST(Fills, ClearSetsEveryPixelAndFillRectStaysInside)
{
    // 13 x 3 = 39 pixels, not a multiple of 8: the last ones go through the tail.
    Image image(13, 3);
    std::fill_n(image.pixels, 40, 0xDEADBEEFu);
    clearImage(image, 0xFF123456);
    EXPECT_EQ(std::count(image.pixels, image.pixels + 40, 0xFF123456u), 39) << "the pixel past the last row is kept";
    // A rectangle reaching past the edges fills what is inside; an inverted one nothing.
    fillRect(image, 10, -2, 20, 1, 0x00ABCDEF);
    fillRect(image, 5, 2, 4, 2, 1);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(image.pixels[i], i == 39 ? 0xDEADBEEFu : i % 13 >= 10 && i < 26 ? 0x00ABCDEFu : 0xFF123456u) << i;
}

TEST(AddImageScaled, FactorOneAddsOneLessAndLargerFactorsDoNotWrap)
{
    // 32767 / 32768 < 1, so every s >= 1 adds s - 1; above 1 the multiplier
    // must not wrap into a negative one and darken.
    Image src(256, 1), dst(256, 1), again(256, 1);
    for (int s = 0; s < 256; ++s)
        src.pixels[s] = dst.pixels[s] = again.pixels[s] = static_cast<std::uint32_t>(s) * 0x01010101u;
    addImageScaled(src, dst, 0, 0, 0, 0, 256, 1, 1.0f);
    addImageScaled(src, again, 0, 0, 0, 0, 256, 1, 1.5f);
    for (int s = 0; s < 256; ++s)
        ASSERT_EQ(dst.pixels[s], static_cast<std::uint32_t>(std::min(255, 2 * s - (s > 0))) * 0x01010101u) << s;
    EXPECT_EQ(again.pixels[255], 0xFFFFFFFFu);
}

TEST(Blits, AddsMatchTheReferenceOnRandomRectangles)
{
    // Both forms where the processor has the wide one: the scaled add goes
    // eight pixels at a time there, from whatever alignment the row has.
    const bool was = wideVectors();
    std::mt19937 rng(1);
    const float factors[] = {1.0f, 0.999f, 0.5f, 0.37f, 0.01f, -0.3f, -1.0f, 0.0f};
    for (int round = 0; round < 600; ++round) {
        useWideVectors(round < 300);
        RandomPair src(1 + rng() % 40, 1 + rng() % 12, rng), dst(1 + rng() % 40, 1 + rng() % 12, rng);
        const int sx = static_cast<int>(rng() % 20) - 5, sy = static_cast<int>(rng() % 8) - 3;
        const int dx = static_cast<int>(rng() % 30) - 10, dy = static_cast<int>(rng() % 10) - 4;
        const int w = static_cast<int>(rng() % 45), h = static_cast<int>(rng() % 14);
        const float f = round % 9 == 8 ? static_cast<float>(rng() % 10000) / 9999.0f : factors[round % 8];
        if (round % 3 == 0) {
            addImage(src.fast, dst.fast, sx, sy, dx, dy, w, h);
            ref::addImage(src.fast, dst.expected, sx, sy, dx, dy, w, h, 32768);
        } else if (round % 3 == 1) {
            addImageScaled(src.fast, dst.fast, sx, sy, dx, dy, w, h, f);
            ref::addImage(src.fast, dst.expected, sx, sy, dx, dy, w, h, static_cast<int>(f * 32767.0));
        } else {  // a colour adds like a whole image of it
            Image full(dst.fast.width, dst.fast.height);
            clearImage(full, static_cast<Colour>(rng()));
            addColour(dst.fast, full.pixels[0]);
            ref::addImage(full, dst.expected, 0, 0, 0, 0, full.width, full.height, 32768);
        }
        ASSERT_EQ(dst.difference(), -1) << "round " << round << " factor " << f << " wide " << wideVectors();
    }
    useWideVectors(was);
}
