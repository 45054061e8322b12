#include "driver/png_writer.hpp"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct PngFile {
    std::FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngFile()
    {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
        if (file)
            std::fclose(file);
    }
};

// libpng reports errors through this hook; keep the text and unwind.
void onPngError(png_structp png, png_const_charp text)
{
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = text;
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

} // namespace

bool writePng(const std::string& path, const Image& image, std::string& error)
{
    // The rows are converted before libpng is entered, so nothing that owns
    // memory lives across its longjmp.
    std::vector<png_byte> rgb(static_cast<std::size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y) {
        const std::uint32_t* row = image.row(y);
        png_byte* out = rgb.data() + static_cast<std::size_t>(y) * image.width * 3;
        for (int x = 0; x < image.width; ++x) {
            out[3 * x + 0] = static_cast<png_byte>(row[x] >> 16);
            out[3 * x + 1] = static_cast<png_byte>(row[x] >> 8);
            out[3 * x + 2] = static_cast<png_byte>(row[x]);
        }
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y)
        rows[y] = rgb.data() + static_cast<std::size_t>(y) * image.width * 3;

    PngFile out;
    out.file = std::fopen(path.c_str(), "wb");
    if (!out.file) {
        error = "cannot open " + path + " for writing: " + std::strerror(errno);
        return false;
    }
    std::string pngError;
    out.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngError, onPngError, onPngWarning);
    if (out.png)
        out.info = png_create_info_struct(out.png);
    if (!out.png || !out.info) {
        error = "cannot start a PNG for " + path;
        return false;
    }
    if (setjmp(png_jmpbuf(out.png))) {
        error = "cannot write " + path + ": " + pngError;
        return false;
    }
    png_init_io(out.png, out.file);
    png_set_IHDR(out.png, out.info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(out.png, out.info);
    png_write_image(out.png, rows.data());
    png_write_end(out.png, nullptr);
    png_destroy_write_struct(&out.png, &out.info);
    out.png = nullptr;
    const bool closed = std::fclose(out.file) == 0;
    out.file = nullptr;
    if (!closed) {
        error = "cannot finish " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
