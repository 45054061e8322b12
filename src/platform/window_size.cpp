#include "platform/window_size.hpp"

#include <algorithm>

WindowSize windowedSize(int desktopWidth, int desktopHeight)
{
    if (desktopWidth <= 0 || desktopHeight <= 0)
        return {1280, 960};
    // Whole multiples of 4 x 3, so the 640 x 480 picture fills it exactly;
    // never smaller than a quarter of the picture.
    const int unit = std::clamp(std::min(desktopWidth / 4, desktopHeight / 3), 80, 320);
    return {4 * unit, 3 * unit};
}
