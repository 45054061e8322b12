#include "image/font.hpp"

#include "image/ops.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

Font::~Font()
{
    glyphCount = 0;
    delete[] alpha;
    alpha = nullptr;
}

namespace {

// Positions outside the sheet count as separators, so every walk of the
// scan ends at the sheet's edge.
bool isSeparator(const Image& sheet, int x, int y)
{
    if (x < 0 || y < 0 || x >= sheet.width || y >= sheet.height)
        return true;
    return (sheet.row(y)[x] & 0xFFu) == 0xFFu;
}

int clearRun(const Image& sheet, int x, int y)
{
    int run = 0;
    while (!isSeparator(sheet, x + run, y))
        ++run;
    return run;
}

struct GlyphSource {
    int x = 0;
    int y = 0;
};

} // namespace

bool buildFont(const Image& sheet, Font& font)
{
    // A font built twice keeps nothing of its first build.
    delete[] font.alpha;
    font.alpha = nullptr;
    font.glyphCount = 0;
    std::fill(std::begin(font.glyphs), std::end(font.glyphs), Font::Glyph{});

    font.height = 0;
    while (!isSeparator(sheet, 1, 1 + font.height))
        ++font.height;

    GlyphSource sources[Font::maxGlyphs];
    long long totalWidth = 0;
    int x = 1;
    int y = 1;
    while (font.glyphCount < Font::maxGlyphs) {
        const int width = clearRun(sheet, x, y);
        sources[font.glyphCount] = {x, y};
        font.glyphs[font.glyphCount].width = width;
        totalWidth += width;
        ++font.glyphCount;

        // The next glyph starts past this one's clear run, at the next clear
        // pixel of the row; after the row's last glyph, in the next band.
        x += width;
        while (x < sheet.width && isSeparator(sheet, x, y))
            ++x;
        if (x >= sheet.width) {
            x = 1;
            y += font.height;
            while (y < sheet.height && isSeparator(sheet, x, y))
                ++y;
            if (y >= sheet.height)
                break;
        }
    }

    const long long size = totalWidth * font.height;
    font.alpha = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(std::max(size, 1LL))];
    if (!font.alpha) {
        font.glyphCount = 0;
        std::fill(std::begin(font.glyphs), std::end(font.glyphs), Font::Glyph{});
        return false;
    }

    int offset = 0;
    for (int i = 0; i < font.glyphCount; ++i) {
        Font::Glyph& glyph = font.glyphs[i];
        glyph.offset = offset;
        for (int row = 0; row < font.height; ++row) {
            std::uint8_t* out = font.alpha + offset + row * glyph.width;
            const int sy = sources[i].y + row;
            // A glyph whose rows run past the sheet's bottom gets clear
            // coverage there instead of bytes read from beyond the sheet.
            if (sy >= sheet.height) {
                std::memset(out, 0, static_cast<std::size_t>(glyph.width));
                continue;
            }
            const std::uint32_t* in = sheet.row(sy) + sources[i].x;
            for (int col = 0; col < glyph.width; ++col)
                out[col] = static_cast<std::uint8_t>(in[col] & 0xFFu);
        }
        offset += glyph.width * font.height;
    }
    return true;
}

int Font::textWidth(const char* text) const
{
    int widest = 0;
    int line = 0;
    for (const char* c = text; *c; ++c) {
        const int code = static_cast<unsigned char>(*c);
        if (code == '\n') {
            widest = std::max(widest, line);
            line = 0;
        } else if (code >= 32 && code <= 126) {
            line += glyphs[code - 32].width;
        }
    }
    return std::max(widest, line);
}

int Font::textHeight(const char* text) const
{
    int lines = 1;
    for (const char* c = text; *c; ++c)
        lines += *c == '\n';
    return height * lines;
}

bool Font::drawGlyph(Image& image, int code, int x, int y, Colour colour) const
{
    const int i = code - 32;
    if (i < 0 || i >= glyphCount)
        return false;

    int w = glyphs[i].width;
    int h = height;
    int skipX = 0;
    int skipY = 0;

    // The clip rectangle, kept inside the image so that no clip setting can
    // lead to writes outside the pixels.
    const float left = std::max(image.clipLeft, 0.0f);
    const float top = std::max(image.clipTop, 0.0f);
    const float right = std::min(image.clipRight, static_cast<float>(image.width - 1));
    const float bottom = std::min(image.clipBottom, static_cast<float>(image.height - 1));

    if (static_cast<float>(x) < left) {
        skipX = static_cast<int>(left - static_cast<float>(x));
        w -= skipX;
        x = static_cast<int>(left);
    }
    if (static_cast<float>(y) < top) {
        skipY = static_cast<int>(top - static_cast<float>(y));
        h -= skipY;
        y = static_cast<int>(top);
    }
    if (static_cast<float>(x + w) > right + 1.0f)
        w = static_cast<int>(right + 1.0f - static_cast<float>(x));
    if (static_cast<float>(y + h) > bottom + 1.0f)
        h = static_cast<int>(bottom + 1.0f - static_cast<float>(y));
    if (w <= 0 || h <= 0)
        return false;

    const int stride = glyphs[i].width;
    const std::uint8_t* source = alpha + glyphs[i].offset + skipY * stride + skipX;
    const std::uint32_t cb = colour & 0xFFu;
    const std::uint32_t cg = (colour >> 8) & 0xFFu;
    const std::uint32_t cr = (colour >> 16) & 0xFFu;
    for (int row = 0; row < h; ++row) {
        std::uint32_t* out = image.row(y + row) + x;
        const std::uint8_t* a = source + row * stride;
        for (int col = 0; col < w; ++col) {
            const std::uint32_t k = a[col];
            const std::uint32_t p = out[col];
            const std::uint32_t b = ((cb * k) >> 8) + (((p & 0xFFu) * (255 - k)) >> 8);
            const std::uint32_t g = ((cg * k) >> 8) + ((((p >> 8) & 0xFFu) * (255 - k)) >> 8);
            const std::uint32_t r = ((cr * k) >> 8) + ((((p >> 16) & 0xFFu) * (255 - k)) >> 8);
            out[col] = b | (g << 8) | (r << 16);
        }
    }
    return true;
}

bool Font::drawText(Image& image, const char* text, int x, int y, Colour colour, int spacing) const
{
    int penX = x;
    int penY = y;
    for (const char* c = text; *c; ++c) {
        const int code = static_cast<unsigned char>(*c);
        if (code == '\n') {
            penX = x;
            penY += height;
            continue;
        }
        drawGlyph(image, code, penX, penY, colour);
        if (code >= 32 && code <= 126)
            penX += glyphs[code - 32].width + spacing;
    }
    return true;
}

bool renderTextImage(const Font& font, Image& image, const char* text, Colour colour, int spacing)
{
    const int characters = static_cast<int>(std::strlen(text));
    // An empty text gives an empty line rather than a negative width.
    const int width = font.textWidth(text) + std::max(characters - 1, 0) * spacing;
    image.create(std::max(width, 0), font.textHeight(text));
    if (!image.pixels)
        return false;
    clearImage(image, 0);
    return font.drawText(image, text, 0, 0, colour, spacing);
}
