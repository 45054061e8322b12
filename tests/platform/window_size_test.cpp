#include "platform/window_size.hpp"

#include <gtest/gtest.h>

TEST(WindowSize, FourByThreeAtMost1280By960AndInsideTheDesktop)
{
    const struct {
        int desktopWidth, desktopHeight, width, height;
    } cases[] = {
        {1920, 1080, 1280, 960},  // room to spare
        {1280, 960, 1280, 960},   // exactly
        {1280, 800, 1064, 798},   // too low: the height decides
        {1000, 2000, 1000, 750},  // too narrow: the width decides
        {1022, 767, 1020, 765},   // whole multiples of 4 x 3 only
        {0, 0, 1280, 960},        // desktop unknown
        {100, 50, 320, 240},      // never tinier than a quarter of the picture
    };
    for (const auto& c : cases) {
        const WindowSize size = windowedSize(c.desktopWidth, c.desktopHeight);
        EXPECT_EQ(size.width, c.width) << c.desktopWidth << " x " << c.desktopHeight;
        EXPECT_EQ(size.height, c.height) << c.desktopWidth << " x " << c.desktopHeight;
    }
}
