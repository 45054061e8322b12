#include "driver/prepare.hpp"

#include "scenes/shared.hpp"
#include "driver/timeline.hpp"
#include "scenes/scenes.hpp"

void prepareShow()
{
    prepareFont();
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
