// The demo's own run, with a test module standing in for the soundtrack and
// a test picture for the scenes, so that the end-to-end tests can check
// sound and picture whatever the show's content is.
//   --short    the timeline lasts about a second
//   --depth24  the display refuses 32 bits per pixel
//   --window   in a window instead of full screen
#include "driver/run_demo.hpp"
#include "assets/stored_data.hpp"
#include "driver/timeline.hpp"
#include "music/music.hpp"
#include "platform/display.hpp"
#include "platform/window.hpp"
#include "../music/test_module.hpp"

#include <cstring>

// Red 0xC0, green 0x80, blue 0x40 everywhere (a swapped byte order shows),
// and a white bar along the top that moves with the clock.
static void testPicture(Image& frame, float demoTime, float, float, float, int)
{
    const int bar = static_cast<int>(demoTime * 200.0f) % (frame.width - 16);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            frame.row(y)[x] = y < 16 && x >= bar && x < bar + 16 ? 0x00FFFFFFu : 0x00C08040u;
}

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") == 0)
            for (int e = 0; e <= timeline.count; ++e)
                timeline.entries[e].start = 0.05f * static_cast<float>(e);
        else if (std::strcmp(argv[i], "--depth24") == 0)
            xp_screen_refuse_depth(32);
        else if (std::strcmp(argv[i], "--window") == 0)
            xp_window_set_windowed(true);
    }
    for (int e = 0; e < timeline.count; ++e)
        timeline.entries[e].scene = testPicture;

    static const std::vector<unsigned char> module = writeTestXm({.patterns = 4, .rowsPerPattern = 64});
    memRegister(soundtrackModule, module.data(), module.size());
    return runDemo();
}
