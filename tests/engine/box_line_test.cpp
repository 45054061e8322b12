// Box mesh and anti-aliased line.
#include "engine/box.hpp"
#include "engine/line.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

struct Canvas {
    std::vector<std::uint32_t> memory;
    Image image;
    // Four spare rows and 8 spare columns around the picture's right and bottom.
    explicit Canvas(std::uint32_t fill = 0) : memory(40 * 28, fill), image(32, 24, 40 * 4, memory.data()) {}
    std::uint32_t at(int x, int y) const { return memory[static_cast<std::size_t>(y * 40 + x)]; }
    int changed(std::uint32_t fill) const
    {
        int n = 0;
        for (std::uint32_t p : memory)
            n += p != fill;
        return n;
    }
};

} // namespace

TEST(MakeBox, CornersAndOutwardNormals)
{
    Mesh* box = makeBox(10, 2, 10);
    ASSERT_EQ(box->vertexCount, 8);
    ASSERT_EQ(box->faceCount, 12);
    EXPECT_EQ(box->vertices[0].x, -10.0f);
    EXPECT_EQ(box->vertices[1].y, 2.0f);
    EXPECT_EQ(box->vertices[6].z, -10.0f);
    const Vector3 outward[6] = {{0, 0, 1}, {1, 0, 0}, {0, -1, 0}, {-1, 0, 0}, {0, 1, 0}, {0, 0, -1}};
    for (int f = 0; f < 12; ++f) {
        const Vector3& n = box->faceNormals[f];
        EXPECT_NEAR(n.dot(outward[f / 2]), 1.0, 1e-6) << f;
        for (int k = 0; k < 3; ++k)  // every corner of the face lies on its outer side
            EXPECT_GT(box->vertices[box->faces[f].v[k]].dot(n), 1.9) << f;
    }
    EXPECT_EQ(box->texCoords[3].u, 255.0f);
    EXPECT_EQ(box->faces[3].t[1], 3);
    box->freeGeometry();
    delete box;
}

TEST(DrawLineAA, HorizontalOnAndBetweenRows)
{
    Canvas c(0x00101010);
    drawLineAA(c.image, 2, 2.0f, 12, 2.0f, 0xFFFFFF);
    EXPECT_EQ(c.at(5, 2), 0x00FEFEFEu);  // full weight: 255·32767/32768
    EXPECT_EQ(c.at(5, 3), 0x000F0F0Fu);  // zero weight: 16 darkened to 15
    EXPECT_EQ(c.at(11, 2), 0x00FEFEFEu); // ten columns, 2 to 11
    EXPECT_EQ(c.changed(0x00101010), 20);

    Canvas half(0xFF000000);
    drawLineAA(half.image, 2, 2.5f, 12, 2.5f, 0xC86432);
    EXPECT_EQ(half.at(6, 3), ((200u * 16384) >> 15) << 16 | ((100u * 16384) >> 15) << 8 | ((50u * 16384) >> 15));
    EXPECT_EQ(half.at(6, 2), ((200u * 16383) >> 15) << 16 | ((100u * 16383) >> 15) << 8 | ((50u * 16383) >> 15));
}

TEST(DrawLineAA, EndPointOrderAndRunLengths)
{
    Canvas a, b;
    drawLineAA(a.image, 3.3f, 2.2f, 20.7f, 15.1f, 0xA0B0C0);
    drawLineAA(b.image, 20.7f, 15.1f, 3.3f, 2.2f, 0xA0B0C0);
    EXPECT_EQ(a.memory, b.memory);

    Canvas leftward, vertical;
    drawLineAA(leftward.image, 9, 4, 1, 4, 0xFFFFFF);  // columns 9 down to 2
    drawLineAA(vertical.image, 4.25f, 1, 4.25f, 6, 0xFFFFFF);  // rows 1 to 6
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(leftward.at(i, 4) != 0, i >= 2 && i <= 9) << i;
        EXPECT_EQ(vertical.at(4, i) != 0, i >= 1 && i <= 6) << i;
    }
    EXPECT_EQ(vertical.at(5, 3), 0x003F3F3Fu);  // weight 0.25 to the right
}

TEST(DrawLineAA, ZeroLengthBlendsOnePair)
{
    Canvas c;
    drawLineAA(c.image, 7.75f, 9.5f, 7.75f, 9.5f, 0x00FF00);
    EXPECT_EQ(c.changed(0), 2);
    EXPECT_EQ(c.at(7, 9), ((255u * 8191) >> 15) << 8);
    EXPECT_EQ(c.at(8, 9), ((255u * 24576) >> 15) << 8);
}

TEST(DrawLineAA, ClipRectangle)
{
    Canvas c(0x00202020);
    c.image.clipLeft = 4;
    c.image.clipTop = 4;
    c.image.clipRight = 20;
    c.image.clipBottom = 15;
    drawLineAA(c.image, 0, 1, 30, 3, 0xFFFFFF);    // above
    drawLineAA(c.image, 0, 17, 30, 22, 0xFFFFFF);  // below
    drawLineAA(c.image, 1, 0, 3, 23, 0xFFFFFF);    // left
    drawLineAA(c.image, 22, 0, 30, 23, 0xFFFFFF);  // right
    drawLineAA(c.image, 0, 9, 7, 0, 0xFFFFFF);     // past the top-left corner
    EXPECT_EQ(c.changed(0x00202020), 0);
    drawLineAA(c.image, -10, 8, 40, 10, 0xFFFFFF);  // crosses: cut at columns 4 and 20
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 40; ++x)
            if (c.at(x, y) != 0x00202020u) {
                EXPECT_GE(x, 4);
                EXPECT_LE(x, 20);
            }
    EXPECT_NE(c.at(4, 8), 0x00202020u);
}

TEST(DrawLineAA, NeverWritesOutsideTheImage)
{
    // Lines on the last row and column would blend their second pixel beyond
    // the picture; huge and NaN end points are refused.
    Canvas c(0xAB000000);
    drawLineAA(c.image, 2, 23, 25, 23, 0xFFFFFF);
    drawLineAA(c.image, 31, 0, 31, 23, 0xFFFFFF);
    drawLineAA(c.image, 1e30f, 5, -1e30f, 6, 0xFFFFFF);
    drawLineAA(c.image, std::nanf(""), 5, 3, 6, 0xFFFFFF);
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 40; ++x)
            if (y >= 24 || x >= 32) {
                ASSERT_EQ(c.at(x, y), 0xAB000000u) << x << "," << y;
            }
    EXPECT_EQ(c.at(10, 23), 0x00FEFEFEu);
    EXPECT_EQ(c.at(31, 3), 0x00FEFEFEu);
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
