// The display as the demo sees it: open at 32 or 24 bits per pixel, and a
// clipped, converting copy of an image onto it.
#pragma once

#include "image/image.hpp"

class Screen {
public:
    int depth = -1;  // 32 or 24 while open, -1 while closed
    float clipLeft = 0.0f;
    float clipTop = 0.0f;
    float clipRight = -1.0f;
    float clipBottom = -1.0f;

    Screen() = default;
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Tries 32 bits per pixel, then 24.
    bool open(int width, int height);
    void close();
    // Copies the source rectangle (inclusive corners) with its top-left corner
    // at (x, y). 32 bits: each pixel as it is; 24 bits: its blue, green and
    // red bytes. Does nothing while closed.
    void present(const Image& src, float left, float top, float right, float bottom, float x, float y);
};
