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

PixelBox contentBox(const Image& image)
{
    int left = image.width, right = -1, top = image.height, bottom = -1;
    for (int y = 0; y < image.height; ++y) {
        const std::uint32_t* row = image.row(y);
        for (int x = 0; x < image.width; ++x)
            if (row[x] != 0) {
                left = x < left ? x : left;
                right = x > right ? x : right;
                top = y < top ? y : top;
                bottom = y;
            }
    }
    if (right < 0)
        return {0, 0, 0, 0};
    return {left, top, right - left + 1, bottom - top + 1};
}
