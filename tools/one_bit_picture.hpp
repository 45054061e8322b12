// A one-bit picture as the generators build it: one byte per pixel while
// drawing, packed to the stored layout (rows one after another, lowest bit
// first) when written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OneBitPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // 0 or 1, row after row

    OneBitPicture(int w, int h, bool set = false)
        : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, set ? 1 : 0) {}

    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    bool get(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x] != 0; }
    void put(int x, int y, bool set) { pixels[static_cast<std::size_t>(y) * width + x] = set ? 1 : 0; }
    void fill(int x0, int y0, int x1, int y1, bool set);  // [x0, x1) x [y0, y1)

    // Pixel p is bit p mod 8 of byte p div 8.
    std::vector<std::uint8_t> pack() const;
};

// Writes bytes to a file; on failure prints why to standard error.
bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// An 8-bit grey picture for a person to look at, written as PNG.
struct GreyPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    GreyPicture(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, 0) {}
    std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

bool writePng(const std::string& path, const GreyPicture& picture);
