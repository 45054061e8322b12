// Streams 44,100 Hz stereo audio into a 16-bit PCM WAV file.
#pragma once

#include <cstdio>
#include <string>

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool open(const std::string& path, std::string& error);
    // Interleaved stereo floats in -1..1, clipped to 16 bits.
    bool write(const float* interleaved, int frames);
    // Fills in the sizes of the header and closes the file.
    bool close(std::string& error);

private:
    std::FILE* file = nullptr;
    std::string path;
    unsigned long long dataBytes = 0;
    bool failed = false;
};
