// The recursive blur: a first-order smoothing filter run forward and then
// backward along lines of pixels. Its cost does not depend on how wide it
// blurs. Each factor (0..1) is the share of the new pixel entering the
// running value per step: 1 leaves the image almost as it is, smaller values
// blur more widely, 0 holds the first pixel of every line.
//
// Channel order of every factor or coefficient list: fourth byte, red,
// green, blue.
#pragma once

#include "image/image.hpp"

// The longest line the blur takes; longer lines are reported and left as they are.
constexpr int maxBlurLength = 2048;

// The core. base is the first pixel of the first line; elementStep and
// lineStep are byte distances between neighbours along a line and between
// the first pixels of neighbouring lines. Coefficients run from 0 to 16383
// (trunc(factor x 16383)); values outside are held to that range.
void blurLines(void* base, int elementStep, int lineStep, int count, int lines,
               int cX, int cR, int cG, int cB);

// Along the rows, along the columns, and both (rows first).
void blurRows(Image& image, float fX, float fR, float fG, float fB);
void blurColumns(Image& image, float fX, float fR, float fG, float fB);
void blurImage(Image& image, float fX, float fR, float fG, float fB);
