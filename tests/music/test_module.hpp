// Small but complete Extended Modules for the tests: one looped square-wave
// instrument that starts on row 0 of every pattern and sounds until the end.
#pragma once

#include <vector>

struct TestXm {
    int patterns = 2;        // played once each, in order
    int rowsPerPattern = 16;
    int speed = 6;           // ticks per row
    int bpm = 125;
};

std::vector<unsigned char> writeTestXm(const TestXm& shape);

// Frames (at 44,100 Hz) that one row of the module lasts: a tick is 2.5 / bpm s.
inline int framesPerRow(const TestXm& shape) { return 44100 * shape.speed * 5 / (2 * shape.bpm); }
