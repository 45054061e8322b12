// The page's entry points, called from page.js: the live show driven by the
// browser's animation frames and the audio worklet's clock, the `still` and
// `bench` modes stepped offline, and the stored module for the player.
#include "assets/stored_data.hpp"
#include "driver/prepare.hpp"
#include "driver/timeline.hpp"
#include "platform/web/offline_show.hpp"
#include "platform/web/web_music.hpp"
#include "scenes/shared.hpp"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <cstdint>
#include <cstring>

// The browser side, in library_morvane.js.
extern "C" {
void morvane_js_present(const std::uint8_t* rgba);
void morvane_js_start(const unsigned char* module, std::size_t size);
double morvane_js_audio_time();  // negative until the music is heard
int morvane_js_audio_row();
void morvane_js_set_volume(double gain);
void morvane_js_end();
}

namespace {

// The frame as the canvas wants it: red, green, blue, opaque alpha.
std::uint8_t canvasPixels[frameWidth * frameHeight * 4];

void present()
{
    std::uint8_t* out = canvasPixels;
    for (int y = 0; y < frameHeight; ++y) {
        const std::uint32_t* row = frame.row(y);
        for (int x = 0; x < frameWidth; ++x, out += 4) {
            out[0] = static_cast<std::uint8_t>(row[x] >> 16);
            out[1] = static_cast<std::uint8_t>(row[x] >> 8);
            out[2] = static_cast<std::uint8_t>(row[x]);
            out[3] = 255;
        }
    }
    morvane_js_present(canvasPixels);
}

struct LiveShow {
    bool started = false;
    bool ended = false;
    bool paused = false;
    int volume = -1;  // last passed to the player
    TimelineClock clock;
    FrameStep step;
};
LiveShow live;

void endShow()
{
    if (live.ended)
        return;
    live.ended = true;
    morvane_js_end();
}

// Once per animation frame, the desktop loop's body: the clock is the
// audio's own, so a frame skipped by a busy tab is caught up in time.
EM_BOOL onAnimationFrame(double, void*)
{
    if (live.ended)
        return EM_FALSE;
    const double time = morvane_js_audio_time();
    if (live.paused || time < 0.0)
        return EM_TRUE;
    webSongSetRow(morvane_js_audio_row());
    if (!stepTimeline(live.clock, timeline, time, live.step)) {
        endShow();
        return EM_FALSE;
    }
    drawStep(live.step, frame);
    present();
    if (webSongVolume() != live.volume) {
        live.volume = webSongVolume();
        morvane_js_set_volume(live.volume / 256.0);
    }
    return EM_TRUE;
}

// Browsers allow sound only after a click or key press, so the show starts
// on one; the player and the full-screen request are made inside it.
void startShow()
{
    live.started = true;
    morvane_js_start(soundtrackModule, soundtrackModuleSize);
    emscripten_request_animation_frame_loop(onAnimationFrame, nullptr);
}

EM_BOOL onKeyDown(int, const EmscriptenKeyboardEvent* event, void*)
{
    const bool escape = std::strcmp(event->key, "Escape") == 0;
    if (!live.started) {
        if (!escape)
            startShow();
        return EM_FALSE;
    }
    if (escape)
        endShow();
    else if (std::strcmp(event->code, "KeyP") == 0)
        live.paused = true;  // the picture holds while the key is down
    return EM_FALSE;
}

EM_BOOL onKeyUp(int, const EmscriptenKeyboardEvent* event, void*)
{
    if (std::strcmp(event->code, "KeyP") == 0)
        live.paused = false;
    return EM_FALSE;
}

EM_BOOL onClick(int, const EmscriptenMouseEvent*, void*)
{
    if (!live.started)
        startShow();
    return EM_FALSE;
}

} // namespace

extern "C" {

// Everything the show builds before the music starts.
EMSCRIPTEN_KEEPALIVE void morvane_prepare()
{
    prepareShow();
    webSongOpen();
    FMUSIC_SetMasterVolume(song, 240);
}

// Waits for the click or key press that starts the show.
EMSCRIPTEN_KEEPALIVE void morvane_live()
{
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onKeyDown);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onKeyUp);
    emscripten_set_click_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onClick);
}

// Draws the still at `seconds` and shows it: 0 when drawn, 1 when an
// earlier still has already passed that time, 2 when the show ends first.
EMSCRIPTEN_KEEPALIVE int morvane_still(double seconds)
{
    const StillResult result = stepToStill(seconds);
    if (result == StillResult::drawn)
        present();
    return static_cast<int>(result);
}

// The last frame presented, 640 x 320 pixels of red, green, blue, alpha.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* morvane_pixels()
{
    return canvasPixels;
}

EMSCRIPTEN_KEEPALIVE void morvane_bench()
{
    benchShow();
}

} // extern "C"
