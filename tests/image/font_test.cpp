#include "image/font.hpp"

#include "driver/stored_data.hpp"
#include "image/ops.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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

const StoredFont stored;
const Font& font = stored.font;

int widthOf(char c) { return font.glyphs[c - 32].width; }

// Pixels in a block of exactly their number (starting all set), so that any
// access past the last row is caught by the address sanitizer.
struct Block {
    std::vector<std::uint32_t> pixels;
    Image image;
    Block(int width, int height, Colour colour = 0x00FFFFFF)
        : pixels(static_cast<std::size_t>(width) * height, colour),
          image(width, height, width * 4, pixels.data()) {}
    Colour& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * image.width + x]; }
    void clear(int x, int y, int w, int h)
    {
        for (int row = y; row < y + h; ++row)
            std::fill_n(&at(x, row), w, 0u);
    }
};

// Glyph height 5; widths 3, 2, 5 in the first band, 4 in the second (from
// row 8), whose rows may run past the sheet's bottom.
struct SmallSheet : Block {
    explicit SmallSheet(int height) : Block(16, height)
    {
        clear(1, 1, 3, 5);
        clear(6, 1, 2, 5);
        clear(10, 1, 5, 5);
        clear(1, 8, 4, std::min(5, height - 8));
        at(2, 3) = at(13, 5) = at(2, 10) = 0x00FFFFFF;  // strokes
    }
};

TEST(FontScan, StoredSheetGivesEveryGlyphFromItsCell)
{
    ASSERT_TRUE(stored.built);
    EXPECT_EQ(font.glyphCount, 95);
    EXPECT_EQ(font.height, 33);
    EXPECT_EQ(widthOf(' '), 22);
    int offset = 0;
    for (int i = 0; i < font.glyphCount; ++i) {
        const Font::Glyph& glyph = font.glyphs[i];
        if (i >= 1 && i <= 90) {
            EXPECT_GE(glyph.width, 4) << "code " << 32 + i;
            EXPECT_LE(glyph.width, 31) << "code " << 32 + i;
        }
        ASSERT_EQ(glyph.offset, offset) << "code " << 32 + i;
        int differences = 0;
        for (int y = 0; y < font.height; ++y)
            for (int x = 0; x < glyph.width; ++x)
                differences += font.alpha[offset + y * glyph.width + x] !=
                               (stored.sheet.row(1 + 48 * (i / 16) + y)[1 + 32 * (i % 16) + x] & 0xFF);
        EXPECT_EQ(differences, 0) << "code " << 32 + i;
        offset += glyph.width * font.height;
    }
}

TEST(FontScan, SmallSheetFindsEachGlyphOnceAndStops)
{
    SmallSheet sheet(11);  // the second band's last two rows lie outside
    Font f;
    ASSERT_TRUE(buildFont(stored.sheet, f));
    ASSERT_TRUE(buildFont(sheet.image, f));  // nothing of the first build stays
    EXPECT_EQ(f.height, 5);
    ASSERT_EQ(f.glyphCount, 4);
    const int widths[] = {3, 2, 5, 4, 0};
    const int offsets[] = {0, 15, 25, 50, 0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(f.glyphs[i].width, widths[i]) << "glyph " << i;
        EXPECT_EQ(f.glyphs[i].offset, offsets[i]) << "glyph " << i;
    }
    EXPECT_EQ(f.alpha[0 + 2 * 3 + 1], 255);   // (2, 3)
    EXPECT_EQ(f.alpha[25 + 4 * 5 + 3], 255);  // (13, 5)
    EXPECT_EQ(f.alpha[50 + 2 * 4 + 1], 255);  // (2, 10), the last row inside
    EXPECT_EQ(std::count(f.alpha + 50 + 3 * 4, f.alpha + 70, 0), 8);  // rows past the bottom
    EXPECT_EQ(f.textWidth("#$%A"), 4);  // unfound glyphs are 0 wide
    Block canvas(8, 8, 0x00505050);
    EXPECT_FALSE(f.drawGlyph(canvas.image, 32 + 4, 0, 0, 0x00FFFFFF));
}

