// Two-pixel-wide strokes: a line and the same line one pixel to the right,
// byte for byte as two drawLineAA calls draw them. A stroke clear of the
// clip edges is walked without clipping or per-pixel checks, both lines
// together; any other goes to drawLineAA.
#pragma once

#include "engine/line_blend.hpp"
#include "image/image.hpp"

struct StrokeDrawer {
    Image& target;
    Colour colour;
    PairBlender blend;
    float left, top, right, bottom;  // where both ends of a walked stroke lie

    StrokeDrawer(Image& image, Colour paint);
    void draw(float x0, float y0, float x1, float y1) const;
};
