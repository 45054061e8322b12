// Writes the one-bit glyph sheet that the font is scanned from at start-up.
//
//   make_glyph_sheet <typeface.ttf> <glyph_sheet.bin> [preview.png]
//
// Layout of the 512 x 289 sheet: row 0 and column 0 are set. The glyphs of
// codes 32..126 stand in 6 bands of 48 rows, 16 cells of 32 pixels to a
// band; glyph k of band j starts at column 1 + 32k, row 1 + 48j. A glyph is a
// clear rectangle of its width x 33 rows with its strokes set inside; the
// band's first row stays clear over the glyph's width, so its clear run
// gives the width. Everything else is set: the pixels between glyphs in the
// first row end each run, and column 1 below a band's 33 rows (15 rows down
// to the next band) marks the glyph height and the band gap.
#include "one_bit_picture.hpp"

#include "image/font.hpp"
#include "image/ops.hpp"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int sheetWidth = 512;
constexpr int sheetHeight = 289;
constexpr int cellWidth = 32;
constexpr int bandHeight = 48;
constexpr int cellsPerBand = 16;
constexpr int glyphHeight = 33;
constexpr int firstCode = 32;
constexpr int lastCode = 126;
constexpr int spaceWidth = 22;  // the scenes' line layouts expect this
constexpr int maxGlyphWidth = cellWidth - 1;  // one separator pixel per cell
constexpr int pixelSize = 26;   // em size: the title line with its wide spacing fits 640 pixels
constexpr int inkThreshold = 128;

// One glyph rasterised at the pen origin: ink pixels relative to its cell.
struct Glyph {
    int width = 0;              // advance in the sheet, the clear run
    int top = 0;                // rows of ink above the baseline
    int rows = 0;
    int columns = 0;
    int left = 0;               // column of the first ink column within the cell
    std::vector<std::uint8_t> ink;  // rows x columns, 0 or 1
};

bool rasterise(FT_Face face, int code, Glyph& glyph)
{
    if (FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL)) {
        std::fprintf(stderr, "cannot render character %d\n", code);
        return false;
    }
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.rows = static_cast<int>(bitmap.rows);
    glyph.columns = static_cast<int>(bitmap.width);
    glyph.top = slot->bitmap_top;
    glyph.ink.assign(static_cast<std::size_t>(glyph.rows) * glyph.columns, 0);
    for (int y = 0; y < glyph.rows; ++y)
        for (int x = 0; x < glyph.columns; ++x)
            glyph.ink[static_cast<std::size_t>(y) * glyph.columns + x] =
                bitmap.buffer[y * bitmap.pitch + x] >= inkThreshold ? 1 : 0;

    // Ink that overhangs the pen origin is moved right into the cell; the
    // cell then grows so that no ink sticks out on the right either.
    const int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    const int shift = std::max(0, -slot->bitmap_left);
    glyph.left = slot->bitmap_left + shift;
    glyph.width = std::max(advance + shift, glyph.left + glyph.columns);
    if (code == ' ')
        glyph.width = spaceWidth;
    if (glyph.width > maxGlyphWidth) {
        std::fprintf(stderr, "character %d is %d pixels wide, more than %d\n", code, glyph.width, maxGlyphWidth);
        return false;
    }
    return true;
}