TEST(FontText, MeasuresAndRendersLines)
{
    EXPECT_EQ(font.textWidth("W\nii\ni"), std::max(widthOf('W'), 2 * widthOf('i')));
    EXPECT_EQ(font.textWidth("a\x01\x7f\xe9" "b"), widthOf('a') + widthOf('b'));
    EXPECT_EQ(font.textWidth("\n\n"), 0);
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

    Image empty;  // no characters: an empty line, not a negative width
    EXPECT_TRUE(renderTextImage(font, empty, "", 0x00FFFFFF, 25));
    EXPECT_EQ(empty.width, 0);
    EXPECT_EQ(empty.height, 33);
}

TEST(FontDraw, BlendsColourOverBackgroundAndAdvances)
{
    Block canvas(80, 40, 0xAA64C8F0);
    ASSERT_TRUE(font.drawText(canvas.image, " I", 0, 0, 0x00FF8010, 4));
    // Clear coverage: each channel (old x 255) >> 8; the fourth byte 0.
    EXPECT_EQ(canvas.at(0, 0), 0x0063C7EFu);
    EXPECT_EQ(canvas.at(21, 32), 0x0063C7EFu);
    // The spacing columns after the space stay untouched.
    EXPECT_EQ(canvas.at(22, 0), 0xAA64C8F0u);
    EXPECT_EQ(canvas.at(25, 32), 0xAA64C8F0u);
    // Full coverage in the stem of the I: (colour x 255) >> 8.
    EXPECT_EQ(canvas.at(26 + widthOf('I') / 2, 16), 0x00FE7F0Fu);
    EXPECT_EQ(canvas.at(26 + widthOf('I'), 16), 0xAA64C8F0u);
}

TEST(FontDraw, GlyphStraddlingClipEdgesIsCutNotMoved)
{
    Block whole(60, 60, 0x00202020);
    ASSERT_TRUE(font.drawGlyph(whole.image, 'M', 5, 8, 0x00FFFFFF));
    Block cut(60, 60, 0x00202020);
    cut.image.clipLeft = 12.0f;
    cut.image.clipTop = 20.0f;
    cut.image.clipRight = 15.0f;
    cut.image.clipBottom = 30.0f;
    ASSERT_TRUE(font.drawGlyph(cut.image, 'M', 5, 8, 0x00FFFFFF));
    int differences = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            const bool inside = x >= 12 && x <= 15 && y >= 20 && y <= 30;
            differences += cut.at(x, y) != (inside ? whole.at(x, y) : 0x00202020u);
        }
    EXPECT_EQ(differences, 0);

    // Wholly outside, or no glyph: nothing drawn.
    Block canvas(60, 40, 0x00101010);
    canvas.image.clipLeft = 30.0f;
    EXPECT_FALSE(font.drawGlyph(canvas.image, 'A', 30 - widthOf('A'), 0, 0x00FFFFFF));
    EXPECT_FALSE(font.drawGlyph(canvas.image, 'A', 35, 40, 0x00FFFFFF));
    EXPECT_FALSE(font.drawGlyph(canvas.image, 31, 35, 0, 0x00FFFFFF));
    EXPECT_FALSE(font.drawGlyph(canvas.image, 127, 35, 0, 0x00FFFFFF));
    EXPECT_TRUE(font.drawText(canvas.image, "Hi", -200, 0, 0x00FFFFFF, 0));
    EXPECT_EQ(std::count(canvas.pixels.begin(), canvas.pixels.end(), 0x00101010u), 60 * 40);

    // A clip rectangle larger than the image still keeps writes inside it.
    Block wide(20, 20, 0);
    wide.image.clipLeft = wide.image.clipTop = -50.0f;
    wide.image.clipRight = wide.image.clipBottom = 500.0f;
    Block reference(20, 20, 0);
    for (Block* block : {&wide, &reference}) {
        EXPECT_TRUE(font.drawGlyph(block->image, 'W', -5, -4, 0x00FFFFFF));
        EXPECT_TRUE(font.drawGlyph(block->image, 'W', 10, 10, 0x00FFFFFF));
    }
    EXPECT_EQ(wide.pixels, reference.pixels);
}

} // namespace
