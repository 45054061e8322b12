// Reads a video file back through libavformat and libavcodec, the way a
// player would, and keeps what the tests look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedVideo {
    std::string error;  // empty when the whole file decoded
    std::string videoCodec;
    std::string audioCodec;
    int videoStreams = 0;
    int audioStreams = 0;
    int width = 0;
    int height = 0;
    std::string pixelFormat;
    long long videoFrames = 0;
    double videoSeconds = 0.0;  // from the first frame's start to the last one's end
    int sampleRate = 0;
    long long audioSamples = 0;  // as the decoder gives them, priming skipped
    double audioSeconds = 0.0;   // as long as a player plays it
    double audioRms = 0.0;             // both channels, full scale 1
    std::vector<std::uint8_t> keptRgb;  // the frame asked for, RGB, width x height
};

// Decodes every frame; keeps frame number keepFrame (from 0) as RGB.
DecodedVideo decodeVideo(const std::string& path, long long keepFrame);
