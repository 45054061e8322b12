// Shared set-up of the scene tests: the font, the title and the closing
// scene's box, built once per test program as the show's start-up does.
#pragma once

#include "image/image.hpp"

#include <gtest/gtest.h>

#include <cstdint>

void prepareOpeningAndClosing();

class SceneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { prepareOpeningAndClosing(); }
};

// Channel c (0 blue, 1 green, 2 red) of a pixel.
inline int channel(std::uint32_t pixel, int c)
{
    return static_cast<int>(pixel >> (8 * c) & 0xFF);
}

inline bool inRect(int x, int y, int left, int top, int w, int h)
{
    return x >= left && x < left + w && y >= top && y < top + h;
}

// A pattern for frames before a scene draws, to see that it draws every pixel.
constexpr std::uint32_t garbage = 0xA5C3E1F7u;
