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

constexpr int glyphHeight = 33;

int cellX(int i) { return 1 + 32 * (i % 16); }
int cellY(int i) { return 1 + 48 * (i / 16); }

int clearRun(int x, int y)
{
    int run = 0;
    while (x + run < glyphSheetWidth && !sheetAt(x + run, y))
        ++run;
    return run;
}

// Lowest row of ink in a glyph's rectangle, relative to its first row; -1 if none.
int lowestInkRow(char c)
{
    const int i = c - 32;
    const int width = clearRun(cellX(i), cellY(i));
    for (int y = glyphHeight - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x)
            if (sheetAt(cellX(i) + x, cellY(i) + y))
                return y;
    return -1;
}

TEST(GlyphSheet, SizeAndFrame)
{
    ASSERT_EQ(glyphSheetBitsSize, 18496u);
    for (int x = 0; x < glyphSheetWidth; ++x)
        ASSERT_TRUE(sheetAt(x, 0)) << "row 0, column " << x;
    for (int y = 0; y < glyphSheetHeight; ++y)
        ASSERT_TRUE(sheetAt(0, y)) << "column 0, row " << y;
}

TEST(GlyphSheet, CellsGiveTheirWidthsInTheBandsFirstRow)
{
    for (int i = 0; i < 95; ++i) {
        const int x0 = cellX(i);
        const int y0 = cellY(i);
        const int width = clearRun(x0, y0);
        EXPECT_GE(width, 1) << "code " << 32 + i;
        EXPECT_LE(width, 31) << "code " << 32 + i;
        // Set from the end of the run to the next cell.
        for (int x = x0 + width; x < x0 + 32 && x < glyphSheetWidth; ++x)
            EXPECT_TRUE(sheetAt(x, y0)) << "code " << 32 + i << ", column " << x;
    }
    EXPECT_EQ(clearRun(cellX(0), cellY(0)), 22);
}

TEST(GlyphSheet, ColumnOneMarksHeightAndBandGaps)
{
    for (int y = 1; y <= glyphHeight; ++y)
        EXPECT_FALSE(sheetAt(1, y)) << "row " << y;
    for (int band = 0; band < 6; ++band) {
        const int first = 1 + 48 * band;
        for (int y = first + glyphHeight; y < first + 48 && y < glyphSheetHeight; ++y)
            EXPECT_TRUE(sheetAt(1, y)) << "band " << band << ", row " << y;
        if (band > 0) {
            EXPECT_FALSE(sheetAt(1, first)) << "band " << band;
        }
    }
}

TEST(GlyphSheet, GlyphsShareOneBaselineAndDescendersGoBelowIt)
{
    const int baseline = lowestInkRow('H');
    ASSERT_GT(baseline, 0);
    for (char c : std::string("ABDEFHIKLMNPRTXZhiklmnrxz147")) {
        EXPECT_EQ(lowestInkRow(c), baseline) << c;
    }
    for (char c : std::string("gjpqy")) {
        EXPECT_GT(lowestInkRow(c), baseline + 3) << c;
        EXPECT_LT(lowestInkRow(c), glyphHeight) << c;
    }
}

struct InkBox {
    int left = logoWidth, right = -1, top = logoHeight, bottom = -1;
    std::vector<bool> rows = std::vector<bool>(logoHeight, false);
};

InkBox inkBetween(int x0, int x1)
{
    InkBox box;
    for (int y = 0; y < logoHeight; ++y)
        for (int x = x0; x < x1; ++x)
            if (logoAt(x, y)) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
                box.rows[static_cast<std::size_t>(y)] = true;
            }
    return box;
}

constexpr int blockEdges[] = {0, 110, 380, logoWidth};

TEST(Logo, BlocksHoldWholeLettersCentred)
{
    ASSERT_EQ(logoBitsSize, 8866u);
    // Clear columns on both sides of each block edge: no letter is cut.
    for (int edge : {110, 380})
        for (int x = edge - 2; x < edge + 2; ++x)
            for (int y = 0; y < logoHeight; ++y)
                ASSERT_FALSE(logoAt(x, y)) << "column " << x << ", row " << y;

    for (int b = 0; b < 3; ++b) {
        const InkBox box = inkBetween(blockEdges[b], blockEdges[b + 1]);
        ASSERT_GE(box.right, 0) << "block " << b << " is empty";
        const int leftMargin = box.left - blockEdges[b];
        const int rightMargin = blockEdges[b + 1] - 1 - box.right;
        EXPECT_LE(std::abs(leftMargin - rightMargin), 2) << "block " << b;
        EXPECT_GE(box.top, 8) << "block " << b;
        EXPECT_LE(box.bottom, logoHeight - 9) << "block " << b;
    }
}

TEST(Logo, LettersAreStripedAlike)
{
    const InkBox all = inkBetween(0, logoWidth);
    EXPECT_LE(std::abs(all.top - (logoHeight - 1 - all.bottom)), 2);

    // Bars of a few rows with dark rows between them, all through the lettering.
    int bars = 0;
    int run = 0;
    int gap = 0;
    for (int y = all.top; y <= all.bottom + 1; ++y) {
        if (y <= all.bottom && all.rows[static_cast<std::size_t>(y)]) {
            if (gap > 0) {
                EXPECT_LE(gap, 4) << "gap above row " << y;
            }
            gap = 0;
            ++run;
        } else {
            if (run > 0) {
                ++bars;
                EXPECT_GE(run, 2) << "bar ending at row " << y;
                EXPECT_LE(run, 6) << "bar ending at row " << y;
            }
            run = 0;
            ++gap;
        }
    }
    EXPECT_GE(bars, 12);

    // The same bars run across every block.
    for (int b = 0; b < 3; ++b)
        EXPECT_EQ(inkBetween(blockEdges[b], blockEdges[b + 1]).rows, all.rows) << "block " << b;
}

} // namespace
