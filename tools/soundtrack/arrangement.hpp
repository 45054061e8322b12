// The soundtrack's score: 17 patterns and the 23-order song that follows the
// show's timeline.
#pragma once

#include "soundtrack/xm_writer.hpp"

#include <cstdint>
#include <vector>

constexpr int soundtrackChannels = 22;

struct Score {
    std::vector<XmPattern> patterns;
    std::vector<std::uint8_t> orders;
    int restartPosition = 0;
};

Score composeScore();
