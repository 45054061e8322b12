#include "image/ops.hpp"

#include <cstdint>

// Worked in 64 bits so that far-out positions or huge sizes cannot overflow;
// whenever something is left to copy every result fits an int again.
bool clipCopyRect(int& srcX, int& srcY, int& dstX, int& dstY, int& w, int& h,
                  int srcW, int srcH, int dstW, int dstH)
{
    std::int64_t sx = srcX, sy = srcY, dx = dstX, dy = dstY, cw = w, ch = h;
    bool left = false;

    // Destination first.
    if (dx < 0) { sx -= dx; cw += dx; dx = 0; }
    if (dy < 0) { sy -= dy; ch += dy; dy = 0; }
    if (dx + cw > dstW) cw = dstW - dx;
    if (dy + ch > dstH) ch = dstH - dy;
    if (cw > 0 && ch > 0) {
        // Then the source.
        if (sx < 0) { dx -= sx; cw += sx; sx = 0; }
        if (sy < 0) { dy -= sy; ch += sy; sy = 0; }
        if (sx + cw > srcW) cw = srcW - sx;
        if (sy + ch > srcH) ch = srcH - sy;
        left = cw > 0 && ch > 0;
    }

    srcX = static_cast<int>(sx);
    srcY = static_cast<int>(sy);
    dstX = static_cast<int>(dx);
    dstY = static_cast<int>(dy);
    w = left ? static_cast<int>(cw) : 0;
    h = left ? static_cast<int>(ch) : 0;
    return left;
}
