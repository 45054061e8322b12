// The whole run: preparations, initialisation, the frame loop and the end.
#pragma once

#include "platform/screen.hpp"

#include <atomic>

extern Screen screen;

// Written by the key handler on the window thread and re-read by the frame
// loop at every test; one byte each, no lock.
extern std::atomic<bool> quitRequested;
extern std::atomic<bool> paused;
// Set by a quit signal: unlike Escape it also ends a pause and the start-up wait.
extern std::atomic<bool> stopRequested;

// Escape asks to quit; P pauses while it is down: a press pauses, a release
// resumes, so a press the window system dropped cannot leave the picture
// frozen. Returns 0.
int onKey(int key, int down);

// SIGINT or SIGTERM, on the signal thread: ends the run with 0 in every
// phase, through the normal end of the show once the frame loop's flags are
// polled, before that at once.
void onQuitSignal();

// Sound, song, display, timer and keyboard; false (with the reason shown)
// at the first step that fails.
bool initDemo();

// 0 after the show or an early quit, -1 when initialisation failed, 1 when
// the display was lost (the music is stopped first).
int runDemo();
