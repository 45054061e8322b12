// Which channels start or stop where a scene of the show starts, read from
// the pattern data of the module as it plays, order by order.
#pragma once

#include <libopenmpt/libopenmpt.h>

#include <vector>

// The rows one order plays, from the row the previous order's break enters
// (`first`) to its own break: per row and channel, 0 for nothing, the note
// played (libopenmpt's number, 1 to 120, C-5 is 61), -1 for a key off or a
// note cut.
struct PlayedPattern {
    int first = 0;
    int rows = 0;
    int channels = 0;
    std::vector<int> events;  // rows * channels, row-major

    int at(int row, int channel) const { return events[static_cast<std::size_t>(row * channels + channel)]; }
};

// The played part of every order of the song, in order.
std::vector<PlayedPattern> readPlayedOrders(openmpt_module* module);

struct ChannelChanges {
    std::vector<int> started;  // a note on the first row; nothing in the bar before
    std::vector<int> stopped;  // notes in the bar before; cut on the first row or silent for a bar
};

// Compares the first row (and bar) of `at` with the last `barRows` rows of `before`.
ChannelChanges channelChanges(const PlayedPattern& before, const PlayedPattern& at, int barRows);
