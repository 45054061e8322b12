// The stored one-bit pictures scan as the program reads them.
#include "assets/stored_data.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool bitAt(const unsigned char* bits, int width, int x, int y)
{
    return (bits[(y * width + x) >> 3] >> ((y * width + x) & 7)) & 1;
}
bool sheetAt(int x, int y) { return bitAt(glyphSheetBits, glyphSheetWidth, x, y); }
bool logoAt(int x, int y) { return bitAt(logoBits, logoWidth, x, y); }

// Lowest row with ink in a glyph's 33 rows (its width is the clear run of
// its cell's first row); -1 if none.
int lowestInkRow(char c)
{
    const int left = 1 + 32 * ((c - 32) % 16), top = 1 + 48 * ((c - 32) / 16);
    int width = 0;
    while (width < 32 && !sheetAt(left + width, top))
        ++width;
    for (int y = 32; y >= 0; --y)
        for (int x = 0; x < width; ++x)
            if (sheetAt(left + x, top + y))
                return y;
    return -1;
}

// The sheet's frame, cells and height marks are read by the font scan tests.
TEST(GlyphSheet, GlyphsShareOneBaselineAndDescendersFit)
{
    ASSERT_EQ(glyphSheetBitsSize, 18496u);
    const int baseline = lowestInkRow('H');
    for (char c : std::string("ABDEFHIKLMNPRTXZhiklmnrxz147"))
        EXPECT_EQ(lowestInkRow(c), baseline) << c;
    for (char c : std::string("gjpqy"))
        EXPECT_GT(lowestInkRow(c), baseline + 3) << c;
}

// The ink's bounding box and rows within columns [x0, x1).
struct Ink {
    int left = logoWidth, right = -1, top = logoHeight, bottom = -1;
    std::vector<bool> rows = std::vector<bool>(logoHeight, false);
};

Ink inkBetween(int x0, int x1)
{
    Ink ink;
    for (int y = 0; y < logoHeight; ++y)
        for (int x = x0; x < x1; ++x)
            if (logoAt(x, y)) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
                ink.rows[static_cast<std::size_t>(y)] = true;
            }
    return ink;
}

TEST(Logo, BlocksHoldWholeLettersCentredInStripes)
{
    ASSERT_EQ(logoBitsSize, 8866u);
    // Clear columns on both sides of each block edge: no letter is cut.
    EXPECT_EQ(inkBetween(108, 112).right, -1);
    EXPECT_EQ(inkBetween(378, 382).right, -1);

    const Ink all = inkBetween(0, logoWidth);
    EXPECT_GE(all.top, 8);
    EXPECT_LE(std::abs(all.top - (logoHeight - 1 - all.bottom)), 2);
    const int edges[] = {0, 110, 380, logoWidth};
    for (int b = 0; b < 3; ++b) {
        const Ink block = inkBetween(edges[b], edges[b + 1]);
        EXPECT_LE(std::abs((block.left - edges[b]) - (edges[b + 1] - 1 - block.right)), 2) << "block " << b;
        // The same bars run across every block.
        EXPECT_EQ(block.rows, all.rows) << "block " << b;
    }

    // Bars of a few rows with dark rows between them, through all the lettering.
    std::vector<int> bars{0};
    for (int y = all.top; y <= all.bottom; ++y)
        if (all.rows[static_cast<std::size_t>(y)])
            ++bars.back();
        else if (bars.back() > 0)
            bars.push_back(0);
    EXPECT_GE(bars.size(), 12u);
    EXPECT_GE(*std::min_element(bars.begin(), bars.end()), 2);
    EXPECT_LE(*std::max_element(bars.begin(), bars.end()), 6);
}

} // namespace
