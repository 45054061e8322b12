#include "scene_fixture.hpp"

#include "scenes/scene5.hpp"
#include "scenes/scenes.hpp"
#include "scenes/shared.hpp"
#include "image/font.hpp"
#include "image/ops.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <numbers>
#include <vector>

struct RippleScene : SceneTest {
    static void SetUpTestSuite()
    {
        SceneTest::SetUpTestSuite();
        [[maybe_unused]] static const bool prepared = (prepareScene5(), true);
    }
};

TEST_F(RippleScene, OpensFlatUnderAWhiteFlashThatIsGoneWithinHalfASecond)
{
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(tileHeight(i / 10, i % 10, 0.0f), 0.0f) << "tile " << i / 10 << ", " << i % 10;
    clearImage(frame, garbage);
    scene5(frame, 87.8f, 0.0f, 0.0f, 0.016f, 0);
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            ASSERT_EQ(frame.row(y)[x] & 0xFFFFFF, 0xFFFFFFu) << "pixel (" << x << ", " << y << ")";
    // At 1 % of the scene trunc(255 * 0.9^20) = 31 lifts the empty dark green corner; at 2.1 % nothing.
    scene5(frame, 88.0f, 0.1923f, 0.01f, 0.016f, 0);
    EXPECT_EQ(frame.row(0)[0] & 0xFFFFFF, 0x273F2Fu);
    scene5(frame, 88.2f, 0.4038f, 0.021f, 0.016f, 0);
    EXPECT_EQ(frame.row(0)[0] & 0xFFFFFF, 0x082010u);
}

TEST_F(RippleScene, TitleTravelsAlongTheTopBrightestHalfWayAndFramesKeepNoState)
{
    // Progress moves only the title once the flash is over; at the end it has faded out.
    const int w = font.textWidth("relations of love"), h = font.height;
    scene5(frame, 97.8f, 10.0f, 1.0f, 0.016f, 0);
    const std::vector<std::uint32_t> bare(frame.pixels, frame.pixels + frameWidth * frameHeight);
    for (const float p : {0.25f, 0.5f}) {
        scene5(frame, 97.8f, 10.0f, p, 0.016f, 0);
        const int left = static_cast<int>(static_cast<float>(frameWidth - w) * p);
        int largest = 0;
        for (int y = 0; y < frameHeight; ++y)
            for (int x = 0; x < frameWidth; ++x) {
                const std::uint32_t a = bare[y * frameWidth + x], b = frame.row(y)[x];
                const bool title = inRect(x, y, left, 10, w, h);
                for (int c = 0; c < 3; ++c) {
                    ASSERT_TRUE(title ? channel(b, c) >= channel(a, c) : channel(b, c) == channel(a, c))
                        << "pixel (" << x << ", " << y << ") at " << p;
                    largest = std::max(largest, channel(b, c) - channel(a, c));
                }
            }
        // sin^4: a quarter of full strength a quarter of the way across.
        EXPECT_TRUE(p < 0.3f ? largest > 20 && largest <= 64 : largest >= 128) << largest << " at " << p;
    }
    // The blob is rewritten from its rest shape each frame: the same times draw the same frame.
    scene5(frame, 97.8f, 10.0f, 1.0f, 0.016f, 0);
    EXPECT_TRUE(std::equal(bare.begin(), bare.end(), frame.pixels));
}

TEST(RippleWave, EachTileSwingsDeepThenSmallThenRestsAndRepeats)
{
    // The front reaches the centre cell 4 s in, then passes it by 15 per unit of T.
    EXPECT_EQ(tileHeight(5, 5, 3.99f / 4.0f), 0.0f);
    const auto pastCentre = [](double v) { return tileHeight(5, 5, static_cast<float>(1.0 + v / 15.0)); };
    constexpr double pi = std::numbers::pi;
    EXPECT_NEAR(pastCentre(0.5 * pi), -30.0f, 0.01) << "sinks first";
    EXPECT_NEAR(pastCentre(1.5 * pi), 30.0f, 0.01);
    EXPECT_NEAR(pastCentre(2.5 * pi), -5.0f, 0.01);
    EXPECT_EQ(pastCentre(4.5 * pi), 0.0f) << "resting";
    EXPECT_EQ(pastCentre(6.9 * pi), 0.0f);
    EXPECT_NEAR(pastCentre(7.5 * pi), -30.0f, 0.01) << "and again";
    // Tiles at the same distance from the centre cell move together (the
    // scene works each height out once).
    for (const float T : {1.3f, 2.71f, 4.4f})
        for (int a = 0; a < 100; ++a)
            for (int b = 0; b < 100; ++b) {
                const auto d2 = [](int k) { return (k / 10 - 5) * (k / 10 - 5) + (k % 10 - 5) * (k % 10 - 5); };
                if (d2(a) == d2(b)) {
                    ASSERT_EQ(tileHeight(a / 10, a % 10, T), tileHeight(b / 10, b % 10, T)) << a << ' ' << b;
                }
            }
}

TEST(RippleText, PairFadeRisesToItsHoldWithoutAStep)
{
    EXPECT_EQ(pairFade(-0.01f), 0.0f);
    EXPECT_NEAR(pairFade(0.75f), 0.5f, 1e-6);
    EXPECT_FLOAT_EQ(pairFade(1.5f), 1.0f);
    EXPECT_NEAR(pairFade(1.499f), 1.0f, 1e-5);
    EXPECT_EQ(pairFade(1.501f), 1.0f);
}

TEST(RippleBlob, WobbleByHeightMatchesThePerVertexFormulaBitForBit)
{
    // Rest vertices on a few shared heights (with -0 and +0 among them) and
    // some of their own; the sines are worked out per height.
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(-40.0f, 40.0f);
    const float shared[] = {-0.0f, 0.0f, 12.5f, -33.25f, 40.0f};
    std::vector<Vector3> rest(301), out(301);
    for (Vector3& p : rest)
        p = Vector3(coordinate(random), random() % 3 ? shared[random() % 5] : coordinate(random), coordinate(random));
    BlobHeights heights = findBlobHeights(rest.data(), 301);
    EXPECT_LT(heights.count, 150);
    for (const float T : {0.0f, 1.7f, 4.80751f}) {
        wobbleVertices(heights, rest.data(), out.data(), 301, T);
        const double t = T;
        for (int i = 0; i < 301; ++i) {
            const Vector3& p = rest[static_cast<std::size_t>(i)];
            const double s = 0.05 * p.y + 3.3 * t;
            const Vector3 e(static_cast<float>(p.x + 10.0 * std::sin(3.0 * t + s)), p.y,
                            static_cast<float>(p.z + 10.0 * std::sin(s + 3.5 * t + 2.0)));
            const Vector3& o = out[static_cast<std::size_t>(i)];
            ASSERT_TRUE(std::bit_cast<std::uint32_t>(o.x) == std::bit_cast<std::uint32_t>(e.x) &&
                        std::bit_cast<std::uint32_t>(o.y) == std::bit_cast<std::uint32_t>(e.y) &&
                        std::bit_cast<std::uint32_t>(o.z) == std::bit_cast<std::uint32_t>(e.z))
                << "vertex " << i << " at T " << T;
        }
    }
}
