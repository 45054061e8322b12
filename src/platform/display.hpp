// The 640 x 480 display surface and its hand-over to the window thread.
//
// The surface is a small ring of pixel buffers. The main thread writes one
// (between xp_screen_lock and xp_screen_unlock); unlocking publishes it as
// the latest picture, and the window thread takes the latest one whenever it
// shows a picture. Neither thread ever waits for the other, and a picture is
// always shown whole.
#pragma once

int xp_screen_open(int width, int height, int depth, int backBuffers);  // 0 or -1
void xp_screen_close();
int xp_screen_lock(unsigned char** pixels, int* pitch);  // 0 or -1
int xp_screen_unlock();                                   // 0 or -1

// Test hooks. With memory surfaces on, xp_screen_open makes the surface
// without a window. A refused depth (0: none) makes xp_screen_open fail for
// it, so that the other layout can be tried. xp_screen_last_picture returns
// the picture unlocked last (null while closed).
void xp_screen_use_memory_surfaces(bool on);
void xp_screen_refuse_depth(int depth);
const unsigned char* xp_screen_last_picture(int* pitch);
