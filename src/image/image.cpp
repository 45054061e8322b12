#include "image/image.hpp"

#include <cstdio>
#include <new>

namespace {

std::uint32_t* allocatePixels(int width, int height, int spare)
{
    const long long count = static_cast<long long>(width) * height + spare;
    if (width < 0 || height < 0 || count <= 0)
        return nullptr;
    auto* block = new (std::nothrow) std::uint32_t[static_cast<std::size_t>(count)];
    if (!block)
        std::fprintf(stderr, "Image: cannot allocate %d x %d pixels\n", width, height);
    return block;
}

} // namespace

Image::Image(int w, int h)
{
    create(w, h);
}

Image::Image(int w, int h, int p, std::uint32_t* px)
    : pixels(px), width(w), height(h), pitch(p)
{
    resetClip();
}

Image::~Image()
{
    width = height = pitch = 0;
    if (ownsPixels && pixels) {
        delete[] pixels;
        pixels = nullptr;
    }
}

void Image::create(int w, int h)
{
    width = w;
    height = h;
    pitch = w * 4;
    pixels = allocatePixels(w, h, sparePixels);
    ownsPixels = true;
    resetClip();
}

void Image::resetClip()
{
    clipLeft = 0.0f;
    clipTop = 0.0f;
    clipRight = static_cast<float>(width - 1);
    clipBottom = static_cast<float>(height - 1);
}
