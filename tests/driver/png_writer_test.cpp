#include "driver/png_writer.hpp"

#include <png.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

TEST(PngWriter, WritesRedGreenBlueInThatOrderAndSaysWhyItFails)
{
    Image image(3, 2);
    const std::uint32_t colours[6] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xAA123456, 0x00000000, 0x00FFFFFF};
    std::copy(colours, colours + 6, image.pixels);
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "morvane_png_writer_test.png";
    std::string error;
    ASSERT_TRUE(writePng(path.string(), image, error)) << error;

    png_image read{};
    read.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&read, path.c_str()));
    EXPECT_EQ(read.width, 3u);
    EXPECT_EQ(read.height, 2u);
    EXPECT_EQ(read.format, static_cast<png_uint_32>(PNG_FORMAT_RGB));
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(read));
    ASSERT_TRUE(png_image_finish_read(&read, nullptr, rgb.data(), 0, nullptr));
    std::filesystem::remove(path);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(rgb[i], (colours[i / 3] >> (16 - 8 * (i % 3))) & 0xFF) << "pixel " << i / 3;

    EXPECT_FALSE(writePng("/nonexistent-dir/x.png", image, error));
    EXPECT_NE(error.find("/nonexistent-dir/x.png"), std::string::npos) << error;
}
