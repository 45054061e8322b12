// Anti-aliased line of one colour, clipped to the image's clip rectangle.
#pragma once

#include "image/image.hpp"

// End points in pixels (floats). Each step blends a pixel pair with 15-bit
// coverage weights: the pixel on the line and the one below it (mostly
// horizontal lines) or right of it (mostly vertical ones). A second pixel
// that falls outside the image is left out.
void drawLineAA(Image& image, float x0, float y0, float x1, float y1, Colour colour);
