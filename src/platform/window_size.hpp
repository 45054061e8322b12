// The size of the demo's window when it plays in a window rather than on
// the whole screen.
#pragma once

struct WindowSize {
    int width;
    int height;
};

// 1280 x 960, or the largest 4:3 size that fits the usable desktop area
// when that is smaller; 1280 x 960 when the desktop's size is unknown.
WindowSize windowedSize(int desktopWidth, int desktopHeight);
