#include "image/font.hpp"

#include "driver/stored_data.hpp"
#include "image/ops.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The stored sheet, expanded and scanned once for all tests.
struct StoredFont {
    Image sheet;
    Font font;
    bool built = false;

    StoredFont()
    {
        expandBitmap(sheet, glyphSheetBits, glyphSheetWidth, glyphSheetHeight);
        built = buildFont(sheet, font);
    }
    ~StoredFont() { delete[] sheet.pixels; }
};

const StoredFont& stored()
{
    static const StoredFont instance;
    return instance;
}

const Font& storedFont() { return stored().font; }

int widthOf(char c) { return storedFont().glyphs[c - 32].width; }

// An expanded sheet over a block of exactly its pixels, so that any read
// past its last row is caught by the address sanitizer. Starts all set.
struct Sheet {
    std::vector<std::uint32_t> block;
    Image image;

    Sheet(int width, int height)
        : block(static_cast<std::size_t>(width) * height, 0x00FFFFFFu),
          image(width, height, width * 4, block.data()) {}
    void clear(int x, int y, int w, int h)
    {
        for (int row = y; row < y + h; ++row)
            for (int col = x; col < x + w; ++col)
                block[static_cast<std::size_t>(row) * image.width + col] = 0;
    }
    void set(int x, int y) { block[static_cast<std::size_t>(y) * image.width + x] = 0x00FFFFFFu; }
};

// Two bands of glyph height 5 with a two-row gap: widths 3, 2, 5 in the
// first band, 4 in the second.
struct SmallSheet : Sheet {
    explicit SmallSheet(int height) : Sheet(16, height)
    {
        clear(1, 1, 3, 5);
        clear(6, 1, 2, 5);
        clear(10, 1, 5, 5);
        clear(1, 8, 4, std::min(5, height - 8));
        set(2, 3);   // a stroke of the first glyph
        set(13, 5);  // a stroke in the last row of the third glyph
    }
};

struct Canvas {
    Image image;
    Canvas(int width, int height, Colour background) : image(width, height) { clearImage(image, background); }
    Colour at(int x, int y) const { return image.row(y)[x]; }
};

bool samePixels(const Image& a, const Image& b)
{
    return a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels, b.pixels, static_cast<std::size_t>(a.width) * a.height * 4) == 0;
}

TEST(FontScan, StoredSheetGivesAllGlyphsAtTheirSizes)
{
    ASSERT_TRUE(stored().built);
    EXPECT_EQ(storedFont().glyphCount, 95);
    EXPECT_EQ(storedFont().height, 33);
    EXPECT_EQ(widthOf(' '), 22);
    for (int code = 33; code <= 122; ++code) {
        EXPECT_GE(storedFont().glyphs[code - 32].width, 4) << "code " << code;
        EXPECT_LE(storedFont().glyphs[code - 32].width, 31) << "code " << code;
    }
    for (int code = 123; code <= 126; ++code)
        EXPECT_GE(storedFont().glyphs[code - 32].width, 1) << "code " << code;
}

TEST(FontScan, CoverageIsCopiedFromEachGlyphsCell)
{
    const Image& sheet = stored().sheet;
    const Font& f = storedFont();
    int offset = 0;
    for (int i = 0; i < f.glyphCount; ++i) {
        const Font::Glyph& glyph = f.glyphs[i];
        ASSERT_EQ(glyph.offset, offset) << "glyph " << i;
        const int x0 = 1 + 32 * (i % 16);
        const int y0 = 1 + 48 * (i / 16);
        int differences = 0;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < glyph.width; ++x)
                differences += f.alpha[offset + y * glyph.width + x] != (sheet.row(y0 + y)[x0 + x] & 0xFF);
        EXPECT_EQ(differences, 0) << "glyph " << i;
        offset += glyph.width * f.height;
    }
}

TEST(FontScan, SmallSheetFindsEachGlyphOnceAndStops)
{
    SmallSheet sheet(13);
    Font f;
    ASSERT_TRUE(buildFont(sheet.image, f));
    EXPECT_EQ(f.height, 5);
    ASSERT_EQ(f.glyphCount, 4);
    const int widths[] = {3, 2, 5, 4};
    const int offsets[] = {0, 15, 25, 50};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(f.glyphs[i].width, widths[i]) << "glyph " << i;
        EXPECT_EQ(f.glyphs[i].offset, offsets[i]) << "glyph " << i;
    }
    EXPECT_EQ(f.glyphs[4].width, 0);
    EXPECT_EQ(f.alpha[0 + 2 * 3 + 1], 255);   // (2, 3) in the first glyph
    EXPECT_EQ(f.alpha[25 + 4 * 5 + 3], 255);  // (13, 5) in the third
    EXPECT_EQ(f.alpha[0], 0);

    // Codes past the glyphs found draw nothing and advance by the spacing only.
    Canvas canvas(40, 10, 0x00505050);
    EXPECT_FALSE(f.drawGlyph(canvas.image, 32 + 4, 0, 0, 0x00FFFFFF));
    EXPECT_EQ(canvas.at(0, 0), 0x00505050u);
    EXPECT_EQ(f.textWidth("#$%"), 4);  // glyph 3 (4 wide) and two unfound ones
}

