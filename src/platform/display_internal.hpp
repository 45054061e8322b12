// What the window thread and the display surface tell each other.
#pragma once

// Window side (window.cpp), called from the main thread.
bool windowExists();
int windowOpenPicture(int width, int height, int depth);  // makes the texture; 0 or -1
void windowClosePicture();  // once it returns, the window thread no longer reads the surface
void windowWake();          // a new picture is ready

// Surface side (display.cpp), called from the window thread: takes the latest
// unlocked picture if it is newer than the one taken before, else null. The
// picture stays untouched until the next take.
const unsigned char* displayTakeLatest(int* pitch);
