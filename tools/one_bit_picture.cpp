#include "one_bit_picture.hpp"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

void OneBitPicture::fill(int x0, int y0, int x1, int y1, bool set)
{
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (inside(x, y))
                put(x, y, set);
}

std::vector<std::uint8_t> OneBitPicture::pack() const
{
    std::vector<std::uint8_t> bytes((pixels.size() + 7) / 8, 0);
    for (std::size_t p = 0; p < pixels.size(); ++p)
        if (pixels[p])
            bytes[p / 8] = static_cast<std::uint8_t>(bytes[p / 8] | (1u << (p % 8)));
    return bytes;
}

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "cannot open %s for writing: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool writePng(const std::string& path, const GreyPicture& picture)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_GRAY;
    if (!png_image_write_to_file(&image, path.c_str(), 0, picture.pixels.data(), 0, nullptr)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), image.message);
        return false;
    }
    return true;
}
