// Anti-aliased line.
#include "checks.hpp"
#include "engine/line.hpp"

#include <array>
#include <cmath>
#include <random>

TEST(DrawLineAA, WeightsOnAndBetweenRowsAndForAPoint)
{
    Canvas c(32, 24, 0x00101010);
    drawLineAA(c.image, 2, 2.0f, 12, 2.0f, 0xFFFFFF);
    EXPECT_EQ(c.at(2, 2), 0x00FEFEFEu);   // full weight: 255·32767/32768
    EXPECT_EQ(c.at(11, 3), 0x000F0F0Fu);  // zero weight: 16 darkened to 15
    EXPECT_EQ(c.changed(0x00101010), 20);  // ten columns, 2 to 11, two rows

    Canvas half(32, 24, 0xFF000000);
    drawLineAA(half.image, 2, 2.5f, 12, 2.5f, 0xC86432);
    EXPECT_EQ(half.at(6, 3), ((200u * 16384) >> 15) << 16 | ((100u * 16384) >> 15) << 8 | ((50u * 16384) >> 15));
    EXPECT_EQ(half.at(6, 2), ((200u * 16383) >> 15) << 16 | ((100u * 16383) >> 15) << 8 | ((50u * 16383) >> 15));

    Canvas point(32, 24, 0);  // zero length: one pair
    drawLineAA(point.image, 7.75f, 9.5f, 7.75f, 9.5f, 0x00FF00);
    EXPECT_EQ(point.changed(0), 2);
    EXPECT_EQ(point.at(7, 9), ((255u * 8191) >> 15) << 8);
    EXPECT_EQ(point.at(8, 9), ((255u * 24576) >> 15) << 8);
}

TEST(DrawLineAA, EndPointOrderAndRunLengths)
{
    Canvas a(32, 24, 0), b(32, 24, 0);
    drawLineAA(a.image, 3.3f, 2.2f, 20.7f, 15.1f, 0xA0B0C0);
    drawLineAA(b.image, 20.7f, 15.1f, 3.3f, 2.2f, 0xA0B0C0);
    EXPECT_EQ(a.memory, b.memory);

    Canvas leftward(32, 24, 0), vertical(32, 24, 0);
    drawLineAA(leftward.image, 9, 4, 1, 4, 0xFFFFFF);          // columns 9 down to 2
    drawLineAA(vertical.image, 4.25f, 1, 4.25f, 6, 0xFFFFFF);  // rows 1 to 6
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(leftward.at(i, 4) != 0, i >= 2 && i <= 9) << i;
        EXPECT_EQ(vertical.at(4, i) != 0, i >= 1 && i <= 6) << i;
    }
    EXPECT_EQ(vertical.at(5, 3), 0x003F3F3Fu);  // weight 0.25 to the right
}

TEST(DrawLineAA, ClipRectangleAndImageEdges)
{
    Canvas c(32, 24, 0x00202020);
    c.image.clipLeft = 4;
    c.image.clipTop = 4;
    c.image.clipRight = 20;
    c.image.clipBottom = 15;
    // Above, below, left, right and past the top-left corner.
    for (const auto& l : {std::array{0, 1, 30, 3}, {0, 17, 30, 22}, {1, 0, 3, 23}, {22, 0, 30, 23}, {0, 9, 7, 0}})
        drawLineAA(c.image, l[0], l[1], l[2], l[3], 0xFFFFFF);
    EXPECT_EQ(c.changed(0x00202020), 0);
    drawLineAA(c.image, -10, 8, 40, 10, 0xFFFFFF);  // crosses: cut at columns 4 and 20
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x)
            EXPECT_TRUE(c.at(x, y) == 0x00202020u || (x >= 4 && x <= 20)) << x << "," << y;
    EXPECT_NE(c.at(4, 8), 0x00202020u);

    // On the last row and column the second pixel of a pair would fall
    // outside the picture; huge and NaN end points are refused.
    Canvas edges(32, 24);
    drawLineAA(edges.image, 2, 23, 25, 23, 0xFFFFFF);
    drawLineAA(edges.image, 31, 0, 31, 23, 0xFFFFFF);
    drawLineAA(edges.image, 1e30f, 5, -1e30f, 6, 0xFFFFFF);
    drawLineAA(edges.image, std::nanf(""), 5, 3, 6, 0xFFFFFF);
    EXPECT_GT(edges.changed(), 40);  // fails on writes outside
    EXPECT_EQ(edges.at(10, 23), 0x00FEFEFEu);
    EXPECT_EQ(edges.at(31, 3), 0x00FEFEFEu);
}

TEST(DrawLineAA, PairBlendMatchesScalarArithmetic)
{
    std::mt19937 random(99);
    for (int trial = 0; trial < 20000; ++trial) {
        std::uint32_t pixels[2] = {static_cast<std::uint32_t>(random()), static_cast<std::uint32_t>(random())};
        const std::uint32_t before[2] = {pixels[0], pixels[1]};
        const auto f = static_cast<std::int32_t>(trial < 4 ? (trial & 1) * 32767 : random() & 0x7FFF);
        const Colour colour = static_cast<Colour>(random());
        blendPixelPair(&pixels[0], &pixels[1], f, colour);
        for (int k = 0; k < 2; ++k) {
            const std::int32_t w = k == 0 ? 32767 - f : f;
            std::uint32_t expected = 0;
            for (int shift = 0; shift < 24; shift += 8)
                expected |= (((((before[k] >> shift) & 0xFF) * static_cast<std::uint32_t>(32767 - w)) >> 15) +
                             ((((colour >> shift) & 0xFF) * static_cast<std::uint32_t>(w)) >> 15))
                            << shift;
            ASSERT_EQ(pixels[k], expected) << trial << " " << k;
        }
    }
}
