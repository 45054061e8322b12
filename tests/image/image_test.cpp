#include "image/image.hpp"
#include "image/ops.hpp"

#include <gtest/gtest.h>

TEST(ImageRecord, LifeCycleSetsSizesAndClip)
{
    Image empty;
    EXPECT_EQ(empty.pixels, nullptr);
    EXPECT_EQ(empty.clipLeft, 0.0f);
    EXPECT_EQ(empty.clipTop, 0.0f);
    EXPECT_EQ(empty.clipRight, -1.0f);
    EXPECT_EQ(empty.clipBottom, -1.0f);

    Image owning(7, 3);
    ASSERT_NE(owning.pixels, nullptr);
    EXPECT_TRUE(owning.ownsPixels);
    EXPECT_EQ(owning.pitch, 28);
    EXPECT_EQ(owning.clipRight, 6.0f);
    EXPECT_EQ(owning.clipBottom, 2.0f);
    // The spare pixels after the last row belong to the block.
    owning.pixels[7 * 3 + Image::sparePixels - 1] = 1;

    empty.create(5, 4);
    EXPECT_TRUE(empty.ownsPixels);
    EXPECT_EQ(empty.pitch, 20);
    EXPECT_EQ(empty.clipRight, 4.0f);

    std::uint32_t block[6] = {};
    Image wrapping(3, 2, 12, block);
    EXPECT_FALSE(wrapping.ownsPixels);
    EXPECT_EQ(wrapping.pixels, block);
}

TEST(ExpandBitmap, LowestBitFirstIntoAWrappedBlock)
{
    // 5 x 3 = 15 pixels over two bytes: pixels 0, 2, 7 and 8 set, 15 would be
    // the first bit past the picture.
    const std::uint8_t bits[2] = {0x85, 0x81};
    Image image;
    expandBitmap(image, bits, 5, 3);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_FALSE(image.ownsPixels);
    EXPECT_EQ(image.pitch, 20);
    EXPECT_EQ(image.clipRight, 4.0f);
    EXPECT_EQ(image.clipBottom, 2.0f);
    for (int p = 0; p < 15; ++p)
        EXPECT_EQ(image.pixels[p], (p == 0 || p == 2 || p == 7 || p == 8) ? 0x00FFFFFFu : 0u) << p;
}
