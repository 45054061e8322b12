// The proportional bitmap font, scanned at start-up from a one-bit glyph
// sheet, and the text images the scenes blit every frame.
#pragma once

#include "image/image.hpp"

struct Font {
    struct Glyph {
        int width = 0;   // pixels
        int offset = 0;  // first coverage byte in alpha
    };
    static constexpr int maxGlyphs = 95;  // codes 32..126

    int glyphCount = 0;
    int height = 0;
    std::uint8_t* alpha = nullptr;  // coverage bytes, glyph after glyph, row after row
    Glyph glyphs[maxGlyphs] = {};

    Font() = default;
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // Width of the widest line; codes 32..126 add their glyph width.
    int textWidth(const char* text) const;
    // height x (1 + number of newlines).
    int textHeight(const char* text) const;
    // Blends one glyph with its top-left corner at (x, y), clipped to the image's clip rectangle.
    bool drawGlyph(Image& image, int code, int x, int y, Colour colour) const;
    // Draws one or more lines from (x, y); spacing is added after every glyph.
    bool drawText(Image& image, const char* text, int x, int y, Colour colour, int spacing) const;
};

// Scans an expanded glyph sheet into the font.
bool buildFont(const Image& sheet, Font& font);

// Creates an empty image exactly big enough for the text and draws it at (0, 0).
bool renderTextImage(const Font& font, Image& image, const char* text, Colour colour, int spacing);
