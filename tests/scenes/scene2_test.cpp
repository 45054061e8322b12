#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "assets/stored_data.hpp"
#include "image/font.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "music/music.hpp"
#include "scenes/scene2.hpp"
#include "scenes/scenes.hpp"

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

constexpr double pi = std::numbers::pi;

class RhythmScene : public SceneTest {
protected:
    static void SetUpTestSuite()
    {
        SceneTest::SetUpTestSuite();
        static bool prepared = false;
        if (!prepared)
            prepareScene2();
        prepared = true;
    }
};

std::vector<std::uint32_t> pixelsOf(const Image& image)
{
    std::vector<std::uint32_t> out;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            out.push_back(image.row(y)[x] & 0xFFFFFF);
    return out;
}

// The frame scene2 should give without any text: layers, then row light.
std::vector<std::uint32_t> layersOnly(double phase, float demoTime, float sceneTime, float q)
{
    rhythmPhase = phase;
    clearImage(frame, 0);
    drawRhythmLayers(frame, sceneTime, 0.016f, q);
    rowNoiseTint(frame, static_cast<float>(demoTime * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
    return pixelsOf(frame);
}

std::vector<std::uint32_t> sceneFrame(double phase, float demoTime, float sceneTime, float progress, int variant,
                                      float dt = 0.016f)
{
    rhythmPhase = phase;
    clearImage(frame, garbage);
    scene2(frame, demoTime, sceneTime, progress, dt, variant);
    return pixelsOf(frame);
}

} // namespace

TEST_F(RhythmScene, FadeInStartsWithEverythingBlackUnderTheRowLight)
{
    // Discs, rings and streaks black; the spheres keep only the renderer's
    // lowest lit level (5), on the right. Also for a late frame past the end
    // of the fade-out, whose progress is above 1.
    const struct {
        float demoTime, sceneTime, progress;
        int variant;
    } frames[] = {{34.24f, 0.0f, 0.0f, 0}, {51.5f, 17.26f, 1.2f, 3}};
    for (const auto& f : frames) {
        Image expected(frameWidth, frameHeight);
        clearImage(expected, 0);
        rowNoiseTint(expected, static_cast<float>(f.demoTime * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
        const std::vector<std::uint32_t> drawn = sceneFrame(1.0, f.demoTime, f.sceneTime, f.progress, f.variant);
        const std::vector<std::uint32_t> black = pixelsOf(expected);
        for (std::size_t i = 0; i < drawn.size(); ++i)
            for (int c = 0; c < 3; ++c) {
                const int x = static_cast<int>(i % frameWidth), extra = channel(drawn[i], c) - channel(black[i], c);
                ASSERT_TRUE(extra == 0 || (x > 470 && extra > 0 && extra <= 5))
                    << "variant " << f.variant << " (" << x << ", " << i / frameWidth << ") " << extra;
            }
    }
}

TEST_F(RhythmScene, PoemOnlyInTheMiddleEntriesWhereItsLinesDrift)
{
    // The fades draw the layers and the row light and nothing else.
    EXPECT_TRUE(sceneFrame(0.7, 35.0f, 0.76f, 0.5f, 0) == layersOnly(0.7, 35.0f, 0.76f, 0.5f));
    EXPECT_TRUE(sceneFrame(0.7, 50.0f, 15.76f, 0.5f, 3) == layersOnly(0.7, 50.0f, 15.76f, 0.5f));

    // A third into variant 1 the first line is at full strength at (20, 196),
    // the second at half at (16, 230), the third not yet there (it would be
    // at (60, 273)). Variant 2 has the other verse in the same places.
    const char* const verses[2][2] = {{"there is a world", "outside your world"},
                                      {"there is a world", "inside my world"}};
    for (int variant = 1; variant <= 2; ++variant) {
        const std::vector<std::uint32_t> base = layersOnly(0.7, 40.0f, 5.76f, 1.0f);
        const std::vector<std::uint32_t> withText = sceneFrame(0.7, 40.0f, 5.76f, 1.0f / 3, variant);
        const int h = font.height;
        const int w1 = font.textWidth(verses[variant - 1][0]), w2 = font.textWidth(verses[variant - 1][1]);
        int first = 0, second = 0;
        for (int y = 0; y < frameHeight; ++y)
            for (int x = 0; x < frameWidth; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * frameWidth + x;
                if (base[i] == withText[i])
                    continue;
                if (inRect(x, y, 20, 196, w1, h))
                    ++first;
                else if (inRect(x, y, 16, 230, w2, h))
                    ++second;
                else
                    ADD_FAILURE() << "variant " << variant << " changed (" << x << ", " << y << ")";
            }
        EXPECT_GT(first, 300) << variant;
        EXPECT_GT(second, 300) << variant;
    }
}

TEST_F(RhythmScene, StreakCentreTakesThreePlacesWithTheRows)
{
    // A third of a turn every eight rows, back at the start after 24; sine
    // and cosine swapped against the discs, so it turns the other way.
    for (const double phase : {0.0, 1.1, 5.9})
        for (int row = 0; row < 64; ++row) {
            const double a = phase + (row / 8 % 3) * 2.0 * pi / 3.0;
            const StreakCentre c = streakCentre(row, phase, 55.0);
            EXPECT_NEAR(c.x, 320.0 + 55.0 * std::sin(a), 1e-3) << row;
            EXPECT_NEAR(c.y, 160.0 + 55.0 * std::cos(a), 1e-3) << row;
        }
    const StreakCentre before = streakCentre(0, 0.0, 50.0), after = streakCentre(0, 0.1, 50.0);
    EXPECT_GT(after.x, before.x);  // the discs' x falls as the phase grows from 0
}

TEST_F(RhythmScene, StreaksFollowTheMusicRow)
{
    // Same times and phase, only the song's row differs: rows 0 and 24
    // draw the same frame, row 8 another.
    FSOUND_File_SetCallbacks(memOpen, memClose, memRead, memSeek, memTell);
    song = FMUSIC_LoadSong(reinterpret_cast<const char*>(soundtrackModule));
    ASSERT_NE(song, nullptr);
    ASSERT_TRUE(FMUSIC_PlaySongOffline(song));
    static float audio[2 * 256];
    const auto frameAtRow = [&](int row) {
        for (int guard = 0; FMUSIC_GetRow(song) != row; ++guard) {
            EXPECT_LT(guard, 4000) << "row " << row << " never came";
            if (guard >= 4000 || FMUSIC_RenderOffline(song, audio, 256) == 0)
                break;
        }
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
    const double steady = 0.5 * dt;
    // t = 1: 5t mod 10 pi is past pi, no burst.
    sceneFrame(1.0, 35.24f, 1.0f, 0.5f, 0, dt);
    EXPECT_NEAR(rhythmPhase, 1.0 + steady, 1e-9);
    // t = 0.1 and 2 pi + 0.1: 5t mod 10 pi = 0.5, a burst of 5 dt sin²(0.5).
    const double burst = 5.0 * dt * std::sin(0.5) * std::sin(0.5);
    for (const float t : {0.1f, static_cast<float>(2 * pi + 0.1)}) {
        rhythmPhase = 1.0;
        clearImage(frame, 0);
        drawRhythmLayers(frame, t, dt, 1.0f);
        EXPECT_NEAR(rhythmPhase, 1.0 + steady + 5.0 * dt * std::pow(std::sin(std::fmod(5.0 * t, 10 * pi)), 2), 1e-9);
        EXPECT_NEAR(rhythmPhase - 1.0 - steady, burst, 1e-4);
    }
    // Carried on across entries, wrapped into one turn.
    rhythmPhase = 2 * pi - 0.005;
    scene2(frame, 40.0f, 5.76f, 0.9f, dt, 1);
    const double carried = rhythmPhase;
    EXPECT_NEAR(carried, 0.005, 1e-9);
    scene2(frame, 40.02f, 5.78f, 0.0f, dt, 2);
    EXPECT_NEAR(rhythmPhase, carried + steady, 1e-9);
}

TEST_F(RhythmScene, LayersAtFullStrength)
{
    rhythmPhase = 0.3;
    clearImage(frame, 0);
    drawRhythmLayers(frame, 3.0f, 0.016f, 1.0f);
    int ring = 0, ringRight = 0, teal = 0, rim = 0, grey = 0;
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x) {
            const std::uint32_t p = frame.row(y)[x] & 0xFFFFFF;
            const int r = channel(p, 2), g = channel(p, 1), b = channel(p, 0);
            if (p == 0x608040u) {
                ++ring;
                ringRight += x > 440;
            } else if (x > 470 && g > r + 20 && b > r + 20) {
                ++teal;
            } else if (x > 470 && r > 120 && r == g && g == b) {
                ++rim;
            } else if (r > 20 && r == g && g == b) {
                ++grey;
            }
        }
    EXPECT_GT(ring, 2000) << "green rings";
    EXPECT_EQ(ringRight, 0) << "rings off the path";
    EXPECT_GT(teal, 5000) << "teal spheres";
    EXPECT_GT(rim, 200) << "pale rims";
    EXPECT_GT(grey, 20000) << "discs and their streaks";
}