bool buildSheet(const char* typeface, OneBitPicture& sheet, OneBitPicture& ink)
{
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library)) {
        std::fprintf(stderr, "cannot initialise FreeType\n");
        return false;
    }
    FT_Face face = nullptr;
    if (FT_New_Face(library, typeface, 0, &face)) {
        std::fprintf(stderr, "cannot open typeface %s\n", typeface);
        FT_Done_FreeType(library);
        return false;
    }
    bool ok = FT_Set_Pixel_Sizes(face, 0, pixelSize) == 0;
    std::vector<Glyph> glyphs(lastCode - firstCode + 1);
    for (int code = firstCode; ok && code <= lastCode; ++code)
        ok = rasterise(face, code, glyphs[static_cast<std::size_t>(code - firstCode)]);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    if (!ok)
        return false;

    // One baseline for all glyphs, placed so that the tallest ascender and
    // the deepest descender both fit below the clear first row.
    int ascent = 0;
    int descent = 0;
    for (const Glyph& glyph : glyphs) {
        if (glyph.rows == 0)
            continue;
        ascent = std::max(ascent, glyph.top);
        descent = std::max(descent, glyph.rows - glyph.top);
    }
    const int inkRows = glyphHeight - 1;
    if (ascent + descent > inkRows) {
        std::fprintf(stderr, "glyphs need %d rows, the sheet has %d\n", ascent + descent, inkRows);
        return false;
    }
    const int baseline = 1 + (inkRows - ascent - descent) / 2 + ascent;

    for (int i = 0; i < static_cast<int>(glyphs.size()); ++i) {
        const Glyph& glyph = glyphs[static_cast<std::size_t>(i)];
        const int x0 = 1 + cellWidth * (i % cellsPerBand);
        const int y0 = 1 + bandHeight * (i / cellsPerBand);
        sheet.fill(x0, y0, x0 + glyph.width, y0 + glyphHeight, false);
        for (int y = 0; y < glyph.rows; ++y)
            for (int x = 0; x < glyph.columns; ++x)
                if (glyph.ink[static_cast<std::size_t>(y) * glyph.columns + x]) {
                    const int sx = x0 + glyph.left + x;
                    const int sy = y0 + baseline - glyph.top + y;
                    sheet.put(sx, sy, true);
                    ink.put(sx, sy, true);
                }
    }
    return true;
}

// The sheet with its separators dimmed, and sample lines drawn with the
// font scanned back from the packed sheet, as the demo will draw them.
bool writePreview(const std::string& path, const OneBitPicture& sheet, const OneBitPicture& ink,
                  const std::vector<std::uint8_t>& bytes)
{
    static const char* const samples[] = {
        "[morvane-norbix]",
        "The quick brown fox jumps over the lazy dog.",
        "0123456789 !\"#$%&'()*+,-./:;<=>?@",
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ [\\]^_`",
        "abcdefghijklmnopqrstuvwxyz {|}~",
    };
    constexpr int previewWidth = 640;
    constexpr int lineGap = 8;

    Image expanded;
    expandBitmap(expanded, bytes.data(), sheet.width, sheet.height);
    Font font;
    const bool built = buildFont(expanded, font);
    delete[] expanded.pixels;
    if (!built) {
        std::fprintf(stderr, "the written sheet does not scan\n");
        return false;
    }

    std::vector<Image*> lines;
    int height = sheet.height + lineGap;
    for (const char* text : samples) {
        auto* line = new Image;
        renderTextImage(font, *line, text, 0x00FFFFFF, text == samples[0] ? 25 : 0);
        lines.push_back(line);
        height += line->height + lineGap;
    }

    GreyPicture preview(previewWidth, height);
    for (int y = 0; y < sheet.height; ++y)
        for (int x = 0; x < sheet.width; ++x)
            preview.at(x, y) = ink.get(x, y) ? 255 : sheet.get(x, y) ? 70 : 0;
    int top = sheet.height + lineGap;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Image& line = *lines[i];
        if (i == 0)
            std::printf("title line: %d pixels wide\n", line.width);
        for (int y = 0; y < line.height; ++y)
            for (int x = 0; x < std::min(line.width, previewWidth); ++x)
                preview.at(x, top + y) = static_cast<std::uint8_t>(line.row(y)[x] & 0xFFu);
        top += line.height + lineGap;
        delete lines[i];
    }
    return writePng(path, preview);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s <typeface.ttf> <glyph_sheet.bin> [preview.png]\n", argv[0]);
        return 1;
    }
    OneBitPicture sheet(sheetWidth, sheetHeight, true);
    OneBitPicture ink(sheetWidth, sheetHeight, false);
    if (!buildSheet(argv[1], sheet, ink))
        return 1;
    const std::vector<std::uint8_t> bytes = sheet.pack();
    if (!writeBytes(argv[2], bytes))
        return 1;
    if (argc == 4 && !writePreview(argv[3], sheet, ink, bytes))
        return 1;
    return 0;
}
