#include "image/blur.hpp"
#include "image/ops.hpp"
#include "reference.hpp"
#include "test_images.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Grey pixels (all four bytes equal) from byte values, and back.
void setGreys(Image& image, const std::vector<int>& values)
{
    for (std::size_t i = 0; i < values.size(); ++i)
        image.pixels[i] = static_cast<std::uint32_t>(values[i]) * 0x01010101u;
}

std::vector<int> greys(const Image& image)
{
    std::vector<int> values;
    for (int i = 0; i < image.width * image.height; ++i) {
        const std::uint32_t p = image.pixels[i];
        values.push_back(p == (p & 0xFF) * 0x01010101u ? static_cast<int>(p & 0xFF) : -1);
    }
    return values;
}

} // namespace

TEST(Blur, SpikeAlongARowAndAColumn)
{
    const std::vector<int> spike = {0, 0, 0, 0, 255, 0, 0, 0, 0};
    const std::vector<int> soft = {0, 1, 6, 33, 169, 33, 6, 1, 0};
    Image row(9, 1), column(1, 9);
    setGreys(row, spike);
    blurRows(row, 0.8f, 0.8f, 0.8f, 0.8f);
    EXPECT_EQ(greys(row), soft);
    setGreys(column, spike);
    blurColumns(column, 0.8f, 0.8f, 0.8f, 0.8f);
    EXPECT_EQ(greys(column), soft);
    setGreys(row, spike);
    blurRows(row, 1.0f, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(greys(row), (std::vector<int>{0, 0, 0, 0, 254, 0, 0, 0, 0}));
    // Columns of one pixel: unchanged.
    setGreys(row, spike);
    blurColumns(row, 0.5f, 0.5f, 0.5f, 0.5f);
    EXPECT_EQ(greys(row), spike);
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

    // Coefficient 0 holds a line's first value: in the fourth byte only, then everywhere.
    std::mt19937 rng(7);
    Image image(11, 3);
    fillRandom(image, rng);
    blurRows(image, 0.0f, 0.8f, 0.8f, 0.8f);
    for (int i = 0; i < 33; ++i)
        ASSERT_EQ(image.pixels[i] >> 24, image.pixels[i / 11 * 11] >> 24) << i;
    blurColumns(image, 0.0f, 0.0f, 0.0f, 0.0f);
    for (int i = 0; i < 33; ++i)
        ASSERT_EQ(image.pixels[i], image.pixels[i % 11]) << i;
}

TEST(Blur, MatchesTheReferenceOnRandomImages)
{
    std::mt19937 rng(8);
    for (int round = 0; round < 120; ++round) {
        // Sizes on both sides of the eight lines blurred together.
        const int w = 1 + rng() % 37, h = 1 + rng() % 29;
        RandomPair image(w, h, rng);
        float f[4];
        int c[4];
        for (int i = 0; i < 4; ++i) {
            f[i] = round % 5 == 0 ? 1.0f : static_cast<float>(rng() % 16384) / 16383.0f;
            c[i] = static_cast<int>(static_cast<double>(f[i]) * 16383.0);
        }
        Image& e = image.expected;
        if (round % 3 != 1)
            ref::blurLines(e.pixels, 4, e.pitch, w, h, c[0], c[1], c[2], c[3]);
        if (round % 3 != 0)
            ref::blurLines(e.pixels, e.pitch, 4, h, w, c[0], c[1], c[2], c[3]);
        (round % 3 == 0 ? blurRows : round % 3 == 1 ? blurColumns : blurImage)(image.fast, f[0], f[1], f[2], f[3]);
        ASSERT_EQ(image.difference(), -1) << "round " << round << " size " << w << 'x' << h;
    }
}

TEST(Blur, PanelOfALargerImageAndOutOfRangeArguments)
{
    // A 21-column panel, along its rows and its columns; the rest stays.
    std::mt19937 rng(9);
    RandomPair image(40, 19, rng);
    Image before(40, 19);
    copyPixels(image.fast, before);
    for (Image* i : {&image.fast, &image.expected}) {
        auto blur = i == &image.fast ? blurLines : ref::blurLines;
        blur(i->pixels + 13, 4, i->pitch, 21, 19, 630, 630, 630, 630);
        blur(i->pixels + 13, i->pitch, 4, 19, 21, 5000, 9000, 12000, 16383);
    }
    for (int p = 0; p < 40 * 19; ++p)
        ASSERT_EQ(image.fast.pixels[p], (p % 40 >= 13 && p % 40 < 34 ? image.expected : before).pixels[p]) << p;

    // Coefficients are held to 0..16383.
    RandomPair held(9, 9, rng);
    blurLines(held.fast.pixels, 4, 36, 9, 9, 30000, -5, 16384, 70000);
    ref::blurLines(held.expected.pixels, 4, 36, 9, 9, 16383, 0, 16383, 16383);
    EXPECT_EQ(held.difference(), -1);

    // The longest line is blurred; a longer one is left as it is (and reported).
    RandomPair longest(maxBlurLength, 2, rng), tooLong(maxBlurLength + 1, 1, rng);
    blurRows(longest.fast, 0.5f, 0.5f, 0.5f, 0.5f);
    ref::blurLines(longest.expected.pixels, 4, longest.expected.pitch, maxBlurLength, 2, 8191, 8191, 8191, 8191);
    EXPECT_EQ(longest.difference(), -1);
    blurRows(tooLong.fast, 0.5f, 0.5f, 0.5f, 0.5f);
    EXPECT_EQ(tooLong.difference(), -1);
}
