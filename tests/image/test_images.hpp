// Small helpers shared by the image tests.
#pragma once

#include "image/image.hpp"

#include <cstdint>
#include <cstring>
#include <random>

// Fills every row of the picture with random bytes.
inline void fillRandom(Image& image, std::mt19937& rng)
{
    const long long count = static_cast<long long>(image.pitch / 4) * image.height;
    for (long long i = 0; i < count; ++i)
        image.pixels[i] = static_cast<std::uint32_t>(rng());
}

inline void copyPixels(const Image& from, Image& to)
{
    std::memcpy(to.pixels, from.pixels, static_cast<std::size_t>(from.pitch) * from.height);
}

inline bool samePixels(const Image& a, const Image& b)
{
    return a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels, b.pixels, static_cast<std::size_t>(a.pitch) * a.height) == 0;
}

// The pixel at (x, y) and the first one that differs, for failure messages.
inline int firstDifference(const Image& a, const Image& b)
{
    const long long count = static_cast<long long>(a.pitch / 4) * a.height;
    for (long long i = 0; i < count; ++i)
        if (a.pixels[i] != b.pixels[i])
            return static_cast<int>(i);
    return -1;
}
