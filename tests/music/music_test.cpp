#include "music/music.hpp"
#include "test_module.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

// Loads the first `size` bytes through the memory-stream callbacks, as the demo does.
Song* load(const std::vector<unsigned char>& bytes, std::size_t size = SIZE_MAX)
{
    EXPECT_TRUE(memRegister(bytes.data(), bytes.data(), std::min(size, bytes.size())));
    FSOUND_File_SetCallbacks(memOpen, memClose, memRead, memSeek, memTell);
    return FMUSIC_LoadSong(reinterpret_cast<const char*>(bytes.data()));
}

float peak(const std::vector<float>& samples)
{
    return std::fabs(*std::max_element(samples.begin(), samples.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
}

TEST(Music, LoadFailuresSayWhy)
{
    static const std::vector<unsigned char> garbage(3000, 0x5a);
    testing::internal::CaptureStderr();
    EXPECT_EQ(load(garbage, 0), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("empty"), std::string::npos);
    testing::internal::CaptureStderr();
    EXPECT_EQ(load(garbage), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot be loaded"), std::string::npos);
}

TEST(Music, OfflineRowsFollowThePatternsAndTheSongEndsOnce)
{
    const TestXm shape;  // two patterns of 16 rows
    static const std::vector<unsigned char> bytes = writeTestXm(shape);
    Song* played = load(bytes);
    ASSERT_TRUE(FMUSIC_PlaySongOffline(played));
    const int rowFrames = framesPerRow(shape);
    std::vector<float> audio(static_cast<std::size_t>(rowFrames) * 2);
    float loudest = 0.0f;
    // Half a row, then one frame to read the row heard there, then the rest.
    for (int k = 0; k < 2 * shape.rowsPerPattern; ++k) {
        for (int frames : {rowFrames / 2, 1, rowFrames - rowFrames / 2 - 1}) {
            ASSERT_EQ(FMUSIC_RenderOffline(played, audio.data(), frames), frames);
            if (frames == 1) {
                EXPECT_EQ(FMUSIC_GetRow(played), k % shape.rowsPerPattern) << "row " << k;
            }
        }
        loudest = std::max(loudest, peak(audio));
    }
    EXPECT_GT(loudest, 0.05f);
    int tail = 0;
    while (const int got = FMUSIC_RenderOffline(played, audio.data(), 256)) {
        tail += got;
        ASSERT_LT(tail, rowFrames) << "the song plays once";
    }
    FMUSIC_FreeSong(played);
}

TEST(Music, MasterVolumeScalesLinearlyWithin0To256)
{
    static const std::vector<unsigned char> bytes = writeTestXm({});
    const int volumes[5] = {256, 128, 0, 240, 1000};
    std::vector<float> out[5];
    for (int i = 0; i < 5; ++i) {
        Song* s = load(bytes);
        FMUSIC_PlaySongOffline(s);
        ASSERT_TRUE(FMUSIC_SetMasterVolume(s, volumes[i]));
        out[i].resize(4096 * 2);
        ASSERT_EQ(FMUSIC_RenderOffline(s, out[i].data(), 4096), 4096);
        FMUSIC_FreeSong(s);
    }
    ASSERT_GT(peak(out[0]), 0.05f);
    for (std::size_t s = 0; s < out[0].size(); ++s) {
        ASSERT_EQ(out[1][s], out[0][s] * 0.5f);
        ASSERT_EQ(out[2][s], 0.0f);
        ASSERT_FLOAT_EQ(out[3][s], out[0][s] * 240.0f / 256.0f);
        ASSERT_EQ(out[4][s], out[0][s]);
    }
}

// Live playback through SDL's file-writing audio driver: no sound hardware
// needed. The row advances while the main thread reads it; freeing the
// global song stops it and forgets it.
TEST(Music, LivePlaysInTheBackgroundOnceSoundIsOpen)
{
    char path[] = "/tmp/morvane_music_XXXXXX";
    ASSERT_GE(mkstemp(path), 0);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path, 1);
    TestXm shape;
    shape.bpm = 250;  // rows of 60 ms
    static const std::vector<unsigned char> bytes = writeTestXm(shape);
    song = load(bytes);
    ASSERT_NE(song, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(FMUSIC_PlaySong(song));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not initialised"), std::string::npos);
    testing::internal::CaptureStderr();  // the disk driver announces itself
    const bool ready = FSOUND_Init(44100, 32, 0);
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ready);
    ASSERT_TRUE(FMUSIC_PlaySong(song));

    int distinctRows = 0;
    for (int i = 0, last = -1; i < 60; ++i) {
        const int row = FMUSIC_GetRow(song);
        ASSERT_TRUE(row >= 0 && row < shape.rowsPerPattern) << row;
        distinctRows += row != last;
        last = row;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(distinctRows, 3);
    EXPECT_TRUE(FMUSIC_FreeSong(song));
    EXPECT_EQ(song, nullptr);
    FSOUND_Close();

    std::ifstream file(path, std::ios::binary);
    const std::vector<char> written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::remove(path);
    EXPECT_GT(std::count_if(written.begin(), written.end(), [](char c) { return c != 0; }), 1000)
        << "the output is silent";
}

} // namespace
