// The demo's one full-screen window, the thread that owns it, the keyboard
// callback and the message box.
//
// The window thread makes every windowing call. Key presses and releases
// reach the handler from that thread; a close request (window manager close,
// a held Escape) ends the whole process at once with exit code 0, right
// after the display is closed. When the connection to the display breaks,
// the window thread says so once on standard error and stops for good;
// xp_window_lost tells the main thread, which ends the run.
#pragma once

// Key handler: key code (Escape 27, letters as upper-case codes, digits as
// their characters) and 1 for a press, 0 for a release. The result is unused.
using XpKeyHandler = int (*)(int key, int down);

// Before the window is made: true plays the show in a resizable 4:3 window
// on the desktop instead of on the whole screen.
void xp_window_set_windowed(bool on);

int xp_window_create();     // 1 when the window exists, 0 when it cannot be made
// Closes the display and the window; run at process exit. After a lost
// display it ends the process at once with exit code 1.
void xp_window_shutdown();
int xp_keyboard_init(XpKeyHandler handler);  // 0, or -1 when there is no window
bool xp_window_lost();                       // the display connection has broken
void xp_message(const char* text);           // blocks until dismissed
