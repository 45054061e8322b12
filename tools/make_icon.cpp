// Writes the desktop icon as an RGBA PNG of SIZE x SIZE pixels, made from
// the stored logo: its first letter block, in its stripes, on a dark rounded
// tile, coloured from pale gold at the top to teal at the bottom.
//
//   make_icon SIZE icon.png
//
// The letter is scaled by area averaging over the logo's one-bit pixels, so
// the stripes stay crisp at 256 pixels and soften evenly at 64.
#include "assets/stored_data.hpp"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The logo's first block (columns 0 to 109) holds one whole letter.
constexpr int letterLeft = 0;
constexpr int letterRight = 110;

bool logoBit(int x, int y)
{
    const int p = y * logoWidth + x;
    return (logoBits[p / 8] >> (p % 8) & 1) != 0;
}

// The columns and rows that hold set bits within the block.
void letterBounds(int& x0, int& y0, int& x1, int& y1)
{
    x0 = letterRight;
    y0 = logoHeight;
    x1 = letterLeft;
    y1 = 0;
    for (int y = 0; y < logoHeight; ++y)
        for (int x = letterLeft; x < letterRight; ++x)
            if (logoBit(x, y)) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x + 1);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y + 1);
            }
}

// Share of the tile's rounded square covering pixel (x, y), 4 x 4 samples.
double tileCoverage(int x, int y, int size)
{
    const double radius = size * 0.18;
    int inside = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
            const double px = x + (sx + 0.5) / 4.0;
            const double py = y + (sy + 0.5) / 4.0;
            const double cx = std::clamp(px, radius, size - radius);
            const double cy = std::clamp(py, radius, size - radius);
            inside += (px - cx) * (px - cx) + (py - cy) * (py - cy) <= radius * radius;
        }
    return inside / 16.0;
}

// Share of the letter covering pixel (x, y) of the icon, where the letter
// box maps onto [left, left + width) x [top, top + height).
double letterCoverage(int x, int y, double left, double top, double scale, int lx0, int ly0, int lx1, int ly1)
{
    // The pixel's footprint in logo pixels.
    const double fx0 = (x - left) / scale + lx0, fx1 = (x + 1 - left) / scale + lx0;
    const double fy0 = (y - top) / scale + ly0, fy1 = (y + 1 - top) / scale + ly0;
    double covered = 0.0;
    for (int ly = std::max(ly0, static_cast<int>(std::floor(fy0))); ly < std::min(ly1, static_cast<int>(std::ceil(fy1))); ++ly)
        for (int lx = std::max(lx0, static_cast<int>(std::floor(fx0))); lx < std::min(lx1, static_cast<int>(std::ceil(fx1))); ++lx)
            if (logoBit(lx, ly)) {
                const double w = std::min(fx1, lx + 1.0) - std::max(fx0, static_cast<double>(lx));
                const double h = std::min(fy1, ly + 1.0) - std::max(fy0, static_cast<double>(ly));
                covered += std::max(0.0, w) * std::max(0.0, h);
            }
    return covered * scale * scale;
}

bool writeRgbaPng(const char* path, int size, const std::vector<unsigned char>& rgba)
{
    FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "make_icon: cannot write %s: %s\n", path, std::strerror(errno));
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "make_icon: PNG encoding of %s failed\n", path);
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < size; ++y)
        png_write_row(png, rgba.data() + static_cast<std::size_t>(y) * size * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) {
        std::fprintf(stderr, "make_icon: cannot finish %s: %s\n", path, std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int size = argc == 3 ? std::atoi(argv[1]) : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: make_icon SIZE icon.png   (SIZE 16 to 1024)\n");
        return 2;
    }
    int lx0, ly0, lx1, ly1;
    letterBounds(lx0, ly0, lx1, ly1);
    // The letter fills 64% of the tile's height, centred.
    const double scale = size * 0.64 / (ly1 - ly0);
    const double left = (size - (lx1 - lx0) * scale) / 2.0;
    const double top = (size - (ly1 - ly0) * scale) / 2.0;

    std::vector<unsigned char> rgba(static_cast<std::size_t>(size) * size * 4);
    for (int y = 0; y < size; ++y) {
        const double t = (y + 0.5) / size;
        // Tile: deep blue-black, a little lighter at the top.
        const double tile[3] = {24 - 14 * t, 30 - 14 * t, 44 - 16 * t};
        // Letter: pale gold to teal.
        const double ink[3] = {255 - 200 * t, 236 - 40 * t, 180 + 20 * t};
        for (int x = 0; x < size; ++x) {
            const double a = tileCoverage(x, y, size);
            const double c = std::min(1.0, letterCoverage(x, y, left, top, scale, lx0, ly0, lx1, ly1));
            unsigned char* out = &rgba[(static_cast<std::size_t>(y) * size + x) * 4];
            for (int k = 0; k < 3; ++k)
                out[k] = static_cast<unsigned char>(std::lround(tile[k] + (ink[k] - tile[k]) * c));
            out[3] = static_cast<unsigned char>(std::lround(255 * a));
        }
    }
    return writeRgbaPng(argv[2], size, rgba) ? 0 : 1;
}
