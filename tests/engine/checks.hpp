// Helpers shared by the engine tests.
#pragma once

#include "engine/math.hpp"
#include "image/image.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

inline void expectNear(const Vector3& v, float x, float y, float z, float tolerance = 1e-5f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

inline std::int32_t fixed(double v) { return static_cast<std::int32_t>(v * 65536.0); }

// A width x height picture inside a wider and taller block of memory, all
// set to a marker, so that writes past the picture's edges show.
struct Canvas {
    static constexpr std::uint32_t marker = 0xAB000000u;
    int pitchPixels;
    std::vector<std::uint32_t> memory;
    Image image;
    Canvas(int width, int height, std::uint32_t fill = marker)
        : pitchPixels(width + 8), memory(static_cast<std::size_t>(pitchPixels * (height + 4)), fill),
          image(width, height, pitchPixels * 4, memory.data())
    {
    }
    std::uint32_t at(int x, int y) const { return memory[static_cast<std::size_t>(y * pitchPixels + x)]; }
    // Pixels of the picture that differ from fill; fails on any change outside it.
    int changed(std::uint32_t fill = marker) const
    {
        int n = 0;
        for (int y = 0; y < image.height + 4; ++y)
            for (int x = 0; x < pitchPixels; ++x) {
                const bool differs = at(x, y) != fill;
                if (differs && (x >= image.width || y >= image.height))
                    ADD_FAILURE() << "written outside the picture at (" << x << ", " << y << ")";
                n += differs;
            }
        return n;
    }
};
