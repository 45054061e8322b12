// The one thing the window thread asks of Xlib itself: to hear when the
// connection to the X display breaks, instead of Xlib ending the process.
#pragma once

// Must not return: Xlib ends the process if it does. Called with the
// display's name, on the thread whose call found the connection broken.
using DisplayLossHandler = void (*)(const char* displayName);

void watchX11DisplayLoss(DisplayLossHandler handler);
