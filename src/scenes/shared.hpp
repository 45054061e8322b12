// The program-wide objects every scene shares; the driver presents frame.
#pragma once

#include "image/font.hpp"
#include "image/image.hpp"

extern Image frame;       // 640 x 320; every scene draws into it
extern Font font;         // built from the stored glyph sheet at start-up
extern Image titleImage;  // the title line, rendered by the opening scene's preparation

constexpr int frameWidth = 640;
constexpr int frameHeight = 320;
