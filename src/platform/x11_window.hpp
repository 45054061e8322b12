// The two things the window thread asks of Xlib itself, below SDL.
#pragma once

struct SDL_Window;

// To hear when the connection to the X display breaks, instead of Xlib
// ending the process. The handler must not return (Xlib ends the process if
// it does); it gets the display's name, on the thread whose call found the
// connection broken.
using DisplayLossHandler = void (*)(const char* displayName);
void watchX11DisplayLoss(DisplayLossHandler handler);

// To take the window off the screen at once before it is destroyed: SDL
// first waits up to 0.1 s for a window manager to take a shown full-screen
// window out of full screen, which without one never happens. Does nothing
// for a window of another video driver.
void unmapX11Window(SDL_Window* window);
