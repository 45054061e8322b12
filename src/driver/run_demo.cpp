#include "driver/run_demo.hpp"

#include "scenes/shared.hpp"
#include "driver/prepare.hpp"
#include "assets/stored_data.hpp"
#include "driver/timeline.hpp"
#include "music/music.hpp"
#include "platform/timer.hpp"
#include "platform/window.hpp"

Screen screen;
std::atomic<bool> quitRequested{false};
std::atomic<bool> paused{false};

int onKey(int key, int)
{
    if (key == 27)
        quitRequested.store(true, std::memory_order_relaxed);
    else if (key == 80)
        paused.store(!paused.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return 0;
}

bool initDemo()
{
    // Sound and song failures explain themselves on standard error.
    FSOUND_File_SetCallbacks(memOpen, memClose, memRead, memSeek, memTell);
    if (!FSOUND_Init(44100, 32, 0))
        return false;
    song = FMUSIC_LoadSong(reinterpret_cast<const char*>(soundtrackModule));
    if (!song)
        return false;
    FMUSIC_SetMasterVolume(song, 240);

    if (!screen.open(640, 480)) {
        xp_message("screen.open() failed");
        return false;
    }
    if (xp_timer_init() != 0) {
        xp_message("xp_timer_init() failed");
        return false;
    }
    if (xp_keyboard_init(onKey) != 0) {
        xp_message("xp_keyboard_init() failed");
        return false;
    }
    return true;
}

int runDemo()
{
    prepareShow();
    if (!initDemo())
        return -1;

    xp_sleep(2000);
    FMUSIC_PlaySong(song);
    xp_timer_reset();

    TimelineClock clock;
    FrameStep step;
    while (!quitRequested.load(std::memory_order_relaxed)) {
        // The picture freezes while the music plays on; the next frame's
        // time then covers the whole pause.
        while (paused.load(std::memory_order_relaxed)) {
        }
        if (!stepTimeline(clock, timeline, xp_timer_get(), step))
            break;
        drawStep(step, frame);
        screen.present(frame, frame.clipLeft, frame.clipTop, frame.clipRight, frame.clipBottom, 0.0f, 80.0f);
    }

    FMUSIC_FreeSong(song);
    FSOUND_Close();
    return 0;
}
