// Writes small but complete Extended Modules in memory for the tests: one
// looped square-wave instrument that starts on row 0 of every pattern and
// sounds until the song ends.
#pragma once

#include <vector>

struct TestXm {
    int channels = 2;
    int patterns = 2;        // played once each, in order
    int rowsPerPattern = 16;
    int restart = 0;         // order the song loops back to
    int speed = 6;           // ticks per row
    int bpm = 125;
};

std::vector<unsigned char> writeTestXm(const TestXm& shape);

// Frames (at 44,100 Hz) that one row of the module lasts.
int framesPerRow(const TestXm& shape);
