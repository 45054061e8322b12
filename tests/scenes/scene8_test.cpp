#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "assets/stored_data.hpp"
#include "image/ops.hpp"
#include "music/music.hpp"
#include "scenes/scene1.hpp"
#include "scenes/scene8.hpp"
#include "scenes/scenes.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

using ClosingScene = SceneTest;

TEST_F(ClosingScene, OpensOnTheLitLatticeWithoutTheLogo)
{
    clearImage(frame, garbage);
    scene8(frame, 144.46f, 1.0f, 0.0f, 0.016f, 0);
    Image withoutLogo(frameWidth, frameHeight);
    std::copy_n(frame.pixels, frameWidth * frameHeight, withoutLogo.pixels);

    // The cubes stand out from the background, which is the one colour most
    // common in each row (a dark green under the row light).
    int cubePixels = 0, greenRows = 0;
    for (int y = 0; y < frameHeight; ++y) {
        std::map<std::uint32_t, int> counts;
        for (int x = 0; x < frameWidth; ++x)
            ++counts[frame.row(y)[x]];
        const auto background = std::max_element(counts.begin(), counts.end(),
                                                 [](auto& a, auto& b) { return a.second < b.second; });
        greenRows += channel(background->first, 2) < channel(background->first, 1);
        cubePixels += frameWidth - background->second;
    }
    EXPECT_GT(greenRows, frameHeight * 8 / 10) << "the ground is not green";
    EXPECT_GT(cubePixels, frameWidth * frameHeight / 20) << "too few cube pixels";

    // The same moment with the logo at full strength differs only where the
    // logo and the title are added, and only upwards.
    scene8(frame, 146.6f, 1.0f, 0.5f, 0.016f, 1);
    const int titleX = (frameWidth - titleImage.width) / 2;
    int brighter = 0;
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x) {
            const std::uint32_t a = withoutLogo.row(y)[x], b = frame.row(y)[x];
            if (!inRect(x, y, 70, logoY, 459 + logoRightWidth - 70, logoImage.height) &&
                !inRect(x, y, titleX, 280, titleImage.width, titleImage.height)) {
                ASSERT_EQ(a & 0xFFFFFF, b & 0xFFFFFF) << "pixel (" << x << ", " << y << ")";
                continue;
            }
            for (int c = 0; c < 3; ++c)
                ASSERT_GE(channel(b, c), channel(a, c));
            brighter += (a & 0xFFFFFF) != (b & 0xFFFFFF);
        }
    EXPECT_GT(brighter, 1000);
}

TEST_F(ClosingScene, FadesPictureAndMusicOutEvenOnALateFrame)
{
    FSOUND_File_SetCallbacks(memOpen, memClose, memRead, memSeek, memTell);
    song = FMUSIC_LoadSong(reinterpret_cast<const char*>(soundtrackModule));
    ASSERT_NE(song, nullptr);
    ASSERT_TRUE(FMUSIC_SetMasterVolume(song, 240));
    ASSERT_TRUE(FMUSIC_PlaySongOffline(song));
    static float audio[2 * 44100];
    const auto loudest = [&](int frames) {
        EXPECT_EQ(FMUSIC_RenderOffline(song, audio, frames), frames);
        return *std::max_element(audio, audio + 2 * frames, [](float a, float b) { return std::abs(a) < std::abs(b); });
    };
    for (const float end : {1.0f, 1.25f}) {
        scene8(frame, 164.51f, 21.05f, 0.5f, 0.016f, 2);  // half-way the music still plays
        EXPECT_NE(loudest(44100), 0.0f);
        clearImage(frame, garbage);
        scene8(frame, 168.8f, 25.34f, end, 0.016f, 2);
        EXPECT_EQ(loudest(4410), 0.0f) << end;
        int black = 0;
        for (int y = 0; y < frameHeight; ++y)
            for (int x = 0; x < frameWidth; ++x) {
                const std::uint32_t p = frame.row(y)[x];
                // Black ground; the cubes keep only the renderer's lowest lit level.
                for (int c = 0; c < 3; ++c)
                    ASSERT_LE(channel(p, c), 5) << "pixel (" << x << ", " << y << ")";
                black += (p & 0xFFFFFF) == 0;
            }
        EXPECT_GT(black, frameWidth * frameHeight / 2);
    }
    FMUSIC_FreeSong(song);
    song = nullptr;
}

TEST(CubeLattice, CubesAtOrBehindTheCameraPlaneAreSkipped)
{
    // A view that only shifts depth by 2.5: the layer k = 2 lies at view z = 0
    // exactly, k = 0 and 1 behind it, k = 3 and 4 in front.
    const Matrix view(1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 2.5f);
    const int count = collectLatticeCubes(view, 0.0f, 1.0f);
    ASSERT_EQ(count, 50);
    for (int r = 0; r < count; ++r) {
        const CubeRecord& record = cubeRecords[r];
        EXPECT_TRUE(record.position.z == 2.5f || record.position.z == 7.5f) << record.position.z;
        EXPECT_FLOAT_EQ(record.sortKey, 1.0f / (record.position.z + 2.5f));
    }
    // Generation order: i, then j, then k; the colour's blue grows with k.
    EXPECT_EQ(cubeRecords[0].colour, 0x05050Bu);
    EXPECT_EQ(cubeRecords[1].colour, 0x05050Du);
    EXPECT_EQ(cubeRecords[49].colour, 0x0D0D0Du);
}

TEST(CubeLattice, SortIsStableFarthestFirst)
{
    // A full lattice's worth of keys, many of them equal, against a stable sort.
    std::mt19937 random(7);
    std::vector<std::pair<float, Colour>> reference;
    for (int r = 0; r < 125; ++r) {
        const float key = 1.0f / (1.0f + static_cast<float>(random() % 41) * 0.37f);
        cubeRecords[r].sortKey = key;
        cubeRecords[r].colour = static_cast<Colour>(r);
        reference.emplace_back(key, static_cast<Colour>(r));
    }
    std::stable_sort(reference.begin(), reference.end(), [](auto& a, auto& b) { return a.first < b.first; });
    sortCubeRecords(125);
    for (int r = 0; r < 125; ++r) {
        EXPECT_EQ(cubeRecords[r].sortKey, reference[r].first) << "slot " << r;
        EXPECT_EQ(cubeRecords[r].colour, reference[r].second) << "slot " << r;
    }
}
