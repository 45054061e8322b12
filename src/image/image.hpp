// The 32-bit pixel image every picture is drawn into, and the packed colour.
//
// A pixel is four bytes: blue, green, red, then a fourth byte that is never
// shown. A Colour is the same pixel read as a 32-bit value, 0x00RRGGBB.
#pragma once

#include <cstddef>
#include <cstdint>

using Colour = std::uint32_t;

struct Image {
    std::uint32_t* pixels = nullptr;  // first pixel of the top row
    int width = 0;
    int height = 0;
    int pitch = 0;                    // bytes from one row to the next
    float clipLeft = 0.0f;            // inclusive clip rectangle
    float clipTop = 0.0f;
    float clipRight = -1.0f;
    float clipBottom = -1.0f;
    bool ownsPixels = false;

    // Spare pixels after the last row of every block the toolkit allocates,
    // so that writes running slightly past the picture stay inside it.
    static constexpr int sparePixels = 1000;

    Image() = default;
    Image(int width, int height);                                // allocating
    Image(int width, int height, int pitch, std::uint32_t* pixels);  // wrapping
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // Allocates pixels for an empty image (one that holds no block).
    void create(int width, int height);
    void resetClip();

    std::uint32_t* row(int y) { return reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(y) * pitch); }
    const std::uint32_t* row(int y) const { return reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(y) * pitch); }
};
