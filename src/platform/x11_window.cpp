#include "platform/x11_window.hpp"

// Kept to this file: Xlib's macros (None, Status, ...) clash with ordinary names.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstdlib>

namespace {

DisplayLossHandler lossHandler = nullptr;

int onIOError(Display* display)
{
    if (lossHandler)
        lossHandler(display ? XDisplayString(display) : "");
    std::_Exit(1);
}

} // namespace

void watchX11DisplayLoss(DisplayLossHandler handler)
{
    lossHandler = handler;
    XSetIOErrorHandler(onIOError);
}

void unmapX11Window(SDL_Window* window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    XUnmapWindow(info.info.x11.display, info.info.x11.window);
    XSync(info.info.x11.display, False);
}
