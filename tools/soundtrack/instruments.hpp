// The soundtrack's 13 synthesised instruments, one 16-bit sample each.
#pragma once

#include "soundtrack/xm_writer.hpp"

#include <vector>

// Instrument numbers as the patterns use them (XM counts from 1).
enum Instrument {
    Kick = 1,
    Snare,
    ClosedHat,
    OpenHat,
    Crash,
    Bass,
    Pad,
    Lead,
    Pluck,
    Bell,
    Riser,
    Keys,
    Tom,
    InstrumentCount = Tom
};

// Pitched instruments sound the written note (XM C-4 is middle C); drums
// play their recording unchanged at C-4.
std::vector<XmInstrument> makeInstruments();
