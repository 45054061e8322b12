#include "image/font.hpp"

Font::~Font()
{
    glyphCount = 0;
    delete[] alpha;
    alpha = nullptr;
}

// Placeholders until the font scan lands.
bool buildFont(const Image&, Font&) { return false; }
