#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "scenes/scene7.hpp"
#include "scenes/scenes.hpp"
#include "../wide_forms.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>

namespace {

constexpr std::uint32_t background = 0x002200;

struct DentedSphereScene : SceneTest {
    static void SetUpTestSuite() { SceneTest::SetUpTestSuite(), prepareScene7(); }
};

bool isDash(std::uint32_t pixel) { return pixel == 0x004400 || pixel == 0x006400; }
std::uint32_t dashAt(int x) { return (x & 16) ? 0x006400 : 0x004400; }

// applyRepellers as defined, one vertex and one repeller at a time.
Vector3 plainRepelled(const Vector3& p, const Repeller* repellers)
{
    double x = p.x, y = p.y, z = p.z;
    for (int r = 0; r < 4; ++r) {
        const Vector3 d = repellers[r].position - p;
        const double k = repellers[r].strength / (d.dot(d) + 800.0);
        x += d.x * k, y += d.y * k, z += d.z * k;
    }
    return Vector3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

} // namespace

TEST(Repellers, PushAwayAsDefinedBitForBit)
{
    // d^2 = 800 and strength -3000: 3000 x 28.28 / 1600 = 53.0 units away.
    const Vector3 origin(0.0f, 0.0f, 0.0f);
    const Repeller one{{20.0f, 20.0f, 0.0f}, -3000.0f};
    Vector3 moved;
    applyRepellers(&origin, &moved, 1, &one, 1);
    EXPECT_NEAR(std::sqrt(moved.dot(moved)), 53.0, 0.05);
    EXPECT_TRUE(moved.x < 0.0f && moved.x == moved.y && moved.z == 0.0f);

    // Both forms (two and four vertices at a time) against the definition,
    // with counts that leave every possible tail.
    forEachForm([](bool wide) {
        std::mt19937 random(3);
        std::uniform_real_distribution<float> coordinate(-130.0f, 130.0f);
        Vector3 rest[1027], out[1027];
        for (Vector3& p : rest)
            p = Vector3(coordinate(random), coordinate(random), coordinate(random));
        Repeller r[4] = {{{}, -3000.0f}, {{}, -3000.0f}, {{}, -2000.0f}, {{}, -2000.0f}};
        placeRepellers(r, 12.25f);
        for (const int count : {1, 2, 3, 5, 6, 7, 1027}) {
            std::fill(out, out + 1027, Vector3(1e9f, 1e9f, 1e9f));
            applyRepellers(rest, out, count, r, 4);
            for (int i = 0; i < 1027; ++i) {
                const Vector3 e = i < count ? plainRepelled(rest[i], r) : Vector3(1e9f, 1e9f, 1e9f);
                ASSERT_TRUE(std::bit_cast<std::uint32_t>(out[i].x) == std::bit_cast<std::uint32_t>(e.x) &&
                            std::bit_cast<std::uint32_t>(out[i].y) == std::bit_cast<std::uint32_t>(e.y) &&
                            std::bit_cast<std::uint32_t>(out[i].z) == std::bit_cast<std::uint32_t>(e.z))
                    << (wide ? "wide, " : "") << count << " vertices, vertex " << i;
            }
        }
    });
}

TEST(ScanLines, EmptyRowsFillWithDashesAndLookAheadStopsShort)
{
    Image image(frameWidth, frameHeight);
    clearImage(image, background);
    // Row 48 is crossed at 300..339; row 112's look-ahead runs on into row 113.
    for (int x = 300; x < 340; ++x)
        image.row(48)[x] = 0x808080;
    image.row(113)[5] = 0x808080;
    drawScanLines(image);
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x) {
            std::uint32_t expected = y % 32 == 16 ? dashAt(x) : background;
            if (y == 48 && x >= 268 && x < 372)
                expected = x >= 300 && x < 340 ? 0x808080 : background;
            else if ((y == 112 && x >= 613) || (y == 113 && x == 5))
                expected = y == 113 ? 0x808080 : background;
            ASSERT_EQ(image.row(y)[x], expected) << "pixel (" << x << ", " << y << ")";
        }
}

