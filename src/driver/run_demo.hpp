// The whole run: preparations, initialisation, the frame loop and the end.
#pragma once

#include "platform/screen.hpp"

#include <atomic>

extern Screen screen;

// Written by the key handler on the window thread and re-read by the frame
// loop at every test; one byte each, no lock.
extern std::atomic<bool> quitRequested;
extern std::atomic<bool> paused;

// Escape asks to quit; P flips the pause on press and again on release, so
// the picture stays frozen only while P is held. Returns 0.
int onKey(int key, int down);

// Sound, song, display, timer and keyboard; false (with the reason shown)
// at the first step that fails.
bool initDemo();

// 0 after the show or an early quit, -1 when initialisation failed.
int runDemo();