TEST(FontScan, GlyphRowsPastTheSheetBottomAreClear)
{
    // The second band has only 3 of its 5 rows inside the sheet.
    SmallSheet sheet(11);
    sheet.set(2, 10);
    Font f;
    ASSERT_TRUE(buildFont(sheet.image, f));
    ASSERT_EQ(f.glyphCount, 4);
    const std::uint8_t* last = f.alpha + f.glyphs[3].offset;
    EXPECT_EQ(last[2 * 4 + 1], 255);  // (2, 10), the last row inside
    for (int i = 3 * 4; i < 5 * 4; ++i)
        EXPECT_EQ(last[i], 0);
}

TEST(FontScan, RebuildingForgetsTheEarlierGlyphs)
{
    Font f;
    ASSERT_TRUE(buildFont(stored().sheet, f));
    SmallSheet sheet(13);
    ASSERT_TRUE(buildFont(sheet.image, f));
    EXPECT_EQ(f.glyphCount, 4);
    EXPECT_EQ(f.glyphs[10].width, 0);
    EXPECT_EQ(f.textWidth("AB"), 0);
}

TEST(FontScan, SheetWithoutGlyphHeightGivesEmptyGlyphs)
{
    Sheet sheet(8, 8);  // all set: (1, 1) is a separator
    Font f;
    EXPECT_TRUE(buildFont(sheet.image, f));
    EXPECT_EQ(f.height, 0);
    EXPECT_EQ(f.glyphs[0].width, 0);
}

TEST(FontMeasure, WidthsAndHeightsOfLines)
{
    EXPECT_EQ(storedFont().textWidth("AB"), widthOf('A') + widthOf('B'));
    EXPECT_EQ(storedFont().textWidth("W\nii\ni"), std::max(widthOf('W'), 2 * widthOf('i')));
    EXPECT_EQ(storedFont().textWidth("\n\n"), 0);
    EXPECT_EQ(storedFont().textHeight("\n\n"), 3 * 33);
    EXPECT_EQ(storedFont().textHeight("x"), 33);
    // Codes outside 32..126 add nothing.
    EXPECT_EQ(storedFont().textWidth("a\x01\x7f\xe9" "b"), widthOf('a') + widthOf('b'));
}

TEST(FontRender, TwoLineTextImageSize)
{
    Image image;
    ASSERT_TRUE(renderTextImage(storedFont(), image, "W\nab", 0x00FFFFFF, 5));
    EXPECT_EQ(image.width, std::max(widthOf('W'), widthOf('a') + widthOf('b')) + 3 * 5);
    EXPECT_EQ(image.height, 2 * 33);
}

TEST(FontRender, EmptyTextGivesAnEmptyLine)
{
    Image image;
    EXPECT_TRUE(renderTextImage(storedFont(), image, "", 0x00FFFFFF, 25));
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 33);
}

TEST(FontRender, TextMatchesItsGlyphsAtThePenPositions)
{
    const char* text = "Ab c\nd";
    Image image;
    ASSERT_TRUE(renderTextImage(storedFont(), image, text, 0x00FFFFFF, 3));
    Canvas expected(image.width, image.height, 0);
    int x = 0;
    for (char c : {'A', 'b', ' ', 'c'}) {
        storedFont().drawGlyph(expected.image, c, x, 0, 0x00FFFFFF);
        x += widthOf(c) + 3;
    }
    storedFont().drawGlyph(expected.image, 'd', 0, 33, 0x00FFFFFF);
    EXPECT_TRUE(samePixels(image, expected.image));
}

