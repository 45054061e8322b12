#include "image/blur.hpp"
#include "image/ops.hpp"
#include "reference.hpp"
#include "test_images.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A line of grey pixels (all four bytes equal) from byte values.
void setGreys(Image& image, const std::vector<int>& values)
{
    for (std::size_t i = 0; i < values.size(); ++i)
        image.pixels[i] = static_cast<std::uint32_t>(values[i]) * 0x01010101u;
}

void expectGreys(const Image& image, const std::vector<int>& values, const char* what)
{
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(image.pixels[i], static_cast<std::uint32_t>(values[i]) * 0x01010101u) << what << " pixel " << i;
}

} // namespace

TEST(Blur, SpikeAlongARowAndAColumn)
{
    const std::vector<int> spike = {0, 0, 0, 0, 255, 0, 0, 0, 0};
    Image row(9, 1), column(1, 9);

    setGreys(row, spike);
    blurRows(row, 0.8f, 0.8f, 0.8f, 0.8f);
    expectGreys(row, {0, 1, 6, 33, 169, 33, 6, 1, 0}, "row, factor 0.8");

    setGreys(column, spike);
    blurColumns(column, 0.8f, 0.8f, 0.8f, 0.8f);
    expectGreys(column, {0, 1, 6, 33, 169, 33, 6, 1, 0}, "column, factor 0.8");

    setGreys(row, spike);
    blurRows(row, 1.0f, 1.0f, 1.0f, 1.0f);
    expectGreys(row, {0, 0, 0, 0, 254, 0, 0, 0, 0}, "row, factor 1");

    // The other direction is a single pixel per line: no change.
    setGreys(row, spike);
    blurColumns(row, 0.5f, 0.5f, 0.5f, 0.5f);
    expectGreys(row, spike, "columns of a one-row image");
}

TEST(Blur, SinglePixelsUniformLinesAndCoefficientZero)
{
    std::uint32_t one = 0x12345678;
    Image single(1, 1, 4, &one);
    blurImage(single, 0.3f, 0.1f, 0.9f, 0.0f);
    EXPECT_EQ(one, 0x12345678u);

    Image uniform(13, 5);
    clearImage(uniform, 0x80FF017F);
    blurImage(uniform, 0.2f, 0.5f, 0.7f, 0.9f);
    for (int i = 0; i < 13 * 5; ++i)
        ASSERT_EQ(uniform.pixels[i], 0x80FF017Fu) << i;

    // Coefficient 0 in the fourth byte only: every pixel of a row takes the
    // row's first fourth byte; the colour channels blur as usual.
    Image image(11, 3), expected(11, 3);
    std::mt19937 rng(7);
    fillRandom(image, rng);
    copyPixels(image, expected);
    blurRows(image, 0.0f, 0.8f, 0.8f, 0.8f);
    ref::blurLines(expected.pixels, 4, expected.pitch, 11, 3, 0, 13106, 13106, 13106);
    EXPECT_TRUE(samePixels(image, expected)) << firstDifference(image, expected);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x)
            ASSERT_EQ(image.row(y)[x] >> 24, image.row(y)[0] >> 24) << x << ',' << y;

    // All coefficients 0: whole pixels repeat the first.
    blurColumns(image, 0.0f, 0.0f, 0.0f, 0.0f);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x)
            ASSERT_EQ(image.row(y)[x], image.row(0)[x]) << x << ',' << y;
}

TEST(Blur, MatchesTheReferenceOnRandomImages)
{
    std::mt19937 rng(8);
    for (int round = 0; round < 120; ++round) {
        // Widths and heights on both sides of the eight lines blurred together.
        const int w = 1 + rng() % 37, h = 1 + rng() % 29;
        Image image(w, h), expected(w, h);
        fillRandom(image, rng);
        copyPixels(image, expected);
        float f[4];
        int c[4];
        for (int i = 0; i < 4; ++i) {
            f[i] = round % 5 == 0 ? 1.0f : static_cast<float>(rng() % 16384) / 16383.0f;
            c[i] = static_cast<int>(static_cast<double>(f[i]) * 16383.0);  // the wrappers' conversion
        }
        switch (round % 3) {
        case 0:
            blurRows(image, f[0], f[1], f[2], f[3]);
            ref::blurLines(expected.pixels, 4, expected.pitch, w, h, c[0], c[1], c[2], c[3]);
            break;
        case 1:
            blurColumns(image, f[0], f[1], f[2], f[3]);
            ref::blurLines(expected.pixels, expected.pitch, 4, h, w, c[0], c[1], c[2], c[3]);
            break;
        default:
            blurImage(image, f[0], f[1], f[2], f[3]);
            ref::blurLines(expected.pixels, 4, expected.pitch, w, h, c[0], c[1], c[2], c[3]);
            ref::blurLines(expected.pixels, expected.pitch, 4, h, w, c[0], c[1], c[2], c[3]);
        }
        ASSERT_TRUE(samePixels(image, expected)) << "round " << round << " size " << w << 'x' << h
                                                 << " pixel " << firstDifference(image, expected);
    }
}

TEST(Blur, LinesInsideALargerImageLeaveTheRestAlone)
{
    // A 21-column panel of a wider image, along rows and along columns.
    std::mt19937 rng(9);
    Image image(40, 19), expected(40, 19), before(40, 19);
    fillRandom(image, rng);
    copyPixels(image, expected);
    copyPixels(image, before);
    blurLines(image.pixels + 13, 4, image.pitch, 21, 19, 630, 630, 630, 630);
    ref::blurLines(expected.pixels + 13, 4, expected.pitch, 21, 19, 630, 630, 630, 630);
    blurLines(image.pixels + 13, image.pitch, 4, 19, 21, 5000, 9000, 12000, 16383);
    ref::blurLines(expected.pixels + 13, expected.pitch, 4, 19, 21, 5000, 9000, 12000, 16383);
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 13 && x < 34;
            ASSERT_EQ(image.row(y)[x], (inside ? expected : before).row(y)[x]) << x << ',' << y;
        }
}

TEST(Blur, CoefficientsAreHeldInRangeAndOverlongLinesRefused)
{
    std::mt19937 rng(10);
    Image image(9, 9), expected(9, 9);
    fillRandom(image, rng);
    copyPixels(image, expected);
    blurLines(image.pixels, 4, image.pitch, 9, 9, 30000, -5, 16384, 70000);
    ref::blurLines(expected.pixels, 4, expected.pitch, 9, 9, 16383, 0, 16383, 16383);
    EXPECT_TRUE(samePixels(image, expected)) << firstDifference(image, expected);

    // A line longer than the scratch line is left as it is (and reported).
    Image wide(maxBlurLength + 1, 1), untouched(maxBlurLength + 1, 1);
    fillRandom(wide, rng);
    copyPixels(wide, untouched);
    blurRows(wide, 0.5f, 0.5f, 0.5f, 0.5f);
    EXPECT_TRUE(samePixels(wide, untouched));
    Image longest(maxBlurLength, 2), longestRef(maxBlurLength, 2);
    fillRandom(longest, rng);
    copyPixels(longest, longestRef);
    blurRows(longest, 0.5f, 0.5f, 0.5f, 0.5f);
    ref::blurLines(longestRef.pixels, 4, longestRef.pitch, maxBlurLength, 2, 8191, 8191, 8191, 8191);
    EXPECT_TRUE(samePixels(longest, longestRef)) << firstDifference(longest, longestRef);
}
