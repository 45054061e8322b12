#include "driver/png_writer.hpp"

#include <png.h>

#include <vector>

bool writePng(const std::string& path, const Image& image, std::string& error)
{
    std::vector<png_byte> rgb(static_cast<std::size_t>(image.width) * image.height * 3);
    png_byte* out = rgb.data();
    for (int y = 0; y < image.height; ++y) {
        const std::uint32_t* row = image.row(y);
        for (int x = 0; x < image.width; ++x, out += 3) {
            out[0] = static_cast<png_byte>(row[x] >> 16);
            out[1] = static_cast<png_byte>(row[x] >> 8);
            out[2] = static_cast<png_byte>(row[x]);
        }
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    // libpng removes a file it could not finish.
    if (png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr))
        return true;
    error = "cannot write " + path + ": " + png.message;
    png_image_free(&png);
    return false;
}
