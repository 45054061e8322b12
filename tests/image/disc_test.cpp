#include "image/ops.hpp"
#include "reference.hpp"

#include <gtest/gtest.h>

#include <array>

TEST(DrawDisc, RadiusOneAtAnIntegerCentre)
{
    Image image(5, 5);
    clearImage(image, 0xFF000000);
    drawDisc(image.pixels, image.pitch, 5, 5, 2.0f, 2.0f, 1.0f, 0x00FF8040);
    // inner = 0: even the centre blends, with t = 0, the full colour and the
    // fourth byte cleared. Distance 1 gives t = 64, distance sqrt 2 t = 128;
    // distance 2 is past the ring.
    const std::uint32_t o = 0xFF000000, a = 0x007F4020, b = 0x00BF6030, c = 0x00FF8040;
    const std::uint32_t expected[25] = {o, o, o, o, o, o, a, b, a, o, o, b, c, b, o, o, a, b, a, o, o, o, o, o, o};
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(image.pixels[i], expected[i]) << i % 5 << ',' << i / 5;
}

TEST(DrawDisc, MatchesTheReferenceOnRandomDiscs)
{
    std::mt19937 rng(4);
    for (int round = 0; round < 300; ++round) {
        // Narrow boxes are walked four pixels at a time, wide rows (over 64 pixels) by runs.
        const bool wide = round % 2 == 1;
        const int w = 1 + static_cast<int>(rng() % (wide ? 200 : 40)), h = 1 + static_cast<int>(rng() % (wide ? 60 : 30));
        RandomPair image(w, h, rng);
        float cx = static_cast<float>(rng() % (w * 150)) / 100.0f - 0.25f * static_cast<float>(w);
        const float cy = static_cast<float>(rng() % (h * 150)) / 100.0f - 0.25f * static_cast<float>(h);
        float r = static_cast<float>(rng() % (wide ? 15000 : 2000)) / 100.0f + 0.6f;
        if (round % 5 == 4) {
            // Centre far to the left, the edge reaching in: huge distances.
            cx = -static_cast<float>(rng() % 400000) / 7.0f;
            r = -cx + static_cast<float>(rng() % (w * 100)) / 100.0f;
        }
        const auto colour = static_cast<Colour>(rng());
        drawDisc(image.fast.pixels, image.fast.pitch, w, h, cx, cy, r, colour);
        ref::drawDisc(image.expected, cx, cy, r, colour);
        ASSERT_EQ(image.difference(), -1) << "round " << round << " centre " << cx << ',' << cy << " radius " << r;
    }
}

TEST(DrawDisc, OddArgumentsDrawSafely)
{
    Image image(16, 8);
    clearImage(image, 0);
    auto disc = [&](float x, float y, float r, Colour c) { drawDisc(image.pixels, image.pitch, 16, 8, x, y, r, c); };
    // Wholly off the image, not a number or a negative radius: nothing.
    // Radius 0 at an integer centre sets that one pixel.
    for (const auto& [x, y, r] : {std::array{-30.0f, 4.0f, 5.0f}, {8.0f, 40.0f, 5.0f}, {8.0f, 4.0f, std::nanf("")},
                                  {1.0e30f, 4.0f, 5.0f}, {8.0f, 4.0f, -2.0f}, {8.0f, 4.0f, -1.0e7f}, {3.0f, 2.0f, 0.0f}})
        disc(x, y, r, r == 0.0f ? 0x123456 : 0xFFFFFF);
    for (int i = 0; i < 16 * 8; ++i)
        ASSERT_EQ(image.pixels[i], i == 2 * 16 + 3 ? 0x123456u : 0u) << i % 16 << ',' << i / 16;
    // A disc far larger than the image, centred far away, covers it.
    disc(-5000.0f, 3.0f, 100000.0f, 0x00ABCDEF);
    EXPECT_EQ(std::count(image.pixels, image.pixels + 16 * 8, 0x00ABCDEFu), 16 * 8);
}