TEST(ScanLines, MatchThePixelByPixelDefinitionAroundRandomObstacles)
{
    // The definition: walk in from each edge while the pixel 32 on (or back,
    // running into the next or previous row) is still the background.
    const auto plain = [](Image& image) {
        const int w = image.width;
        const auto at = [&](int x, int y) -> std::uint32_t {
            return x >= w ? image.row(y + 1)[x - w] : x < 0 ? image.row(y - 1)[x + w] : image.row(y)[x];
        };
        for (int y = 16; y <= 304; y += 32) {
            for (int x = 0; x < w && at(x + 32, y) == background; ++x)
                image.row(y)[x] = dashAt(x);
            for (int x = w - 1; x >= 0 && at(x - 32, y) == background; --x)
                image.row(y)[x] = dashAt(x);
        }
    };
    std::mt19937 random(17);
    // Full width, and narrow enough for the right part to run back into the
    // previous row.
    for (const int width : {frameWidth, 40})
        for (int trial = 0; trial < 60; ++trial) {
            Image fast(width, frameHeight), reference(width, frameHeight);
            clearImage(fast, background);
            // Spots on and next to the scan rows, often near the row ends.
            for (int k = 0; k < 12; ++k) {
                const int y = 16 + 32 * static_cast<int>(random() % 10) + static_cast<int>(random() % 3) - 1;
                const int end = static_cast<int>(random() % 40);
                const int x = random() % 2 ? static_cast<int>(random() % width) : random() % 2 ? end : width - 1 - end;
                fast.row(y)[x] = 0x101010;
            }
            for (int y = 0; y < frameHeight; ++y)
                std::copy(fast.row(y), fast.row(y) + width, reference.row(y));
            drawScanLines(fast);
            plain(reference);
            for (int y = 0; y < frameHeight; ++y)
                for (int x = 0; x < width; ++x)
                    ASSERT_EQ(fast.row(y)[x], reference.row(y)[x])
                        << width << " wide, trial " << trial << ", pixel (" << x << ", " << y << ")";
        }
}

TEST_F(DentedSphereScene, DashesStopThirtyTwoPixelsShortOfTheSphere)
{
    clearImage(frame, garbage);
    scene7(frame, 127.23f, 3.0f, 0.0f, 0.016f, 0);
    int crossed = 0;
    for (const int y : {48, 112, 176, 240, 304}) {  // rows clear of the greetings
        const std::uint32_t* row = frame.row(y);
        int left = 0, right = frameWidth - 1;
        while (left < frameWidth && isDash(row[left]))
            ++left;
        if (left == frameWidth)
            continue;
        ++crossed;
        while (isDash(row[right]))
            --right;
        ASSERT_LE(left + 32, right - 32) << "row " << y;
        for (int k = 0; k < 32; ++k)
            ASSERT_TRUE(row[left + k] == background && row[right - k] == background) << "row " << y << " k " << k;
        EXPECT_FALSE(row[left + 32] == background || isDash(row[left + 32])) << "row " << y;
        EXPECT_FALSE(row[right - 32] == background || isDash(row[right - 32])) << "row " << y;
    }
    EXPECT_GE(crossed, 3) << "the sphere crosses too few scan rows";
}

TEST_F(DentedSphereScene, SmearFramesDrawThreeNoiseValuesPerSmear)
{
    // Both windows open at 0, then each on its own.
    const std::pair<float, int> frames[] = {{0.0f, 6}, {0.49f, 6}, {3.0f, 0}, {7.2f, 3}, {10.3f, 3}, {14.6f, 0}};
    for (const auto& [T, draws] : frames) {
        resetNextNoise();
        scene7(frame, 124.23f + T, T, 0.0f, 0.016f, 0);
        EXPECT_EQ(nextNoise(), noise(draws)) << "at " << T;
    }
    resetNextNoise();
    const SmearFactors s = drawSmearFactors();  // red takes the third draw, blue the first
    EXPECT_TRUE(s.red == static_cast<float>(0.1 + 0.09 * noise(2)) && s.blue == static_cast<float>(0.1 + 0.09 * noise(0)));
    resetNextNoise();
}

TEST_F(DentedSphereScene, GreetingsFadeInOneAfterAnother)
{
    // The reddest pixel where each greeting goes (the ground has no red).
    const auto brightest = [&](int line) {
        const int x0 = line % 2 ? 150 : 10, y0 = 16 + 64 * (line / 2);
        int best = 0;
        for (int y = y0 + 4; y < y0 + 24; ++y)
            for (int x = x0; x < x0 + 60; ++x)
                best = std::max(best, channel(frame.row(y)[x], 2));
        return best;
    };
    // Line 0 full from the start, line 1 on its way at 0.5, the others not
    // yet there (the sphere's faint rim may reach the right column).
    scene7(frame, 124.73f, 0.5f, 0.0f, 0.016f, 0);
    EXPECT_GT(brightest(0), 200);
    EXPECT_TRUE(brightest(1) > 60 && brightest(1) < 200) << brightest(1);
    for (int line = 2; line < 10; ++line)
        EXPECT_LT(brightest(line), 30) << "line " << line;
    scene7(frame, 134.0f, 9.7f, 0.0f, 0.016f, 0);
    for (int line = 0; line < 10; ++line)
        EXPECT_GT(brightest(line), 200) << "line " << line;
}
