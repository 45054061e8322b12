#include "platform/x11_loss.hpp"

// Kept to this file: Xlib's macros (None, Status, ...) clash with ordinary names.
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
