// Box mesh and anti-aliased line.
#include "engine/box.hpp"
#include "engine/line.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Canvas {
    Image image{32, 24};
    explicit Canvas(std::uint32_t fill = 0)
    {
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                image.row(y)[x] = fill;
    }
    std::uint32_t at(int x, int y) const { return image.row(y)[x]; }
    bool same(const Canvas& other) const
    {
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (at(x, y) != other.at(x, y))
                    return false;
        return true;
    }
    int changed(std::uint32_t fill) const
    {
        int n = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                n += at(x, y) != fill;
        return n;
    }
};

} // namespace

TEST(MakeBox, CornersAndOutwardNormals)
{
    Mesh* box = makeBox(10, 2, 10);
    ASSERT_EQ(box->vertexCount, 8);
    ASSERT_EQ(box->faceCount, 12);
    ASSERT_EQ(box->texCoordCount, 4);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(std::fabs(box->vertices[i].x), 10.0f);
        EXPECT_EQ(std::fabs(box->vertices[i].y), 2.0f);
        EXPECT_EQ(std::fabs(box->vertices[i].z), 10.0f);
    }
    EXPECT_EQ(box->vertices[0].x, -10.0f);
    EXPECT_EQ(box->vertices[1].y, 2.0f);
    EXPECT_EQ(box->vertices[6].z, -10.0f);
    EXPECT_EQ(box->texCoords[3].u, 255.0f);
    const Vector3 outward[6] = {{0, 0, 1}, {1, 0, 0}, {0, -1, 0}, {-1, 0, 0}, {0, 1, 0}, {0, 0, -1}};
    for (int f = 0; f < 12; ++f) {
        const Vector3& n = box->faceNormals[f];
        const Vector3& o = outward[f / 2];
        EXPECT_NEAR(n.x, o.x, 1e-6f) << f;
        EXPECT_NEAR(n.y, o.y, 1e-6f) << f;
        EXPECT_NEAR(n.z, o.z, 1e-6f) << f;
        // The normal points away from the centre: every vertex of the face is on the +n side.
        EXPECT_GT(box->vertices[box->faces[f].v[0]].dot(n), 0.0) << f;
        EXPECT_EQ(box->faces[f].flags, 0);
    }
    EXPECT_EQ(box->faces[3].t[1], 3);
    EXPECT_STREQ(box->name, "<<no name>>");
    box->freeGeometry();
    delete box;
}

TEST(DrawLineAA, HorizontalOnRowAndBetweenRows)
{
    Canvas c(0x00101010);
    drawLineAA(c.image, 2, 2.0f, 12, 2.0f, 0xFFFFFF);
    EXPECT_EQ(c.at(5, 2), 0x00FEFEFEu);   // full weight: 255·32767/32768
    EXPECT_EQ(c.at(5, 3), 0x000F0F0Fu);   // zero weight: 16 darkened to 15
    EXPECT_EQ(c.at(5, 1), 0x00101010u);
    EXPECT_EQ(c.at(11, 2), 0x00FEFEFEu);  // ten columns, 2 to 11
    EXPECT_EQ(c.at(12, 2), 0x00101010u);

    Canvas half(0);
    drawLineAA(half.image, 2, 2.5f, 12, 2.5f, 0xC86432);
    const std::uint32_t expected = ((200 * 16384) >> 15) << 16 | ((100 * 16384) >> 15) << 8 | ((50 * 16384) >> 15);
    EXPECT_EQ((half.at(6, 3) >> 16) & 0xFF, 100u);
    EXPECT_EQ((half.at(6, 2) >> 16) & 0xFF, (200u * 16383) >> 15);
    EXPECT_EQ(half.at(6, 3), expected);
}

TEST(DrawLineAA, FourthByteBecomesZero)
{
    Canvas c(0xFF000000);
    drawLineAA(c.image, 3, 5.0f, 9, 5.0f, 0x808080);
    EXPECT_EQ(c.at(4, 5) >> 24, 0u);
    EXPECT_EQ(c.at(4, 6) >> 24, 0u);
}

