#include "music/music.hpp"

#include "platform/audio.hpp"

#include <libopenmpt/libopenmpt.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <mutex>
#include <new>

struct Song {
    openmpt_module* module = nullptr;
    std::atomic<int> row{0};
    std::atomic<int> volume{256};
};

Song* song = nullptr;

namespace {

constexpr int sampleRate = 44100;

struct FileCallbacks {
    FSOUND_OPENCALLBACK open = memOpen;
    FSOUND_CLOSECALLBACK close = memClose;
    FSOUND_READCALLBACK read = memRead;
    FSOUND_SEEKCALLBACK seek = memSeek;
    FSOUND_TELLCALLBACK tell = memTell;
};
FileCallbacks callbacks;

// The song the device plays. The device callback holds the lock while it
// renders, so freeing a song waits for the block in progress and no more.
std::mutex playingMutex;
Song* playing = nullptr;
bool deviceOpen = false;

std::size_t streamRead(void* stream, void* dst, std::size_t bytes)
{
    const int size = bytes > INT_MAX ? INT_MAX : static_cast<int>(bytes);
    const int got = callbacks.read(dst, size, stream);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

int streamSeek(void* stream, std::int64_t offset, int whence)
{
    if (offset < INT_MIN || offset > INT_MAX)
        return -1;
    return callbacks.seek(stream, static_cast<int>(offset), static_cast<signed char>(whence)) ? 0 : -1;
}

std::int64_t streamTell(void* stream)
{
    return callbacks.tell(stream);
}

// Renders the next frames, scaled by the master volume; the row is the one
// at the start of the block, which is what the listener hears next.
int render(Song& target, float* out, int frames)
{
    target.row.store(openmpt_module_get_current_row(target.module), std::memory_order_relaxed);
    const int done = static_cast<int>(
        openmpt_module_read_interleaved_float_stereo(target.module, sampleRate, static_cast<std::size_t>(frames), out));
    const float gain = static_cast<float>(target.volume.load(std::memory_order_relaxed)) / 256.0f;
    for (int i = 0; i < done * 2; ++i)
        out[i] *= gain;
    return done;
}

void deviceCallback(void*, float* out, int frames)
{
    int done = 0;
    {
        std::lock_guard<std::mutex> lock(playingMutex);
        if (playing)
            done = render(*playing, out, frames);
    }
    for (int i = done * 2; i < frames * 2; ++i)
        out[i] = 0.0f;
}

} // namespace

void FSOUND_File_SetCallbacks(FSOUND_OPENCALLBACK open, FSOUND_CLOSECALLBACK close, FSOUND_READCALLBACK read,
                              FSOUND_SEEKCALLBACK seek, FSOUND_TELLCALLBACK tell)
{
    callbacks = {open, close, read, seek, tell};
}

bool FSOUND_Init(int mixRate, int, unsigned)
{
    if (deviceOpen)
        return true;
    if (mixRate != sampleRate) {
        std::fprintf(stderr, "FSOUND_Init: only %d Hz is supported, not %d\n", sampleRate, mixRate);
        return false;
    }
    if (xp_audio_open(mixRate, deviceCallback, nullptr) != 0) {
        std::fprintf(stderr, "FSOUND_Init: %s\n", xp_audio_error());
        return false;
    }
    deviceOpen = true;
    return true;
}

void FSOUND_Close()
{
    xp_audio_close();
    deviceOpen = false;
    std::lock_guard<std::mutex> lock(playingMutex);
    playing = nullptr;
}

Song* FMUSIC_LoadSong(const char* name)
{
    if (!callbacks.open || !callbacks.close || !callbacks.read || !callbacks.seek || !callbacks.tell) {
        std::fprintf(stderr, "FMUSIC_LoadSong: the file callbacks are not set\n");
        return nullptr;
    }
    void* stream = callbacks.open(name);
    if (!stream) {
        std::fprintf(stderr, "FMUSIC_LoadSong: the module cannot be opened\n");
        return nullptr;
    }
    // An empty block is told apart from a damaged one.
    const bool empty = callbacks.seek(stream, 0, 2) && callbacks.tell(stream) == 0;
    callbacks.seek(stream, 0, 0);
    if (empty) {
        callbacks.close(stream);
        std::fprintf(stderr, "FMUSIC_LoadSong: the module is empty\n");
        return nullptr;
    }

    const openmpt_stream_callbacks streamCallbacks = {streamRead, streamSeek, streamTell};
    int error = 0;
    const char* errorMessage = nullptr;
    openmpt_module* module = openmpt_module_create2(streamCallbacks, stream, openmpt_log_func_silent, nullptr,
                                                    openmpt_error_func_store, nullptr, &error, &errorMessage,
                                                    nullptr);
    callbacks.close(stream);  // the module keeps its own copy of everything it needs
    if (!module) {
        std::fprintf(stderr, "FMUSIC_LoadSong: the module cannot be loaded: %s\n",
                     errorMessage ? errorMessage : "unknown format");
        openmpt_free_string(errorMessage);
        return nullptr;
    }
    openmpt_free_string(errorMessage);

    Song* loaded = new (std::nothrow) Song;
    if (!loaded) {
        openmpt_module_destroy(module);
        std::fprintf(stderr, "FMUSIC_LoadSong: out of memory\n");
        return nullptr;
    }
    loaded->module = module;
    return loaded;
}

bool FMUSIC_PlaySong(Song* target)
{
    if (!target)
        return false;
    if (!deviceOpen) {
        std::fprintf(stderr, "FMUSIC_PlaySong: sound is not initialised\n");
        return false;
    }
    // Played on the device the song loops, from its restart position.
    openmpt_module_set_repeat_count(target->module, -1);
    std::lock_guard<std::mutex> lock(playingMutex);
    playing = target;
    return true;
}

bool FMUSIC_PlaySongOffline(Song* target)
{
    if (!target)
        return false;
    // The caller renders exactly the show's length; the song ends once.
    openmpt_module_set_repeat_count(target->module, 0);
    return true;
}

int FMUSIC_RenderOffline(Song* target, float* interleavedStereo, int frames)
{
    if (!target || !interleavedStereo || frames <= 0)
        return 0;
    return render(*target, interleavedStereo, frames);
}

bool FMUSIC_FreeSong(Song* target)
{
    if (!target)
        return false;
    {
        std::lock_guard<std::mutex> lock(playingMutex);
        if (playing == target)
            playing = nullptr;
    }
    openmpt_module_destroy(target->module);
    delete target;
    if (song == target)
        song = nullptr;
    return true;
}

int FMUSIC_GetRow(Song* target)
{
    return target ? target->row.load(std::memory_order_relaxed) : 0;
}

bool FMUSIC_SetMasterVolume(Song* target, int volume)
{
    if (!target)
        return false;
    target->volume.store(volume < 0 ? 0 : volume > 256 ? 256 : volume, std::memory_order_relaxed);
    return true;
}