TEST(FontDraw, BlendsColourOverBackground)
{
    // The middle of the lower bar of 'L' is covered; the top left corner is not.
    const int code = 'L';
    const int w = widthOf('L');
    const std::uint8_t* cover = storedFont().alpha + storedFont().glyphs[code - 32].offset;
    int coveredX = -1;
    int coveredY = -1;
    for (int y = 0; y < 33 && coveredX < 0; ++y)
        for (int x = 0; x < w; ++x)
            if (cover[y * w + x] == 255) {
                coveredX = x;
                coveredY = y;
                break;
            }
    ASSERT_GE(coveredX, 0);
    ASSERT_EQ(cover[0], 0);

    Canvas canvas(40, 40, 0xAA64C8F0);
    ASSERT_TRUE(storedFont().drawGlyph(canvas.image, code, 2, 3, 0x00FF8010));
    // Covered: (colour x 255) >> 8 per channel; fourth byte 0.
    EXPECT_EQ(canvas.at(2 + coveredX, 3 + coveredY), 0x00FE7F0Fu);
    // Clear: (old x 255) >> 8, one level down.
    EXPECT_EQ(canvas.at(2, 3), 0x0063C7EFu);
    // Outside the glyph's rectangle nothing changes.
    EXPECT_EQ(canvas.at(1, 3), 0xAA64C8F0u);
    EXPECT_EQ(canvas.at(2 + w, 3), 0xAA64C8F0u);
    EXPECT_EQ(canvas.at(2, 3 + 33), 0xAA64C8F0u);
}

TEST(FontDraw, GlyphStraddlingClipEdgesIsCutNotMoved)
{
    const int code = 'M';
    Canvas whole(60, 60, 0x00202020);
    ASSERT_TRUE(storedFont().drawGlyph(whole.image, code, 5, 8, 0x00FFFFFF));

    Canvas cut(60, 60, 0x00202020);
    cut.image.clipLeft = 12.0f;
    cut.image.clipTop = 20.0f;
    cut.image.clipRight = 15.0f;
    cut.image.clipBottom = 30.0f;
    ASSERT_TRUE(storedFont().drawGlyph(cut.image, code, 5, 8, 0x00FFFFFF));
    int differences = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            const bool inside = x >= 12 && x <= 15 && y >= 20 && y <= 30;
            differences += cut.at(x, y) != (inside ? whole.at(x, y) : 0x00202020u);
        }
    EXPECT_EQ(differences, 0);
}

TEST(FontDraw, NothingVisibleOrNoGlyphDrawsNothing)
{
    Canvas canvas(60, 40, 0x00101010);
    canvas.image.clipLeft = 30.0f;
    EXPECT_FALSE(storedFont().drawGlyph(canvas.image, 'A', 30 - widthOf('A'), 0, 0x00FFFFFF));
    EXPECT_FALSE(storedFont().drawGlyph(canvas.image, 'A', 0, 40, 0x00FFFFFF));
    EXPECT_FALSE(storedFont().drawGlyph(canvas.image, 31, 35, 0, 0x00FFFFFF));
    EXPECT_FALSE(storedFont().drawGlyph(canvas.image, 127, 35, 0, 0x00FFFFFF));
    EXPECT_TRUE(storedFont().drawText(canvas.image, "Hi", -200, 0, 0x00FFFFFF, 0));
    Canvas untouched(60, 40, 0x00101010);
    EXPECT_TRUE(samePixels(canvas.image, untouched.image));
}

TEST(FontDraw, ClipRectangleLargerThanTheImageStaysInside)
{
    // Drawn over a wrapped block of exactly the image's pixels, so a write
    // past the edges would be caught.
    std::vector<std::uint32_t> block(20 * 20, 0);
    Image image(20, 20, 20 * 4, block.data());
    image.clipLeft = -50.0f;
    image.clipTop = -50.0f;
    image.clipRight = 500.0f;
    image.clipBottom = 500.0f;
    EXPECT_TRUE(storedFont().drawGlyph(image, 'W', -5, -4, 0x00FFFFFF));
    EXPECT_TRUE(storedFont().drawGlyph(image, 'W', 10, 10, 0x00FFFFFF));

    Canvas reference(20, 20, 0);
    storedFont().drawGlyph(reference.image, 'W', -5, -4, 0x00FFFFFF);
    storedFont().drawGlyph(reference.image, 'W', 10, 10, 0x00FFFFFF);
    EXPECT_TRUE(samePixels(image, reference.image));
}

TEST(FontDraw, SpaceDarkensItsRectangleAndAdvances)
{
    Canvas canvas(80, 40, 0x00808080);
    ASSERT_TRUE(storedFont().drawText(canvas.image, " !", 0, 0, 0x00FFFFFF, 4));
    EXPECT_EQ(canvas.at(0, 0), 0x007F7F7Fu);
    EXPECT_EQ(canvas.at(21, 32), 0x007F7F7Fu);
    // '!' starts at 22 + 4: the spacing columns in between stay untouched.
    EXPECT_EQ(canvas.at(22, 0), 0x00808080u);
    EXPECT_EQ(canvas.at(25, 0), 0x00808080u);
    EXPECT_EQ(canvas.at(26, 0), 0x007F7F7Fu);
}

} // namespace
