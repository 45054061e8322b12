// Shared set-up of the scene tests: the font, the title and the closing
// scene's box, built once per test program as the show's start-up does.
#pragma once

#include "image/image.hpp"

#include <cstdint>

void prepareOpeningAndClosing();

// Channel c (0 blue, 1 green, 2 red) of a pixel.
inline int channel(std::uint32_t pixel, int c)
{
    return static_cast<int>(pixel >> (8 * c) & 0xFF);
}

// A pattern for frames before a scene draws, to see that it draws every pixel.
constexpr std::uint32_t garbage = 0xA5C3E1F7u;
