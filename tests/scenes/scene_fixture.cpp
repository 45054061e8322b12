#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "assets/stored_data.hpp"
#include "image/font.hpp"
#include "image/ops.hpp"
#include "scenes/scenes.hpp"

void prepareOpeningAndClosing()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    Image sheet;
    expandBitmap(sheet, glyphSheetBits, glyphSheetWidth, glyphSheetHeight);
    buildFont(sheet, font);
    delete[] sheet.pixels;
    prepareScene1();
    prepareScene8();
}
