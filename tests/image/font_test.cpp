#include "image/font.hpp"

#include "assets/stored_data.hpp"
#include "image/ops.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

namespace {

// The stored sheet, expanded and scanned once for all tests.
struct StoredFont {
    Image sheet;
    Font font;
    bool built = (expandBitmap(sheet, glyphSheetBits, glyphSheetWidth, glyphSheetHeight), buildFont(sheet, font));
};

const StoredFont stored;
const Font& font = stored.font;

int widthOf(char c) { return font.glyphs[c - 32].width; }

// Pixels in a block of exactly their number, so that any access past the
// last row is caught by the address sanitizer.
struct Block {
    std::vector<std::uint32_t> pixels;
    Image image;
    Block(int width, int height, Colour colour)
        : pixels(static_cast<std::size_t>(width) * height, colour), image(width, height, width * 4, pixels.data()) {}
    Colour& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * image.width + x]; }
};

TEST(FontScan, StoredSheetGivesEveryGlyphFromItsCell)
{
    ASSERT_TRUE(stored.built);
    EXPECT_EQ(font.glyphCount, 95);
    EXPECT_EQ(font.height, 33);
    EXPECT_EQ(widthOf(' '), 22);
    int offset = 0, differences = 0;
    for (int i = 0; i < font.glyphCount; ++i) {
        const Font::Glyph& glyph = font.glyphs[i];
        EXPECT_TRUE(i < 1 || i > 90 || (glyph.width >= 4 && glyph.width <= 31)) << "code " << 32 + i;
        ASSERT_EQ(glyph.offset, offset) << "code " << 32 + i;
        for (int y = 0; y < font.height; ++y)
            for (int x = 0; x < glyph.width; ++x)
                differences += font.alpha[offset + y * glyph.width + x] !=
                               (stored.sheet.row(1 + 48 * (i / 16) + y)[1 + 32 * (i % 16) + x] & 0xFF);
        offset += glyph.width * font.height;
    }
    EXPECT_EQ(differences, 0);
}

TEST(FontScan, SmallSheetCutOffInItsLastBand)
{
    // Glyph height 5; widths 3 and 2 in the first band, 4 in the second
    // (from row 8), whose last two rows lie past the sheet's bottom.
    Block sheet(8, 11, 0x00FFFFFF);
    for (const auto& [x, y, w, h] : {std::array{1, 1, 3, 5}, {5, 1, 2, 5}, {1, 8, 4, 3}})
        for (int row = y; row < y + h; ++row)
            std::fill_n(&sheet.at(x, row), w, 0u);
    sheet.at(2, 10) = 0x00FFFFFF;  // a stroke in the last row inside
    Font f;
    ASSERT_TRUE(buildFont(stored.sheet, f));
    ASSERT_TRUE(buildFont(sheet.image, f));  // nothing of the first build stays
    EXPECT_EQ(f.height, 5);
    ASSERT_EQ(f.glyphCount, 3);
    EXPECT_EQ(f.glyphs[2].offset, 25);
    EXPECT_EQ(f.alpha[25 + 2 * 4 + 1], 255);
    EXPECT_EQ(std::count(f.alpha + 25 + 3 * 4, f.alpha + 45, 0), 8);  // rows past the bottom
    EXPECT_EQ(f.textWidth("$%!"), 2);  // unfound glyphs are 0 wide
}

TEST(FontText, MeasuresRendersAndBlendsLines)
{
    EXPECT_EQ(font.textWidth("W\nii\ni"), std::max(widthOf('W'), 2 * widthOf('i')));
    EXPECT_EQ(font.textWidth("a\x01\x7f\xe9" "b"), widthOf('a') + widthOf('b'));
    EXPECT_EQ(font.textHeight("\n\n"), 3 * 33);

    Image image;
    ASSERT_TRUE(renderTextImage(font, image, "W\nab", 0x00FFFFFF, 5));
    EXPECT_EQ(image.width, std::max(widthOf('W'), widthOf('a') + widthOf('b')) + 3 * 5);
    EXPECT_EQ(image.height, 2 * 33);
    Block expected(image.width, image.height, 0);
    font.drawGlyph(expected.image, 'W', 0, 0, 0x00FFFFFF);
    font.drawGlyph(expected.image, 'a', 0, 33, 0x00FFFFFF);
    font.drawGlyph(expected.image, 'b', widthOf('a') + 5, 33, 0x00FFFFFF);
    EXPECT_TRUE(std::equal(expected.pixels.begin(), expected.pixels.end(), image.pixels));

    Block canvas(80, 40, 0xAA64C8F0);
    ASSERT_TRUE(font.drawText(canvas.image, " I", 0, 0, 0x00FF8010, 4));
    // Clear coverage: each channel (old x 255) >> 8, the fourth byte 0; the
    // spacing after the space untouched; full coverage (colour x 255) >> 8.
    EXPECT_EQ(canvas.at(21, 32), 0x0063C7EFu);
    EXPECT_EQ(canvas.at(25, 32), 0xAA64C8F0u);
    EXPECT_EQ(canvas.at(26 + widthOf('I') / 2, 16), 0x00FE7F0Fu);
}

TEST(FontDraw, GlyphsAreCutAtTheClipEdgesNotMoved)
{
    Block whole(60, 60, 0x00202020), cut(60, 60, 0x00202020);
    cut.image.clipLeft = 12.0f, cut.image.clipTop = 20.0f, cut.image.clipRight = 15.0f, cut.image.clipBottom = 30.0f;
    ASSERT_TRUE(font.drawGlyph(whole.image, 'M', 5, 8, 0x00FFFFFF) && font.drawGlyph(cut.image, 'M', 5, 8, 0x00FFFFFF));
    int differences = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x)
            differences += cut.at(x, y) != (x >= 12 && x <= 15 && y >= 20 && y <= 30 ? whole.at(x, y) : 0x00202020u);
    EXPECT_EQ(differences, 0);

    // Wholly outside, or no glyph: nothing drawn.
    Block canvas(60, 40, 0x00101010);
    canvas.image.clipLeft = 30.0f;
    EXPECT_FALSE(font.drawGlyph(canvas.image, 'A', 30 - widthOf('A'), 0, 0x00FFFFFF));
    EXPECT_FALSE(font.drawGlyph(canvas.image, 'A', 35, 40, 0x00FFFFFF));
    EXPECT_FALSE(font.drawGlyph(canvas.image, 127, 35, 0, 0x00FFFFFF));
    EXPECT_EQ(std::count(canvas.pixels.begin(), canvas.pixels.end(), 0x00101010u), 60 * 40);

    // A clip rectangle larger than the image still keeps writes inside it.
    Block wide(20, 20, 0);
    wide.image.clipLeft = wide.image.clipTop = -50.0f;
    wide.image.clipRight = wide.image.clipBottom = 500.0f;
    EXPECT_TRUE(font.drawGlyph(wide.image, 'W', -5, -4, 0x00FFFFFF));
    EXPECT_TRUE(font.drawGlyph(wide.image, 'W', 10, 10, 0x00FFFFFF));
}

} // namespace
