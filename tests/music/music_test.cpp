#include "music/music.hpp"
#include "test_module.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* registered(const std::vector<unsigned char>& bytes)
{
    EXPECT_TRUE(memRegister(bytes.data(), bytes.data(), bytes.size()));
    return reinterpret_cast<const char*>(bytes.data());
}

Song* load(const std::vector<unsigned char>& bytes)
{
    FSOUND_File_SetCallbacks(memOpen, memClose, memRead, memSeek, memTell);
    return FMUSIC_LoadSong(registered(bytes));
}

float peak(const std::vector<float>& samples)
{
    float most = 0.0f;
    for (float s : samples)
        most = std::max(most, std::fabs(s));
    return most;
}

TEST(MusicLoad, FailuresSayWhyAndReturnNull)
{
    static const std::vector<unsigned char> empty(1, 0);
    memRegister(empty.data(), empty.data(), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(FMUSIC_LoadSong(reinterpret_cast<const char*>(empty.data())), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("empty"), std::string::npos);

    static const std::vector<unsigned char> garbage(3000, 0x5a);
    testing::internal::CaptureStderr();
    EXPECT_EQ(load(garbage), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FMUSIC_LoadSong"), std::string::npos);

    // A module cut short must not be read past its end either.
    static std::vector<unsigned char> cut = writeTestXm(TestXm{});
    cut.resize(cut.size() / 2);
    testing::internal::CaptureStderr();
    Song* partial = load(cut);
    testing::internal::GetCapturedStderr();
    FMUSIC_FreeSong(partial);
}

TEST(MusicOffline, RowsFollowThePatternsAndTheSongEnds)
{
    const TestXm shape;  // two patterns of 16 rows
    static const std::vector<unsigned char> bytes = writeTestXm(shape);
    Song* played = load(bytes);
    ASSERT_NE(played, nullptr);
    ASSERT_TRUE(FMUSIC_PlaySongOffline(played));

    const int rowFrames = framesPerRow(shape);
    std::vector<float> audio(static_cast<std::size_t>(rowFrames) * 2);
    std::vector<int> rows;
    float loudest = 0.0f;
    // Render half a row, then one frame more to read the row heard there;
    // then the rest of the row.
    for (int k = 0; k < 2 * shape.rowsPerPattern; ++k) {
        ASSERT_EQ(FMUSIC_RenderOffline(played, audio.data(), rowFrames / 2), rowFrames / 2);
        loudest = std::max(loudest, peak(audio));
        ASSERT_EQ(FMUSIC_RenderOffline(played, audio.data(), 1), 1);
        rows.push_back(FMUSIC_GetRow(played));
        ASSERT_EQ(FMUSIC_RenderOffline(played, audio.data(), rowFrames - rowFrames / 2 - 1),
                  rowFrames - rowFrames / 2 - 1);
    }
    for (int k = 0; k < 2 * shape.rowsPerPattern; ++k)
        EXPECT_EQ(rows[static_cast<std::size_t>(k)], k % shape.rowsPerPattern) << "row " << k;
    EXPECT_GT(loudest, 0.05f);

    int tail = 0;
    while (const int got = FMUSIC_RenderOffline(played, audio.data(), 256)) {
        tail += got;
        ASSERT_LT(tail, rowFrames) << "the song plays once";
    }
    FMUSIC_FreeSong(played);
}

TEST(MusicOffline, MasterVolumeScalesLinearly)
{
    static const std::vector<unsigned char> bytes = writeTestXm(TestXm{});
    Song* songs[4] = {load(bytes), load(bytes), load(bytes), load(bytes)};
    const int volumes[4] = {256, 128, 0, 240};
    std::vector<float> out[4];
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(songs[i], nullptr);
        FMUSIC_PlaySongOffline(songs[i]);
        ASSERT_TRUE(FMUSIC_SetMasterVolume(songs[i], volumes[i]));
        out[i].resize(4096 * 2);
        ASSERT_EQ(FMUSIC_RenderOffline(songs[i], out[i].data(), 4096), 4096);
    }
    ASSERT_GT(peak(out[0]), 0.05f);
    for (std::size_t s = 0; s < out[0].size(); ++s) {
        ASSERT_EQ(out[1][s], out[0][s] * 0.5f);
        ASSERT_EQ(out[2][s], 0.0f);
        ASSERT_FLOAT_EQ(out[3][s], out[0][s] * 240.0f / 256.0f);
    }

    // Out of range volumes are held to 0..256.
    FMUSIC_SetMasterVolume(songs[1], 1000);
    FMUSIC_SetMasterVolume(songs[0], 256);
    std::vector<float> a(512), b(512);
    FMUSIC_RenderOffline(songs[0], a.data(), 256);
    FMUSIC_RenderOffline(songs[1], b.data(), 256);
    EXPECT_EQ(a, b);
    EXPECT_FALSE(FMUSIC_SetMasterVolume(nullptr, 100));
    for (Song* s : songs)
        FMUSIC_FreeSong(s);
}

TEST(MusicOffline, FreeingTheGlobalSongForgetsIt)
{
    static const std::vector<unsigned char> bytes = writeTestXm(TestXm{});
    song = load(bytes);
    ASSERT_NE(song, nullptr);
    EXPECT_TRUE(FMUSIC_FreeSong(song));
    EXPECT_EQ(song, nullptr);
    EXPECT_FALSE(FMUSIC_FreeSong(nullptr));
    EXPECT_EQ(FMUSIC_GetRow(nullptr), 0);
}

// Live playback through SDL's file-writing audio driver: no sound hardware
// needed. The row advances while the main thread reads it, and freeing the
// song while it plays silences the output at once.
TEST(MusicLive, PlaysInTheBackgroundAndStopsWhenFreed)
{
    char path[] = "/tmp/morvane_music_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path, 1);

    TestXm shape;
    shape.bpm = 250;  // rows of 60 ms
    static const std::vector<unsigned char> bytes = writeTestXm(shape);
    Song* played = load(bytes);
    ASSERT_NE(played, nullptr);
    testing::internal::CaptureStderr();  // the disk driver announces itself
    const bool ready = FSOUND_Init(44100, 32, 0);
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ready);
    ASSERT_TRUE(FMUSIC_PlaySong(played));

    int distinctRows = 0;
    int last = -1;
    for (int i = 0; i < 60; ++i) {
        const int row = FMUSIC_GetRow(played);
        EXPECT_GE(row, 0);
        EXPECT_LT(row, shape.rowsPerPattern);
        if (row != last)
            ++distinctRows;
        last = row;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(distinctRows, 3);
    EXPECT_TRUE(FMUSIC_FreeSong(played));
    FSOUND_Close();

    std::ifstream file(path, std::ios::binary);
    const std::vector<char> written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::remove(path);
    const auto nonZero = std::count_if(written.begin(), written.end(), [](char c) { return c != 0; });
    EXPECT_GT(nonZero, 1000) << "the output is not silent";
}

TEST(MusicLive, PlayingNeedsSound)
{
    static const std::vector<unsigned char> bytes = writeTestXm(TestXm{});
    Song* loaded = load(bytes);
    ASSERT_NE(loaded, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(FMUSIC_PlaySong(loaded));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not initialised"), std::string::npos);
    EXPECT_FALSE(FMUSIC_PlaySong(nullptr));
    FMUSIC_FreeSong(loaded);
}

} // namespace
