// The font from the stored glyph sheet, in a file of its own so that tools
// that prepare only some scenes can build it without linking the others.
#include "driver/prepare.hpp"

#include "assets/stored_data.hpp"
#include "image/ops.hpp"
#include "scenes/shared.hpp"

void prepareFont()
{
    // The expanded sheet is needed only while the font is scanned.
    Image sheet;
    expandBitmap(sheet, glyphSheetBits, glyphSheetWidth, glyphSheetHeight);
    buildFont(sheet, font);
    delete[] sheet.pixels;
}
