#include "image/font.hpp"

Font::~Font()
{
    glyphCount = 0;
    delete[] alpha;
    alpha = nullptr;
}
