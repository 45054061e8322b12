#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "scenes/scene7.hpp"
#include "scenes/scenes.hpp"

#include <bit>
#include <cmath>
#include <random>

namespace {

constexpr std::uint32_t background = 0x002200;

class DentedSphereScene : public SceneTest {
protected:
    static void SetUpTestSuite()
    {
        SceneTest::SetUpTestSuite();
        static bool prepared = false;
        if (!prepared)
            prepareScene7();
        prepared = true;
    }
};

bool isDash(std::uint32_t pixel)
{
    return pixel == 0x004400 || pixel == 0x006400;
}

std::uint32_t dashAt(int x)
{
    return (x & 16) ? 0x006400 : 0x004400;
}

double distance(const Vector3& a, const Vector3& b)
{
    const Vector3 d = a - b;
    return std::sqrt(d.dot(d));
}

// applyRepellers as defined, one vertex and one repeller at a time.
Vector3 plainRepelled(const Vector3& p, const Repeller* repellers, int count)
{
    double x = p.x, y = p.y, z = p.z;
    for (int r = 0; r < count; ++r) {
        const Vector3 d = repellers[r].position - p;
        const double k = repellers[r].strength / (d.dot(d) + 800.0);
        x += d.x * k;
        y += d.y * k;
        z += d.z * k;
    }
    return Vector3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

} // namespace

TEST(Repellers, PairedLanesMatchTheDefinitionBitForBit)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-130.0f, 130.0f);
    Vector3 rest[1027], out[1027];
    for (Vector3& p : rest)
        p = Vector3(coordinate(random), coordinate(random), coordinate(random));
    Repeller r[4];
    for (const float T : {0.0f, 5.5f, 12.25f}) {
        placeRepellers(r, T);
        r[0].strength = r[1].strength = -3000.0f;
        r[2].strength = r[3].strength = -2000.0f;
        for (const int count : {1, 2, 1027}) {
            applyRepellers(rest, out, count, r, 4);
            for (int i = 0; i < count; ++i) {
                const Vector3 e = plainRepelled(rest[i], r, 4);
                ASSERT_TRUE(std::bit_cast<std::uint32_t>(out[i].x) == std::bit_cast<std::uint32_t>(e.x) &&
                            std::bit_cast<std::uint32_t>(out[i].y) == std::bit_cast<std::uint32_t>(e.y) &&
                            std::bit_cast<std::uint32_t>(out[i].z) == std::bit_cast<std::uint32_t>(e.z))
                    << "T " << T << " count " << count << " vertex " << i;
            }
        }
    }
}

TEST(Repellers, PushAwayByStrengthTimesDistanceOverSquarePlus800)
{
    const Vector3 rest[2] = {{0.0f, 0.0f, 0.0f}, {10.0f, 20.0f, -5.0f}};
    Vector3 out[2];
    // d^2 = 800: |-3000| x 28.28 / 1600 = 53.0, straight away from the repeller.
    Repeller one{{20.0f, 20.0f, 0.0f}, -3000.0f};
    applyRepellers(rest, out, 1, &one, 1);
    EXPECT_NEAR(distance(out[0], rest[0]), 53.0, 0.05);
    EXPECT_NEAR(out[0].x, -53.03 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(out[0].y, out[0].x, 1e-5);
    EXPECT_EQ(out[0].z, 0.0f);

    // A repeller on the vertex itself has no direction and moves nothing;
    // two repellers add their pushes.
    const Repeller two[2] = {{{10.0f, 20.0f, -5.0f}, -3000.0f}, {{0.0f, 0.0f, 100.0f}, -2000.0f}};
    applyRepellers(rest, out, 2, two, 2);
    const double near = 3000.0 / (525.0 + 800.0), far = 2000.0 / (100.0 * 100.0 + 800.0);
    EXPECT_NEAR(out[0].x, -10.0 * near, 1e-4);
    EXPECT_NEAR(out[0].y, -20.0 * near, 1e-4);
    EXPECT_NEAR(out[0].z, 5.0 * near - 100.0 * far, 1e-4);
    const Vector3 d = Vector3(0.0f, 0.0f, 100.0f) - rest[1];
    EXPECT_NEAR(distance(out[1], rest[1]), 2000.0 * std::sqrt(d.dot(d)) / (d.dot(d) + 800.0), 1e-4);
}

TEST(Repellers, WanderTwentyUnitsOutsideTheSphere)
{
    Repeller r[4];
    for (const float T : {0.0f, 3.3f, 17.9f})
        for (placeRepellers(r, T); const Repeller& each : r)
            EXPECT_NEAR(std::sqrt(each.position.dot(each.position)), 120.0, 1e-3) << T;
    Repeller later[4];
    placeRepellers(later, 0.5f);
    placeRepellers(r, 0.0f);
    for (int k = 0; k < 4; ++k)
        EXPECT_GT(distance(r[k].position, later[k].position), 1.0) << "repeller " << k << " does not move";
}

TEST(ScanLines, EmptyRowsFillWithDashesAndLookAheadStopsShort)
{
    Image image(frameWidth, frameHeight);
    clearImage(image, background);
    // Row 48 is crossed by something at 300..339; the first pixel of row 113
    // is what the look-ahead of row 112's last 32 pixels meets.
    for (int x = 300; x < 340; ++x)
        image.row(48)[x] = 0x808080;
    image.row(113)[5] = 0x808080;
    drawScanLines(image);

    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x) {
            const std::uint32_t p = image.row(y)[x];
            std::uint32_t expected = background;
            if (y == 48)
                expected = x < 268 || x >= 372 ? dashAt(x) : x >= 300 && x < 340 ? 0x808080 : background;
            else if (y == 112)
                expected = x < 613 ? dashAt(x) : background;
            else if (y == 113 && x == 5)
                expected = 0x808080;
            else if (y % 32 == 16)
                expected = dashAt(x);
            ASSERT_EQ(p, expected) << "pixel (" << x << ", " << y << ")";
        }
}

