// The soundtrack's synthesised samples, straight from the generator.
#include "soundtrack/instruments.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Level in dB of `frames` frames of the loop from `offset` on, wrapping round
// the loop as a player does.
double loopWindowDb(const XmSample& s, int offset, int frames) {
    double sum = 0.0;
    for (int i = 0; i < frames; ++i) {
        const double v = s.data[static_cast<std::size_t>(s.loopStart + (offset + i) % s.loopLength)];
        sum += v * v;
    }
    return 10.0 * std::log10(sum / frames);
}

// The crash and riser loop noise; a plain crossfade at the loop's seam adds
// two uncorrelated halves by amplitude and dips the level once per loop, a
// flutter. Every stretch of the loop, the seam included, keeps the level.
TEST(SoundtrackInstruments, NoiseLoopsKeepTheirLevelAcrossTheSeam) {
    const std::vector<XmInstrument> instruments = makeInstruments();
    for (int number : {Crash, Riser}) {
        const XmSample& s = instruments[static_cast<std::size_t>(number - 1)].sample;
        ASSERT_GT(s.loopLength, 0) << instruments[static_cast<std::size_t>(number - 1)].name;
        const int window = s.loopLength / 4;
        const double whole = loopWindowDb(s, 0, s.loopLength);
        double low = 1e9, high = -1e9;
        for (int at = 0; at < s.loopLength; at += window / 8) {
            low = std::min(low, loopWindowDb(s, at, window) - whole);
            high = std::max(high, loopWindowDb(s, at, window) - whole);
        }
        std::printf("%s: windows of the loop from %.2f to %+.2f dB\n",
                    instruments[static_cast<std::size_t>(number - 1)].name.c_str(), low, high);
        EXPECT_GT(low, -1.0) << instruments[static_cast<std::size_t>(number - 1)].name;
        EXPECT_LT(high, 1.0) << instruments[static_cast<std::size_t>(number - 1)].name;
    }
}

}  // namespace
