#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "assets/stored_data.hpp"
#include "image/ops.hpp"
#include "music/music.hpp"
#include "scenes/scene2.hpp"
#include "scenes/scenes.hpp"

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double pi = std::numbers::pi;

class RhythmScene : public SceneTest {
protected:
    static void SetUpTestSuite()
    {
        SceneTest::SetUpTestSuite();
        static const bool prepared = (prepareScene2(), true);
        (void)prepared;
    }
};

std::vector<std::uint32_t> colours(const Image& image)
{
    std::vector<std::uint32_t> out;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            out.push_back(image.row(y)[x] & 0xFFFFFF);
    return out;
}

// The frame without any text: the layers, then the row light.
std::vector<std::uint32_t> layersOnly(double phase, float demoTime, float sceneTime, float q)
{
    rhythmPhase = phase;
    clearImage(frame, 0);
    drawRhythmLayers(frame, sceneTime, 0.016f, q);
    rowNoiseTint(frame, static_cast<float>(demoTime * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
    return colours(frame);
}

std::vector<std::uint32_t> sceneFrame(double phase, float demoTime, float sceneTime, float progress, int variant)
{
    rhythmPhase = phase;
    clearImage(frame, garbage);
    scene2(frame, demoTime, sceneTime, progress, 0.016f, variant);
    return colours(frame);
}

} // namespace

TEST_F(RhythmScene, FadesFromAndToBlackUnderTheRowLight)
{
    // Discs, rings and streaks black; the spheres (right) keep only the
    // renderer's lowest lit level, 5. Also for a late frame whose progress is
    // past the end of the fade-out.
    for (const float progress : {0.0f, 1.2f}) {
        const int variant = progress > 0.0f ? 3 : 0;
        const std::vector<std::uint32_t> black = layersOnly(1.0, 40.0f, 5.76f, 0.0f);
        const std::vector<std::uint32_t> drawn = sceneFrame(1.0, 40.0f, 5.76f, progress, variant);
        Image blackFrame(frameWidth, frameHeight);
        clearImage(blackFrame, 0);
        rowNoiseTint(blackFrame, static_cast<float>(40.0f * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
        EXPECT_TRUE(drawn == black) << variant;
        const std::vector<std::uint32_t> ground = colours(blackFrame);
        for (std::size_t i = 0; i < drawn.size(); ++i)
            for (int c = 0; c < 3; ++c) {
                const int x = static_cast<int>(i % frameWidth), extra = channel(drawn[i], c) - channel(ground[i], c);
                ASSERT_TRUE(extra == 0 || (x > 470 && extra > 0 && extra <= 5)) << x << ", " << i / frameWidth;
            }
    }
}

TEST_F(RhythmScene, PoemOnlyInTheMiddleEntriesWhereItsLinesDrift)
{
    EXPECT_TRUE(sceneFrame(0.7, 35.0f, 0.76f, 0.5f, 0) == layersOnly(0.7, 35.0f, 0.76f, 0.5f));
    EXPECT_TRUE(sceneFrame(0.7, 50.0f, 15.76f, 0.5f, 3) == layersOnly(0.7, 50.0f, 15.76f, 0.5f));
    // A third into the entry the first line is at full strength at (20, 196),
    // the second at half at (16, 230), the third not there yet.
    const char* const lines[2][2] = {{"there is a world", "outside your world"},
                                     {"there is a world", "inside my world"}};
    for (int variant = 1; variant <= 2; ++variant) {
        const std::vector<std::uint32_t> base = layersOnly(0.7, 40.0f, 5.76f, 1.0f);
        const std::vector<std::uint32_t> text = sceneFrame(0.7, 40.0f, 5.76f, 1.0f / 3, variant);
        const int w1 = font.textWidth(lines[variant - 1][0]), w2 = font.textWidth(lines[variant - 1][1]);
        int first = 0, second = 0;
        for (std::size_t i = 0; i < base.size(); ++i) {
            const int x = static_cast<int>(i % frameWidth), y = static_cast<int>(i / frameWidth);
            if (base[i] == text[i])
                continue;
            const bool inFirst = inRect(x, y, 20, 196, w1, font.height);
            const bool inSecond = inRect(x, y, 16, 230, w2, font.height);
            ASSERT_TRUE(inFirst || inSecond) << x << ", " << y;
            first += inFirst;
            second += inSecond;
        }
        EXPECT_GT(first, 300) << variant;
        EXPECT_GT(second, 300) << variant;
    }
}

TEST_F(RhythmScene, StreaksJumpAThirdOfATurnEveryEightRows)
{
    // Sine and cosine swapped against the discs: it turns the other way.
    for (const double phase : {0.0, 1.1, 5.9})
        for (int row = 0; row < 64; ++row) {
            const double a = phase + (row / 8 % 3) * 2.0 * pi / 3.0;
            const StreakCentre c = streakCentre(row, phase, 55.0);
            EXPECT_NEAR(c.x, 320.0 + 55.0 * std::sin(a), 1e-3) << row;
            EXPECT_NEAR(c.y, 160.0 + 55.0 * std::cos(a), 1e-3) << row;
        }

    // In the frame: only the song's row differs, and rows 0 and 24 agree.
    FSOUND_File_SetCallbacks(memOpen, memClose, memRead, memSeek, memTell);
    song = FMUSIC_LoadSong(reinterpret_cast<const char*>(soundtrackModule));
    ASSERT_NE(song, nullptr);
    ASSERT_TRUE(FMUSIC_PlaySongOffline(song));
    static float audio[2 * 256];
    const auto frameAtRow = [&](int row) {
        for (int chunk = 0; FMUSIC_GetRow(song) != row && chunk < 4000; ++chunk)
            FMUSIC_RenderOffline(song, audio, 256);
        EXPECT_EQ(FMUSIC_GetRow(song), row);
        return layersOnly(2.0, 45.0f, 10.76f, 1.0f);
    };
    const std::vector<std::uint32_t> row0 = frameAtRow(0), row8 = frameAtRow(8), row24 = frameAtRow(24);
    EXPECT_TRUE(row0 == row24);
    EXPECT_FALSE(row0 == row8);
    FMUSIC_FreeSong(song);
    song = nullptr;
}

TEST_F(RhythmScene, PhaseTurnsSteadilyWithABurstEveryTwoPiSeconds)
{
    const float dt = 0.02f;
    // At t = 1, 5t mod 10 pi is past pi: no burst. At 0.1 and 2 pi + 0.1 it
    // is 0.5: 5 dt sin²(0.5) more.
    const double burst = 5.0 * dt * std::sin(0.5) * std::sin(0.5);
    for (const float t : {1.0f, 0.1f, static_cast<float>(2 * pi + 0.1)}) {
        rhythmPhase = 1.0;
        drawRhythmLayers(frame, t, dt, 1.0f);
        EXPECT_NEAR(rhythmPhase - 1.0 - 0.5 * dt, t == 1.0f ? 0.0 : burst, 1e-4) << t;
    }
    // Carried on from entry to entry, wrapped into one turn.
    rhythmPhase = 2 * pi - 0.005;
    scene2(frame, 40.0f, 5.76f, 0.9f, dt, 1);
    EXPECT_NEAR(rhythmPhase, 0.005, 1e-9);
    scene2(frame, 40.02f, 5.78f, 0.0f, dt, 2);
    EXPECT_NEAR(rhythmPhase, 0.005 + 0.5 * dt, 1e-9);
}

TEST_F(RhythmScene, RingsSpheresAndStreaksAtFullStrength)
{
    rhythmPhase = 0.3;
    clearImage(frame, 0);
    drawRhythmLayers(frame, 3.0f, 0.016f, 1.0f);
    // Rings in their exact colour, only on their path; teal spheres with
    // pale rims on the right; grey discs and streaks elsewhere.
    int ring = 0, ringRight = 0, teal = 0, rim = 0, grey = 0;
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x) {
            const std::uint32_t p = frame.row(y)[x] & 0xFFFFFF;
            const int r = channel(p, 2), g = channel(p, 1), b = channel(p, 0);
            ring += p == 0x608040u;
            ringRight += p == 0x608040u && x > 440;
            teal += x > 470 && g > r + 20 && b > r + 20;
            rim += x > 470 && r == g && g == b && r > 120;
            grey += x <= 470 && r == g && g == b && r > 20;
        }
    EXPECT_GT(ring, 2000);
    EXPECT_EQ(ringRight, 0);
    EXPECT_GT(teal, 5000);
    EXPECT_GT(rim, 200);
    EXPECT_GT(grey, 20000);
}
