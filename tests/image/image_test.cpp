#include "image/image.hpp"
#include "image/ops.hpp"

#include <gtest/gtest.h>

TEST(ImageRecord, ClipFollowsTheSize)
{
    Image empty;
    EXPECT_EQ(empty.pixels, nullptr);
    EXPECT_EQ(empty.clipRight, -1.0f);
    EXPECT_EQ(empty.clipBottom, -1.0f);

    empty.create(7, 3);
    ASSERT_NE(empty.pixels, nullptr);
    EXPECT_TRUE(empty.ownsPixels);
    EXPECT_EQ(empty.pitch, 28);
    EXPECT_EQ(empty.clipRight, 6.0f);
    EXPECT_EQ(empty.clipBottom, 2.0f);
    empty.pixels[7 * 3 + Image::sparePixels - 1] = 1;  // the spare pixels belong to the block
}

TEST(ImageRecord, ExpandBitmapReadsLowestBitFirst)
{
    // 5 x 3 = 15 pixels: pixels 0, 2, 7 and 8 set; bit 15 lies past the picture.
    const std::uint8_t bits[2] = {0x85, 0x81};
    Image image;
    expandBitmap(image, bits, 5, 3);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_FALSE(image.ownsPixels);
    EXPECT_EQ(image.pitch, 20);
    for (int p = 0; p < 15; ++p)
        EXPECT_EQ(image.pixels[p], (p == 0 || p == 2 || p == 7 || p == 8) ? 0x00FFFFFFu : 0u) << p;
}
