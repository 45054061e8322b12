#include "content/sky_palette.hpp"

#include <algorithm>
#include <cmath>

Colour skyPalette[256];

void buildSkyPalette()
{
    const double base = 0.99f;  // the float constant, widened
    for (int e = 0; e < 256; ++e) {
        const double h = std::pow(base, std::max(e - 128, 0));
        const double g = 1.0 - h;
        const auto level = [&](int dark) { return static_cast<Colour>(static_cast<int>(dark * h + 255 * g) & 255); };
        skyPalette[e] = level(41) << 16 | level(75) << 8 | level(160);
    }
}
