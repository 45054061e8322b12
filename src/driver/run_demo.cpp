#include "driver/run_demo.hpp"

#include "scenes/shared.hpp"
#include "driver/prepare.hpp"
#include "assets/stored_data.hpp"
#include "driver/timeline.hpp"
#include "music/music.hpp"
#include "platform/quit_signals.hpp"
#include "platform/timer.hpp"
#include "platform/window.hpp"

#include <cstdio>
#include <cstdlib>

Screen screen;
std::atomic<bool> quitRequested{false};
std::atomic<bool> paused{false};
std::atomic<bool> stopRequested{false};

namespace {

// Set once the main thread tests stopRequested often (from the start-up wait
// on); before that a quit signal ends the process itself.
std::atomic<bool> stopPolled{false};

bool mustStop()
{
    return stopRequested.load() || xp_window_lost();
}

// The pause before the music starts, cut short by anything that ends the show.
void waitBeforeShow()
{
    const double end = xp_timer_get() + 2.0;
    while (!quitRequested.load(std::memory_order_relaxed) && !mustStop() && xp_timer_get() < end)
        xp_sleep(5);
}

} // namespace

int onKey(int key, int down)
{
    if (key == 27)
        quitRequested.store(true, std::memory_order_relaxed);
    else if (key == 80)
        paused.store(down != 0, std::memory_order_relaxed);
    return 0;
}

void onQuitSignal()
{
    stopRequested.store(true);
    quitRequested.store(true);
    // The preparations and the initialisation run straight through without
    // looking at the flags, and hold nothing that needs releasing.
    if (!stopPolled.load()) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
    // The main thread leaves within a frame; should it not (a release that
    // hangs), the signal still ends the process.
    xp_sleep(1000);
    std::fflush(nullptr);
    std::_Exit(0);
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
    // First, so that a signal ends every phase of the run.
    xp_quit_signals_init(onQuitSignal);
    prepareShow();
    if (!initDemo())
        return -1;

    stopPolled.store(true);
    waitBeforeShow();
    if (!quitRequested.load(std::memory_order_relaxed) && !mustStop()) {
        FMUSIC_PlaySong(song);
        xp_timer_reset();

        TimelineClock clock;
        FrameStep step;
        while (!quitRequested.load(std::memory_order_relaxed)) {
            // The picture freezes while the music plays on; the next frame's
            // time then covers the whole pause. A quit signal or a lost
            // display ends even a pause.
            while (paused.load(std::memory_order_relaxed) && !mustStop()) {
            }
            if (mustStop() || !stepTimeline(clock, timeline, xp_timer_get(), step))
                break;
            drawStep(step, frame);
            screen.present(frame, frame.clipLeft, frame.clipTop, frame.clipRight, frame.clipBottom, 0.0f, 80.0f);
        }
    }

    FMUSIC_FreeSong(song);
    FSOUND_Close();
    return xp_window_lost() ? 1 : 0;
}
