#include "scene_fixture.hpp"

#include "driver/globals.hpp"
#include "driver/stored_data.hpp"
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

void fillWithGarbage(Image& image)
{
    std::uint32_t x = 12345;
    for (int y = 0; y < image.height; ++y)
        for (int i = 0; i < image.width; ++i) {
            x = x * 1664525u + 1013904223u;
            image.row(y)[i] = x;
        }
}
