#include "image/blur.hpp"
#include "image/ops.hpp"
#include "../wide_forms.hpp"
#include "reference.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A grey line (all four bytes equal) of these values, blurred; the bytes
// that come out, -1 for a pixel no longer grey.
std::vector<int> blurred(std::vector<int> values, bool column, void (*blur)(Image&, float, float, float, float), float f)
{
    const int n = static_cast<int>(values.size());
    Image image(column ? 1 : n, column ? n : 1);
    for (int i = 0; i < n; ++i)
        image.pixels[i] = static_cast<std::uint32_t>(values[i]) * 0x01010101u;
    blur(image, f, f, f, f);
    for (int i = 0; i < n; ++i) {
        const std::uint32_t p = image.pixels[i];
        values[i] = p == (p & 0xFF) * 0x01010101u ? static_cast<int>(p & 0xFF) : -1;
    }
    return values;
}

} // namespace

TEST(Blur, SpikeOnePixelLinesAndCoefficientZero)
{
    const std::vector<int> spike = {0, 0, 0, 0, 255, 0, 0, 0, 0};
    EXPECT_EQ(blurred(spike, false, blurRows, 0.8f), (std::vector<int>{0, 1, 6, 33, 169, 33, 6, 1, 0}));
    EXPECT_EQ(blurred(spike, true, blurColumns, 0.8f), (std::vector<int>{0, 1, 6, 33, 169, 33, 6, 1, 0}));
    EXPECT_EQ(blurred(spike, false, blurRows, 1.0f), (std::vector<int>{0, 0, 0, 0, 254, 0, 0, 0, 0}));
    EXPECT_EQ(blurred(spike, false, blurColumns, 0.5f), spike);  // columns of one pixel

    // Coefficient 0 holds a line's first value: in the fourth byte only, then everywhere.
    std::mt19937 rng(7);
    RandomPair image(11, 3, rng);
    Image& p = image.fast;
    blurRows(p, 0.0f, 0.8f, 0.8f, 0.8f);
    for (int i = 0; i < 33; ++i)
        ASSERT_EQ(p.pixels[i] >> 24, p.pixels[i / 11 * 11] >> 24) << i;
    blurColumns(p, 0.0f, 0.0f, 0.0f, 0.0f);
    for (int i = 0; i < 33; ++i)
        ASSERT_EQ(p.pixels[i], p.pixels[i % 11]) << i;
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

TEST(Blur, RowsInsideAWiderImageMatchTheReference)
{
    // Rows read and written four pixels at a time: lengths around whole
    // blocks, whole and short groups of lines, and the pixels beside the
    // rows (left of the first, right of the last) left as they are.
    std::mt19937 rng(10);
    for (int count = 1; count <= 13; ++count)
        for (const int lines : {1, 8, 9, 17}) {
            RandomPair image(count + 5, lines + 1, rng);
            const int c = static_cast<int>(rng() % 16384), step = image.fast.pitch;
            blurLines(image.fast.pixels + 2, 4, step, count, lines, c, 16383 - c, c / 3, 9000);
            ref::blurLines(image.expected.pixels + 2, 4, step, count, lines, c, 16383 - c, c / 3, 9000);
            ASSERT_EQ(image.difference(), -1) << count << " pixels, " << lines << " lines";
        }
}

TEST(Blur, OutOfRangeCoefficientsAndLengths)
{
    // Coefficients are held to 0..16383.
    std::mt19937 rng(9);
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

TEST(Blur, EveryCoefficientAtMostWorkedOnTheBytes)
{
    // With every coefficient 16383, rows of whole blocks of four pixels are
    // blurred on the bytes, four or eight lines at a time: bytes from a few
    // values (runs of equal bytes, rises and falls of one and of many), line
    // counts that fill no group, and both forms where this machine has two.
    std::mt19937 rng(12);
    const std::uint8_t values[] = {0, 1, 2, 3, 0x33, 0x34, 254, 255};
    forEachForm([&](bool wide) {
        for (const int count : {4, 8, 12, 320})
            for (const int lines : {1, 3, 4, 5, 9, 13}) {
                RandomPair image(count + 2, lines, rng);
                for (int y = 0; y < lines; ++y)
                    for (int x = 0; x < count + 2; ++x) {
                        std::uint32_t p = 0;
                        for (int b = 0; b < 4; ++b)
                            p = p << 8 | values[rng() % 8];
                        // Every other line a ramp that climbs and falls by one.
                        if (y % 2)
                            p = static_cast<std::uint32_t>(std::abs(x % 16 - 8)) * 0x01010101u;
                        image.fast.row(y)[x] = image.expected.row(y)[x] = p;
                    }
                const int step = image.fast.pitch;
                blurLines(image.fast.pixels + 1, 4, step, count, lines, 16383, 16383, 16383, 16383);
                ref::blurLines(image.expected.pixels + 1, 4, step, count, lines, 16383, 16383, 16383, 16383);
                ASSERT_EQ(image.difference(), -1) << (wide ? "wide, " : "") << count << " x " << lines;
            }
    });
}
