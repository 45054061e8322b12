// Random pictures and byte-for-byte comparison for the image tests.
#pragma once

#include "image/image.hpp"

#include <cstring>
#include <random>

inline void fillRandom(Image& image, std::mt19937& rng)
{
    for (int i = 0; i < image.pitch / 4 * image.height; ++i)
        image.pixels[i] = static_cast<std::uint32_t>(rng());
}

inline void copyPixels(const Image& from, Image& to)
{
    std::memcpy(to.pixels, from.pixels, static_cast<std::size_t>(from.pitch) * from.height);
}

// The first pixel that differs, -1 when the pictures are the same.
inline int firstDifference(const Image& a, const Image& b)
{
    for (int i = 0; i < a.pitch / 4 * a.height; ++i)
        if (a.pixels[i] != b.pixels[i])
            return i;
    return -1;
}

// A random picture and a copy of it, for a fast routine and its reference.
struct RandomPair {
    Image fast, expected;
    RandomPair(int width, int height, std::mt19937& rng) : fast(width, height), expected(width, height)
    {
        fillRandom(fast, rng);
        copyPixels(fast, expected);
    }
    int difference() const { return firstDifference(fast, expected); }
};
