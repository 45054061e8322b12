// The stored one-bit pictures scan as the program reads them.
#include "driver/stored_data.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool bitAt(const unsigned char* bits, int width, int x, int y)
{
    const long p = static_cast<long>(y) * width + x;
    return (bits[p >> 3] >> (p & 7)) & 1;
}
bool sheetAt(int x, int y) { return bitAt(glyphSheetBits, glyphSheetWidth, x, y); }
bool logoAt(int x, int y) { return bitAt(logoBits, logoWidth, x, y); }

int cellX(char c) { return 1 + 32 * ((c - 32) % 16); }
int cellY(char c) { return 1 + 48 * ((c - 32) / 16); }

int clearRun(int x, int y)
{
    int run = 0;
    while (x + run < glyphSheetWidth && !sheetAt(x + run, y))
        ++run;
    return run;
}

// Lowest row with ink in a glyph's 33 rows; -1 if none.
int lowestInkRow(char c)
{
    for (int y = 32; y >= 0; --y)
        for (int x = 0; x < clearRun(cellX(c), cellY(c)); ++x)
            if (sheetAt(cellX(c) + x, cellY(c) + y))
                return y;
    return -1;
}

TEST(GlyphSheet, FrameCellsAndHeightMarks)
{
    ASSERT_EQ(glyphSheetBitsSize, 18496u);
    for (int x = 0; x < glyphSheetWidth; ++x)
        ASSERT_TRUE(sheetAt(x, 0)) << "row 0, column " << x;
    for (int y = 0; y < glyphSheetHeight; ++y)
        ASSERT_TRUE(sheetAt(0, y)) << "column 0, row " << y;
    // Each cell's clear run (its width) ends in a set pixel, set up to the next cell.
    for (char c = 32; c <= 126; ++c) {
        const int width = clearRun(cellX(c), cellY(c));
        EXPECT_GE(width, 1) << "code " << int(c);
        EXPECT_LE(width, 31) << "code " << int(c);
        for (int x = cellX(c) + width; x < cellX(c) + 32 && x < glyphSheetWidth; ++x)
            EXPECT_TRUE(sheetAt(x, cellY(c))) << "code " << int(c) << ", column " << x;
    }
    // Column 1: clear for the 33 glyph rows of the first band, set for the
    // 15 rows below every band.
    for (int y = 1; y <= 33; ++y)
        EXPECT_FALSE(sheetAt(1, y)) << "row " << y;
    for (int first = 1; first < glyphSheetHeight; first += 48)
        for (int y = first + 33; y < first + 48 && y < glyphSheetHeight; ++y)
            EXPECT_TRUE(sheetAt(1, y)) << "row " << y;
}

TEST(GlyphSheet, GlyphsShareOneBaselineAndDescendersFit)
{
    const int baseline = lowestInkRow('H');
    ASSERT_GT(baseline, 0);
    for (char c : std::string("ABDEFHIKLMNPRTXZhiklmnrxz147"))
        EXPECT_EQ(lowestInkRow(c), baseline) << c;
    for (char c : std::string("gjpqy"))
        EXPECT_GT(lowestInkRow(c), baseline + 3) << c;
}

// Rows holding ink and the ink's bounding box within columns [x0, x1).
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
    for (int edge : {110, 380})
        for (int x = edge - 2; x < edge + 2; ++x)
            for (int y = 0; y < logoHeight; ++y)
                ASSERT_FALSE(logoAt(x, y)) << "column " << x << ", row " << y;

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
    for (int y = all.top; y <= all.bottom; ++y) {
        if (all.rows[static_cast<std::size_t>(y)])
            ++bars.back();
        else if (bars.back() > 0)
            bars.push_back(0);
    }
    EXPECT_GE(bars.size(), 12u);
    for (int rows : bars) {
        EXPECT_GE(rows, 2);
        EXPECT_LE(rows, 6);
    }
}

} // namespace
