// Sound output: one stereo device whose callback fills interleaved float
// frames on the device's own thread.
#pragma once

using XpAudioCallback = void (*)(void* user, float* interleavedStereo, int frames);

// Opens the device at the rate and starts it; 0, or -1 with xp_audio_error set.
int xp_audio_open(int rate, XpAudioCallback callback, void* user);
// Stops the device; once it returns the callback is not running and never runs again.
void xp_audio_close();
const char* xp_audio_error();  // why the last open failed
