#include "driver/wav_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

constexpr int sampleRate = 44100;
constexpr int channels = 2;
constexpr unsigned long long bytesPerFrame = channels * 2;
constexpr std::size_t headerBytes = 44;

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

// Keeps the first failure, with the system's reason when there is one.
bool WavWriter::fail(const char* what)
{
    if (firstError.empty())
        firstError = std::string(what) + " " + path + (errno ? std::string(": ") + std::strerror(errno) : "");
    return false;
}

bool WavWriter::open(const std::string& name, long long frames, std::string& error)
{
    path = name;
    if (frames < 0 || static_cast<unsigned long long>(frames) * bytesPerFrame > 0xFFFFFFFFull - 36) {
        error = "the audio is too long for a WAV file";
        return false;
    }
    announcedBytes = static_cast<unsigned long long>(frames) * bytesPerFrame;
    errno = 0;
    file = std::fopen(name.c_str(), "wb");
    if (!file) {
        error = "cannot open " + name + " for writing: " + std::strerror(errno);
        return false;
    }
    unsigned char h[headerBytes];
    header(h, static_cast<std::uint32_t>(announcedBytes));
    // Flushed at once, so that a file that cannot take anything (a full
    // disk) says so before the show is drawn.
    errno = 0;
    if (std::fwrite(h, 1, sizeof h, file) != sizeof h || std::fflush(file) != 0) {
        fail("cannot write");
        close(error);
        return false;
    }
    return true;
}

bool WavWriter::write(const float* interleaved, int frames)
{
    if (!file || !firstError.empty())
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
        if (dataBytes + 2ull * n > announcedBytes) {
            errno = 0;
            return fail("more audio than announced for");
        }
        errno = 0;
        if (std::fwrite(block, 2, static_cast<std::size_t>(n), file) != static_cast<std::size_t>(n))
            return fail("cannot write");
        dataBytes += 2ull * n;
        done += n;
    }
    return true;
}

bool WavWriter::close(std::string& error)
{
    if (!file)
        return firstError.empty();
    if (firstError.empty() && dataBytes != announcedBytes) {
        errno = 0;
        fail("less audio than announced for");
    }
    errno = 0;
    if (std::fclose(file) != 0)
        fail("cannot write");
    file = nullptr;
    if (firstError.empty())
        return true;
    error = firstError;
    // A short regular file would claim a length it does not have; pipes and
    // devices are left alone.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored))
        std::filesystem::remove(path, ignored);
    return false;
}
