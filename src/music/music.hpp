// Playback of the embedded soundtrack: the module is read from memory through
// five file callbacks, played in the background on the sound device, and
// asked for its current row and master volume while it plays. An offline mode
// plays the same song in step with a caller that pulls the audio itself.
#pragma once

#include <cstddef>

struct Song;        // a loaded module and its player state
extern Song* song;  // the program-wide song, null until loaded

// The file callbacks and their registration. A "name" is the address of a
// block of bytes in memory.
using FSOUND_OPENCALLBACK = void* (*)(const char* name);
using FSOUND_CLOSECALLBACK = void (*)(void* handle);
using FSOUND_READCALLBACK = int (*)(void* buffer, int size, void* handle);
using FSOUND_SEEKCALLBACK = int (*)(void* handle, int position, signed char mode);
using FSOUND_TELLCALLBACK = int (*)(void* handle);
void FSOUND_File_SetCallbacks(FSOUND_OPENCALLBACK, FSOUND_CLOSECALLBACK, FSOUND_READCALLBACK,
                              FSOUND_SEEKCALLBACK, FSOUND_TELLCALLBACK);

// Memory streams over the stored module. memOpen serves only blocks whose
// length it knows (the soundtrack, or one given to memRegister), and every
// read and seek stays inside the block: a seek outside it fails (returns 0,
// position unchanged), a read at the end returns 0 bytes. Seek modes: 0 from
// the start, 1 from the current position, 2 from the end; success returns 1.
void* memOpen(const char* name);
void memClose(void* handle);
int memRead(void* buffer, int size, void* handle);
int memSeek(void* handle, int position, signed char mode);
int memTell(void* handle);  // -1 for a null handle
// Makes memOpen(name) serve `size` bytes at `bytes` (again registering a
// name replaces it). Returns false when the table of 16 names is full.
bool memRegister(const void* name, const unsigned char* bytes, std::size_t size);

bool FSOUND_Init(int mixRate, int maxChannels, unsigned flags);  // opens the device (stereo)
void FSOUND_Close();
Song* FMUSIC_LoadSong(const char* name);  // null, with a reason on standard error, on failure
bool FMUSIC_PlaySong(Song* song);         // background playback on the device, looping
bool FMUSIC_FreeSong(Song* song);         // stops at once and frees
int FMUSIC_GetRow(Song* song);            // row within the pattern being heard; any thread
bool FMUSIC_SetMasterVolume(Song* song, int volume);  // 0..256 scales the output linearly

// Offline mode: no device. FMUSIC_GetRow and FMUSIC_SetMasterVolume behave as live.
bool FMUSIC_PlaySongOffline(Song* song);
// Renders up to `frames` stereo frames at 44,100 Hz; returns the frames
// written, 0 once the song has ended.
int FMUSIC_RenderOffline(Song* song, float* interleavedStereo, int frames);
