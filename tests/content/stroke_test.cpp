#include "content/stroke.hpp"

#include "engine/line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

TEST(StrokeDrawer, SameBytesAsTwoLinesOnePixelApart)
{
    // Random strokes of every slope and length, short and long, ends near
    // and across the edges, ends in [1, 2) where x + 1 is not always exact,
    // drawn over each other; with the whole image and a clip rectangle.
    std::mt19937 random(5);
    std::uniform_real_distribution<float> x(-20.0f, 660.0f), y(-20.0f, 340.0f), near(-6.0f, 6.0f);
    for (const bool clipped : {false, true}) {
        // Two spare rows below each picture show writes past its end.
        std::vector<std::uint32_t> walkedPixels(640 * 322, 0x00203040u), referencePixels(640 * 322, 0x00203040u);
        Image walked(640, 320, 640 * 4, walkedPixels.data()), reference(640, 320, 640 * 4, referencePixels.data());
        for (Image* image : {&walked, &reference}) {
            if (clipped) {
                image->clipLeft = 100.5f;
                image->clipTop = 50.0f;
                image->clipRight = 500.0f;
                image->clipBottom = 250.75f;
            }
        }
        const StrokeDrawer stroke(walked, 0x00C08040u);
        const auto both = [&](float x0, float y0, float x1, float y1) {
            stroke.draw(x0, y0, x1, y1);
            drawLineAA(reference, x0, y0, x1, y1, 0x00C08040u);
            drawLineAA(reference, x0 + 1.0f, y0, x1 + 1.0f, y1, 0x00C08040u);
        };
        // Hugging each edge of the clip rectangle, from a pixel outside to four inside.
        const float left = clipped ? 100.5f : 0.0f, right = clipped ? 500.0f : 639.0f;
        const float top = clipped ? 50.0f : 0.0f, bottom = clipped ? 250.75f : 319.0f;
        for (const float d : {-1.0f, -0.4f, 0.0f, 0.3f, 0.5f, 1.0f, 1.7f, 2.0f, 2.5f, 3.0f, 3.6f, 4.0f}) {
            both(left + d, 150.2f, left + d + 0.4f, 200.9f);
            both(right - d, 100.7f, right - d - 0.3f, 160.1f);
            both(200.3f, top + d, 260.8f, top + d + 0.6f);
            both(300.6f, bottom - d, 240.1f, bottom - d - 0.2f);
            both(380.2f, bottom - d, 310.9f, bottom - d);
        }
        // x + 1 rounds up to 2.5 here, so the second line starts a column
        // further than the first line's start moved by exactly one.
        both(std::nextafter(1.5f, 0.0f), 120.3f, std::nextafter(1.5f, 0.0f), 180.6f);
        for (int i = 0; i < 3000; ++i) {
            float x0 = x(random), y0 = y(random);
            if (i % 7 == 0)
                x0 = 1.0f + (x0 + 20.0f) / 680.0f;
            const bool shortOne = i % 3 != 0;
            const float x1 = shortOne ? x0 + near(random) : x(random);
            const float y1 = shortOne ? y0 + near(random) : y(random);
            both(x0, y0, x1, y1);
        }
        for (int p = 0; p < 640 * 322; ++p)
            ASSERT_EQ(walkedPixels[p], referencePixels[p]) << "pixel " << p << (clipped ? " clipped" : "");
    }
}
