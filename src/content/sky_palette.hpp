// The ceiling's colours by cloud texel: a flat dark blue up to 128, then
// tints approaching white exponentially.
#pragma once

#include "image/image.hpp"

extern Colour skyPalette[256];

void buildSkyPalette();
