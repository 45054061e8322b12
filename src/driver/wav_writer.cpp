#include "driver/wav_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr int sampleRate = 44100;
constexpr int channels = 2;

void put16(unsigned char* p, std::uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, std::uint32_t v)
{
    put16(p, static_cast<std::uint16_t>(v));
    put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

void header(unsigned char* h, std::uint32_t dataBytes)
{
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);  // PCM
    put16(h + 22, channels);
    put32(h + 24, sampleRate);
    put32(h + 28, sampleRate * channels * 2);
    put16(h + 32, channels * 2);
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
}

} // namespace

WavWriter::~WavWriter()
{
    if (file)
        std::fclose(file);
}

bool WavWriter::open(const std::string& name, std::string& error)
{
    path = name;
    file = std::fopen(name.c_str(), "wb");
    if (!file) {
        error = "cannot open " + name + " for writing: " + std::strerror(errno);
        return false;
    }
    unsigned char h[44];
    header(h, 0);
    failed = std::fwrite(h, 1, sizeof h, file) != sizeof h;
    return true;
}

bool WavWriter::write(const float* interleaved, int frames)
{
    if (!file || failed)
        return false;
    unsigned char block[4096 * 2];
    int done = 0;
    const int total = frames * channels;
    while (done < total) {
        const int n = std::min(total - done, 4096);
        for (int s = 0; s < n; ++s) {
            const float v = std::clamp(interleaved[done + s], -1.0f, 1.0f);
            put16(block + 2 * s, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lrint(v * 32767.0f))));
        }
        if (std::fwrite(block, 2, static_cast<std::size_t>(n), file) != static_cast<std::size_t>(n)) {
            failed = true;
            return false;
        }
        dataBytes += 2ull * n;
        done += n;
    }
    return true;
}

bool WavWriter::close(std::string& error)
{
    if (!file)
        return true;
    bool ok = !failed && dataBytes <= 0xFFFFFFFFull - 36;
    if (ok) {
        unsigned char h[44];
        header(h, static_cast<std::uint32_t>(dataBytes));
        ok = std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, file) == sizeof h;
    }
    ok = std::fclose(file) == 0 && ok;
    file = nullptr;
    if (!ok)
        error = "cannot write " + path;
    return ok;
}
