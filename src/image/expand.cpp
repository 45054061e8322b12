#include "image/ops.hpp"

#include <cstdio>
#include <new>

void expandBitmap(Image& image, const std::uint8_t* bits, int width, int height)
{
    const long long count = static_cast<long long>(width) * height;
    // The block lives until the process ends: the image only wraps it.
    auto* block = count > 0 ? new (std::nothrow) std::uint32_t[static_cast<std::size_t>(count)] : nullptr;
    if (!block && count > 0)
        std::fprintf(stderr, "expandBitmap: cannot allocate %d x %d pixels\n", width, height);
    if (block) {
        for (long long p = 0; p < count; ++p)
            block[p] = (bits[p >> 3] >> (p & 7)) & 1 ? 0x00FFFFFFu : 0u;
    }
    image.pixels = block;
    image.width = width;
    image.height = height;
    image.pitch = width * 4;
    image.ownsPixels = false;
    image.resetClip();
}
