#include "platform/audio.hpp"

#include <SDL.h>

#include <cstdio>

namespace {

SDL_AudioDeviceID device = 0;
XpAudioCallback userCallback = nullptr;
void* userData = nullptr;
char lastError[256] = "";

void deviceCallback(void*, Uint8* stream, int length)
{
    userCallback(userData, reinterpret_cast<float*>(stream), length / static_cast<int>(2 * sizeof(float)));
}

} // namespace

int xp_audio_open(int rate, XpAudioCallback callback, void* user)
{
    if (device)
        xp_audio_close();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::snprintf(lastError, sizeof lastError, "no sound: %s", SDL_GetError());
        return -1;
    }
    userCallback = callback;
    userData = user;
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = 1024;
    wanted.callback = deviceCallback;
    SDL_AudioSpec obtained{};
    // SDL converts to whatever the hardware takes; the callback always sees
    // stereo floats at the requested rate.
    device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (!device) {
        std::snprintf(lastError, sizeof lastError, "no audio device: %s", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return -1;
    }
    SDL_PauseAudioDevice(device, 0);
    return 0;
}

void xp_audio_close()
{
    if (!device)
        return;
    SDL_CloseAudioDevice(device);
    device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

const char* xp_audio_error()
{
    return lastError;
}
