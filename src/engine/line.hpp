// Anti-aliased line of one colour, clipped to the image's clip rectangle.
#pragma once

#include "image/image.hpp"

// End points in pixels (floats). Each step blends a pixel pair with 15-bit
// coverage weights: the pixel on the line and the one below it (mostly
// horizontal lines) or right of it (mostly vertical ones). A second pixel
// that falls outside the image is left out.
void drawLineAA(Image& image, float x0, float y0, float x1, float y1, Colour colour);

// One step of the line: first gets colour weight 32767 - f (0 <= f < 32768),
// second gets f; each channel becomes old·(32767 - w)/32768 + colour·w/32768,
// both rounded down, and the fourth byte 0.
void blendPixelPair(std::uint32_t* first, std::uint32_t* second, std::int32_t f, Colour colour);
