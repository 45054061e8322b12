#include "driver/prepare.hpp"

#include "scenes/shared.hpp"
#include "assets/stored_data.hpp"
#include "driver/timeline.hpp"
#include "image/ops.hpp"
#include "scenes/scenes.hpp"

void prepareShow()
{
    // The expanded sheet is needed only while the font is scanned.
    Image sheet;
    expandBitmap(sheet, glyphSheetBits, glyphSheetWidth, glyphSheetHeight);
    buildFont(sheet, font);
    delete[] sheet.pixels;

    deriveTimeline(timeline);

    // The order matters: preparations draw from shared random and noise
    // sequences, and later ones depend on what earlier ones took.
    prepareScene1();
    prepareScene2();
    prepareScene4();
    prepareScene5();
    prepareScene6();
    prepareScene8();
    prepareScene7();
    prepareScene3();
}
