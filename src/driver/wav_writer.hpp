// Streams 44,100 Hz stereo audio into a 16-bit PCM WAV file whose length is
// known in advance: the final header goes first and the file is written
// front to back without a seek, so a pipe or a terminal device will do.
#pragma once

#include <cstdio>
#include <string>

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Writes the header for exactly `frames` stereo frames.
    bool open(const std::string& path, long long frames, std::string& error);
    // Interleaved stereo floats in -1..1, clipped to 16 bits.
    bool write(const float* interleaved, int frames);
    // Checks that the announced length was written and closes the file.
    // On any failure, here or before, error says why, and a regular file
    // that was written is removed rather than left short.
    bool close(std::string& error);

private:
    bool fail(const char* what);

    std::FILE* file = nullptr;
    std::string path;
    unsigned long long dataBytes = 0;
    unsigned long long announcedBytes = 0;
    std::string firstError;
};
