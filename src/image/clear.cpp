#include "image/ops.hpp"

#include <algorithm>

void clearImage(Image& image, Colour colour)
{
    std::fill_n(image.pixels, static_cast<std::size_t>(image.width) * image.height, colour);
}
