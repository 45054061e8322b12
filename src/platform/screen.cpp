#include "platform/screen.hpp"

#include "image/ops.hpp"
#include "platform/display.hpp"

#include <cstring>

Screen::~Screen()
{
    close();
}

bool Screen::open(int width, int height)
{
    if (xp_screen_open(width, height, 32, 0) == 0)
        depth = 32;
    else if (xp_screen_open(width, height, 24, 0) == 0)
        depth = 24;
    else
        return false;
    clipLeft = 0.0f;
    clipTop = 0.0f;
    clipRight = static_cast<float>(width - 1);
    clipBottom = static_cast<float>(height - 1);
    return true;
}

void Screen::close()
{
    xp_screen_close();
    depth = -1;
}

void Screen::present(const Image& src, float left, float top, float right, float bottom, float x, float y)
{
    if (depth != 24 && depth != 32)
        return;
    const int srcW = static_cast<int>(src.clipRight - src.clipLeft + 1.0f);
    const int srcH = static_cast<int>(src.clipBottom - src.clipTop + 1.0f);
    const int dstW = static_cast<int>(clipRight - clipLeft + 1.0f);
    const int dstH = static_cast<int>(clipBottom - clipTop + 1.0f);
    int sx = static_cast<int>(left);
    int sy = static_cast<int>(top);
    int dx = static_cast<int>(x);
    int dy = static_cast<int>(y);
    int w = static_cast<int>(right - left + 1.0f);
    int h = static_cast<int>(bottom - top + 1.0f);
    if (!clipCopyRect(sx, sy, dx, dy, w, h, srcW, srcH, dstW, dstH))
        return;

    unsigned char* surface = nullptr;
    int pitch = 0;
    if (xp_screen_lock(&surface, &pitch) != 0)
        return;
    const unsigned char* from = reinterpret_cast<const unsigned char*>(src.pixels) +
                                static_cast<std::ptrdiff_t>(sy) * src.pitch + sx * 4;
    if (depth == 24) {
        unsigned char* to = surface + static_cast<std::ptrdiff_t>(dy) * pitch + dx * 3;
        for (int row = 0; row < h; ++row) {
            const unsigned char* s = from + static_cast<std::ptrdiff_t>(row) * src.pitch;
            unsigned char* d = to + static_cast<std::ptrdiff_t>(row) * pitch;
            // Four bytes at a time, each store's last byte overwritten by the
            // next pixel; the row's last pixel takes exactly three.
            for (int i = 0; i < w - 1; ++i, s += 4, d += 3)
                std::memcpy(d, s, 4);
            std::memcpy(d, s, 3);
        }
    } else {
        unsigned char* to = surface + static_cast<std::ptrdiff_t>(dy) * pitch + dx * 4;
        for (int row = 0; row < h; ++row)
            std::memcpy(to + static_cast<std::ptrdiff_t>(row) * pitch,
                        from + static_cast<std::ptrdiff_t>(row) * src.pitch, static_cast<std::size_t>(w) * 4);
    }
    xp_screen_unlock();
}
