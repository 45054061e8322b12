// A minimal writer for FastTracker 2 Extended Modules (XM): the header, packed
// patterns and instruments with one 16-bit sample each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One cell of a pattern. `note` 0 is empty, 1..96 are C-0..B-7, 97 is key off;
// `volume` is the raw volume-column byte (0 = empty, 0x10 + v sets volume v).
struct XmCell {
    std::uint8_t note = 0;
    std::uint8_t instrument = 0;
    std::uint8_t volume = 0;
    std::uint8_t effect = 0;
    std::uint8_t param = 0;
};

struct XmPattern {
    int rows = 64;
    int channels = 0;
    std::vector<XmCell> cells;  // rows * channels, row-major

    XmPattern(int rowCount, int channelCount)
        : rows(rowCount), channels(channelCount), cells(static_cast<std::size_t>(rowCount * channelCount)) {}
    XmCell& at(int row, int channel) { return cells[static_cast<std::size_t>(row * channels + channel)]; }
    const XmCell& at(int row, int channel) const { return cells[static_cast<std::size_t>(row * channels + channel)]; }
};

struct XmEnvelopePoint {
    std::uint16_t tick = 0;
    std::uint16_t value = 0;  // 0..64
};

// Volume or panning envelope; at most 12 points. Indices of -1 are unused.
struct XmEnvelope {
    std::vector<XmEnvelopePoint> points;
    int sustain = -1;
    int loopStart = -1;
    int loopEnd = -1;
};

struct XmSample {
    std::vector<std::int16_t> data;
    int loopStart = 0;   // in sample frames
    int loopLength = 0;  // 0: no loop
    std::uint8_t volume = 64;
    std::int8_t finetune = 0;  // 1/128 semitone
    std::uint8_t panning = 128;
    std::int8_t relativeNote = 0;
};

struct XmInstrument {
    std::string name;
    XmSample sample;
    XmEnvelope volumeEnvelope;
    XmEnvelope panningEnvelope;
    std::uint8_t vibratoType = 0;
    std::uint8_t vibratoSweep = 0;
    std::uint8_t vibratoDepth = 0;
    std::uint8_t vibratoRate = 0;
    std::uint16_t fadeout = 0;
};

struct XmModule {
    std::string name;  // at most 20 characters
    int channels = 0;
    int restartPosition = 0;
    int speed = 6;
    int bpm = 125;
    bool linearFrequencies = true;
    std::vector<std::uint8_t> orders;
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
};

// Serialises the module; throws std::invalid_argument if it cannot be
// represented (too many orders, points, oversized pattern data and so on).
std::vector<std::uint8_t> writeXm(const XmModule& module);