TEST_F(DentedSphereScene, DashesStopThirtyTwoPixelsShortOfTheSphere)
{
    clearImage(frame, garbage);
    scene7(frame, 127.23f, 3.0f, 0.0f, 0.016f, 0);
    int crossed = 0;
    // Rows below the greetings' text.
    for (const int y : {48, 112, 176, 240, 304}) {
        const std::uint32_t* row = frame.row(y);
        int left = 0;
        while (left < frameWidth && isDash(row[left]))
            ++left;
        if (left == frameWidth)
            continue;
        ++crossed;
        int right = frameWidth - 1;
        while (isDash(row[right]))
            --right;
        ASSERT_LE(left + 32, right - 32) << "row " << y;
        for (int k = 0; k < 32; ++k) {
            EXPECT_EQ(row[left + k], background) << "row " << y << " x " << left + k;
            EXPECT_EQ(row[right - k], background) << "row " << y << " x " << right - k;
        }
        EXPECT_FALSE(row[left + 32] == background || isDash(row[left + 32])) << "row " << y;
        EXPECT_FALSE(row[right - 32] == background || isDash(row[right - 32])) << "row " << y;
    }
    EXPECT_GE(crossed, 3) << "the sphere crosses too few scan rows";
}

TEST_F(DentedSphereScene, SmearFramesDrawThreeNoiseValuesPerSmear)
{
    // Vertical and horizontal windows both open at 0, then each on its own.
    const struct {
        float T;
        int draws;
    } frames[] = {{0.0f, 6}, {0.49f, 6}, {3.0f, 0}, {7.2f, 3}, {10.3f, 3}, {14.1f, 3}, {14.6f, 0}};
    for (const auto& f : frames) {
        resetNextNoise();
        scene7(frame, 124.23f + f.T, f.T, 0.0f, 0.016f, 0);
        EXPECT_EQ(nextNoise(), noise(f.draws)) << "at " << f.T;
    }
    // Red takes the third draw, blue the first.
    resetNextNoise();
    const SmearFactors s = drawSmearFactors();
    EXPECT_EQ(s.red, static_cast<float>(0.1 + 0.09 * noise(2)));
    EXPECT_EQ(s.green, static_cast<float>(0.1 + 0.09 * noise(1)));
    EXPECT_EQ(s.blue, static_cast<float>(0.1 + 0.09 * noise(0)));
    resetNextNoise();
}

TEST_F(DentedSphereScene, GreetingsFadeInOneAfterAnother)
{
    EXPECT_EQ(greetingFade(-0.1f), 0.0f);
    EXPECT_EQ(greetingFade(1.2f), 1.0f);
    EXPECT_NEAR(greetingFade(0.5f), 0.5f, 1e-6);
    EXPECT_NEAR(greetingFade(0.999f), 1.0f, 1e-5);

    // The brightest pixel of each greeting's place in the two columns.
    const auto brightest = [&](int line) {
        const int x0 = line % 2 ? 150 : 10, y0 = 16 + 64 * (line / 2);
        int best = 0;
        for (int y = y0 + 4; y < y0 + 24; ++y)
            for (int x = x0; x < x0 + 60; ++x)
                best = std::max(best, channel(frame.row(y)[x], 2));
        return best;
    };
    // Line 0 is full from the start, line 1 half way at 0.5, the rest absent
    // (the sphere's faint rim may reach into the right column).
    scene7(frame, 124.73f, 0.5f, 0.0f, 0.016f, 0);
    EXPECT_GT(brightest(0), 200);
    EXPECT_GT(brightest(1), 60);
    EXPECT_LT(brightest(1), 200);
    for (int line = 2; line < 10; ++line)
        EXPECT_LT(brightest(line), 30) << "line " << line;
    scene7(frame, 134.0f, 9.7f, 0.0f, 0.016f, 0);
    for (int line = 0; line < 10; ++line)
        EXPECT_GT(brightest(line), 200) << "line " << line;
}