TEST(DrawLineAA, EndPointOrder)
{
    Canvas a, b;
    drawLineAA(a.image, 3.3f, 2.2f, 20.7f, 15.1f, 0xA0B0C0);
    drawLineAA(b.image, 20.7f, 15.1f, 3.3f, 2.2f, 0xA0B0C0);
    EXPECT_TRUE(a.same(b));
    Canvas steepA, steepB;
    drawLineAA(steepA.image, 5.5f, 1, 9.25f, 20, 0xFFFFFF);
    drawLineAA(steepB.image, 9.25f, 20, 5.5f, 1, 0xFFFFFF);
    EXPECT_TRUE(steepA.same(steepB));

    Canvas leftward;
    drawLineAA(leftward.image, 9, 4, 1, 4, 0xFFFFFF);
    for (int x = 0; x < 32; ++x)
        EXPECT_EQ(leftward.at(x, 4) != 0, x >= 2 && x <= 9) << x;
    Canvas rightward;
    drawLineAA(rightward.image, 1, 4, 9, 4, 0xFFFFFF);
    for (int x = 0; x < 32; ++x)
        EXPECT_EQ(rightward.at(x, 4) != 0, x >= 1 && x <= 8) << x;
}

TEST(DrawLineAA, VerticalRunIncludesBothEnds)
{
    Canvas c;
    drawLineAA(c.image, 4.25f, 1, 4.25f, 6, 0xFFFFFF);
    for (int y = 0; y < 24; ++y)
        EXPECT_EQ(c.at(4, y) != 0, y >= 1 && y <= 6) << y;
    EXPECT_EQ(c.at(4, 3) & 0xFF, (255u * (32767 - 8192)) >> 15);
    EXPECT_EQ(c.at(5, 3) & 0xFF, (255u * 8192) >> 15);
}

TEST(DrawLineAA, ZeroLengthBlendsOnePair)
{
    Canvas c;
    drawLineAA(c.image, 7.75f, 9.5f, 7.75f, 9.5f, 0x00FF00);
    EXPECT_EQ(c.changed(0), 2);
    EXPECT_EQ((c.at(7, 9) >> 8) & 0xFF, (255u * 8191) >> 15);
    EXPECT_EQ((c.at(8, 9) >> 8) & 0xFF, (255u * 24576) >> 15);
}

TEST(DrawLineAA, OutsideTheClipRectangleDrawsNothing)
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
}

TEST(DrawLineAA, ClippedToTheRectangle)
{
    Canvas c;
    c.image.clipLeft = 4;
    c.image.clipTop = 4;
    c.image.clipRight = 20;
    c.image.clipBottom = 15;
    drawLineAA(c.image, -10, 8, 40, 10, 0xFFFFFF);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x)
            if (c.at(x, y) != 0) {
                EXPECT_GE(x, 4);
                EXPECT_LE(x, 20);
            }
    EXPECT_NE(c.at(4, 8) | c.at(4, 9), 0u);
    EXPECT_NE(c.at(19, 9) | c.at(19, 10), 0u);
}

TEST(DrawLineAA, NeighbourBeyondTheImageIsLeftOut)
{
    // Lines on the last row and column: their second pixels would fall outside.
    std::vector<std::uint32_t> memory(40 * 12, 0xAB000000u);
    Image image(32, 10, 40 * 4, memory.data());
    drawLineAA(image, 2, 9, 25, 9, 0xFFFFFF);
    drawLineAA(image, 31, 0, 31, 9, 0xFFFFFF);
    drawLineAA(image, 1e30f, 5, -1e30f, 6, 0xFFFFFF);
    drawLineAA(image, std::nanf(""), 5, 3, 6, 0xFFFFFF);
    for (int row = 0; row < 12; ++row)
        for (int x = 0; x < 40; ++x)
            if (row >= 10 || x >= 32) {
                ASSERT_EQ(memory[static_cast<std::size_t>(row * 40 + x)], 0xAB000000u) << x << "," << row;
            }
    EXPECT_EQ(memory[9 * 40 + 10], 0x00FEFEFEu);
    EXPECT_EQ(memory[3 * 40 + 31], 0x00FEFEFEu);
}
