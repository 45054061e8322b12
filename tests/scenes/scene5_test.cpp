#include "scene_fixture.hpp"

#include "scenes/scene5.hpp"
#include "scenes/scenes.hpp"
#include "scenes/shared.hpp"
#include "image/font.hpp"
#include "image/ops.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

class RippleScene : public SceneTest {
protected:
    static void SetUpTestSuite()
    {
        SceneTest::SetUpTestSuite();
        static bool prepared = false;
        if (!prepared)
            prepareScene5();
        prepared = true;
    }
};

constexpr float sceneLength = 107.03f - 87.80f;

void drawAt(float sceneTime)
{
    scene5(frame, 87.80f + sceneTime, sceneTime, sceneTime / sceneLength, 0.016f, 0);
}

// The scene time at which the wave has travelled v past tile (i, j).
float timeAtWave(int i, int j, double v)
{
    return static_cast<float>(4.0 * (1.0 + (v + std::hypot(i - 5.0, j - 5.0)) / 15.0));
}

} // namespace

TEST_F(RippleScene, OpensOnAWhiteFlashThatIsGoneWithinHalfASecond)
{
    // On the first frame the grid lies flat and the flash saturates every pixel.
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j)
            ASSERT_EQ(tileHeight(i, j, 0.0f), 0.0f) << "tile " << i << ", " << j;
    clearImage(frame, garbage);
    drawAt(0.0f);
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            ASSERT_EQ(frame.row(y)[x] & 0xFFFFFF, 0xFFFFFFu) << "pixel (" << x << ", " << y << ")";

    // At 1 % of the scene the flash adds trunc(255 * 0.9^20) = 31 to the
    // dark green of the empty top-left corner; at 2.1 % it is off.
    scene5(frame, 88.0f, 0.1923f, 0.01f, 0.016f, 0);
    EXPECT_EQ(frame.row(0)[0] & 0xFFFFFF, 0x273F2Fu);
    scene5(frame, 88.2f, 0.4038f, 0.021f, 0.016f, 0);
    EXPECT_EQ(frame.row(0)[0] & 0xFFFFFF, 0x082010u);
}

TEST_F(RippleScene, TitleTravelsAlongTheTopBrightestHalfWay)
{
    // Progress moves only the title once the flash is over; at the end the
    // title has faded to nothing.
    const int w = font.textWidth("relations of love"), h = font.height;
    scene5(frame, 97.8f, 10.0f, 1.0f, 0.016f, 0);
    const std::vector<std::uint32_t> bare(frame.pixels, frame.pixels + frameWidth * frameHeight);
    for (const float p : {0.25f, 0.5f}) {
        scene5(frame, 97.8f, 10.0f, p, 0.016f, 0);
        const int left = static_cast<int>(static_cast<float>(frameWidth - w) * p);
        int brighter = 0, largest = 0;
        for (int y = 0; y < frameHeight; ++y)
            for (int x = 0; x < frameWidth; ++x) {
                const std::uint32_t a = bare[y * frameWidth + x], b = frame.row(y)[x];
                if (!inRect(x, y, left, 10, w, h)) {
                    ASSERT_EQ(a & 0xFFFFFF, b & 0xFFFFFF) << "pixel (" << x << ", " << y << ") at " << p;
                    continue;
                }
                for (int c = 0; c < 3; ++c) {
                    ASSERT_GE(channel(b, c), channel(a, c));
                    largest = std::max(largest, channel(b, c) - channel(a, c));
                }
                brighter += (a & 0xFFFFFF) != (b & 0xFFFFFF);
            }
        EXPECT_GT(brighter, w * h / 10) << p;
        // sin^4: a quarter of full strength at a quarter of the way.
        if (p < 0.3f)
            EXPECT_LE(largest, 64);
        else
            EXPECT_GE(largest, 128);
    }
}

TEST(RippleWave, EachTileSwingsDeepThenSmallThenRestsAndRepeats)
{
    // The front reaches the centre cell 4 s into the scene and nothing moves before.
    EXPECT_EQ(tileHeight(5, 5, 3.99f / 4.0f), 0.0f);
    EXPECT_LT(tileHeight(5, 5, 4.05f / 4.0f), -5.0f) << "the tile sinks first";

    // v past the front: the deep swing down and up, the small one, the rest, and again.
    constexpr double pi = std::numbers::pi;
    const struct {
        double v;
        float height;
    } phases[] = {{0.5 * pi, -30.0f}, {1.5 * pi, 30.0f}, {2.5 * pi, -5.0f}, {3.5 * pi, 5.0f},
                  {4.5 * pi, 0.0f},   {6.9 * pi, 0.0f},  {7.5 * pi, -30.0f}};
    for (const int i : {0, 5, 9})
        for (const auto& phase : phases)
            EXPECT_NEAR(tileHeight(i, 2, timeAtWave(i, 2, phase.v) / 4.0f), phase.height, 0.02)
                << "tile " << i << ", 2 at v = " << phase.v;
    // A tile in the rest phase sits exactly at height 0.
    EXPECT_EQ(tileHeight(5, 5, 2.0f), 0.0f);

    // Over the whole scene every tile moves smoothly: no jumps between the
    // phases or where the cycle starts again (the square-root start is the steepest).
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j) {
            float previous = 0.0f, deepest = 0.0f;
            for (float t = 0.0f; t < sceneLength; t += 0.0005f) {
                const float h = tileHeight(i, j, t / 4.0f);
                ASSERT_LE(std::abs(h - previous), 1.5f) << "tile " << i << ", " << j << " at " << t << " s";
                ASSERT_LE(std::abs(h), 30.0f);
                deepest = std::min(deepest, h);
                previous = h;
            }
            EXPECT_LT(deepest, -29.9f) << "tile " << i << ", " << j;
        }
}

TEST(RippleText, PairFadeRisesSmoothlyToItsHold)
{
    EXPECT_EQ(pairFade(-0.001f), 0.0f);
    EXPECT_EQ(pairFade(0.0f), 0.0f);
    EXPECT_NEAR(pairFade(0.75f), 0.5f, 1e-6);
    EXPECT_FLOAT_EQ(pairFade(1.5f), 1.0f);
    EXPECT_EQ(pairFade(1.5001f), 1.0f);
    EXPECT_EQ(pairFade(100.0f), 1.0f);
    float previous = 0.0f;
    for (float x = 0.0f; x <= 1.5f; x += 0.001f) {
        const float f = pairFade(x);
        ASSERT_GE(f, previous) << x;
        ASSERT_LE(f - previous, 0.002f) << x;
        previous = f;
    }
    EXPECT_GT(previous, 0.99999f) << "no step up to the hold at 1.5";
}

TEST_F(RippleScene, FrameDependsOnlyOnItsTimes)
{
    // The blob's vertices are rewritten from the rest shape every frame, so
    // a frame does not depend on the ones drawn before it.
    drawAt(12.0f);
    const std::vector<std::uint32_t> first(frame.pixels, frame.pixels + frameWidth * frameHeight);
    drawAt(5.3f);
    drawAt(17.9f);
    clearImage(frame, garbage);
    drawAt(12.0f);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), frame.pixels));
}
