#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "image/ops.hpp"
#include "scenes/scene1.hpp"
#include "scenes/scenes.hpp"

#include <algorithm>
#include <cmath>

namespace {

using OpeningScene = SceneTest;

// The tunnel under full row light, as variants 2 to 4 draw it before the logo.
void drawTunnelOnly(Image& target, float sceneTime)
{
    clearImage(target, 0);
    drawHelixTunnel(target, sceneTime, 1.0f);
    rowNoiseTint(target, static_cast<float>(sceneTime * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
}

// The 15-bit multiplier of a scaled add; 32768 is a plain add.
int scaledBy(float factor)
{
    return static_cast<int>(factor * 32767.0f);
}
constexpr int plainAdd = 32768;

// A w-wide block of source from (srcX, 0), added at (dstX, dstY) with multiplier a / 32768.
struct Block {
    const Image* source;
    int srcX, w, dstX, dstY, a;
};

// Expects frame = reference plus the blocks, clamped per channel; elsewhere frame = reference.
void expectBlocksAdded(const Image& frame, const Image& reference, std::initializer_list<Block> blocks)
{
    int wrong = 0;
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                int expected = channel(reference.row(y)[x], c);
                for (const Block& b : blocks)
                    if (inRect(x, y, b.dstX, b.dstY, b.w, b.source->height))
                        expected += channel(b.source->row(y - b.dstY)[b.srcX + x - b.dstX], c) * b.a >> 15;
                expected = std::min(expected, 255);
                if (channel(frame.row(y)[x], c) != expected && ++wrong <= 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") channel " << c << ": "
                                  << channel(frame.row(y)[x], c) << " instead of " << expected;
            }
    EXPECT_EQ(wrong, 0);
}

} // namespace

TEST_F(OpeningScene, StartsBlackAndTheEntryAndTheFadeEndOnTheRowLightAlone)
{
    clearImage(frame, garbage);
    scene1(frame, 0.0f, 0.0f, 0.0f, 0.016f, 0);
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            ASSERT_EQ(frame.row(y)[x], 0u) << "pixel (" << x << ", " << y << ")";

    // At the end of the entry and of the fade the frame is grey rows only.
    for (const int variant : {0, 5}) {
        scene1(frame, variant == 0 ? 4.2f : 34.2f, variant == 0 ? 4.2f : 34.2f, 1.0f, 0.016f, variant);
        int lit = 0;
        for (int y = 0; y < frameHeight; ++y) {
            const std::uint32_t first = frame.row(y)[0];
            lit += first != 0;
            ASSERT_TRUE(channel(first, 0) == channel(first, 1) && channel(first, 1) == channel(first, 2));
            for (int x = 1; x < frameWidth; ++x)
                ASSERT_EQ(frame.row(y)[x], first) << "variant " << variant << " pixel (" << x << ", " << y << ")";
        }
        EXPECT_GT(lit, frameHeight / 2) << variant;
    }
}

TEST_F(OpeningScene, SideBlocksSlideInFromOutsideTheFrame)
{
    const float t = 17.11f;
    Image reference(frameWidth, frameHeight);
    drawTunnelOnly(reference, t);
    scene1(frame, t, t, 0.0f, 0.016f, 2);  // off the frame at the start
    expectBlocksAdded(frame, reference, {});

    // A little later only their inner edges have entered: s = 262 sin(0.723 pi 0.05).
    const float progress = 0.05f;
    const float s = static_cast<float>(262.0 * std::sin(2.2713714885454204 * progress));
    const int leftX = static_cast<int>(s - 130.0), rightX = static_cast<int>(660.0 - s);
    ASSERT_LT(leftX, 0);
    ASSERT_GT(rightX, frameWidth - logoRightWidth);
    scene1(frame, t, t, progress, 0.016f, 2);
    expectBlocksAdded(frame, reference,
                      {{&logoImage, logoLeftX, logoLeftWidth, leftX, logoY, scaledBy(progress)},
                       {&logoImage, logoRightX, logoRightWidth, rightX, logoY, scaledBy(progress)}});

    // A late frame (progress past 1) finds them arrived at x = 70 and 459, not beyond.
    scene1(frame, t, t, 1.3f, 0.016f, 2);
    expectBlocksAdded(frame, reference,
                      {{&logoImage, logoLeftX, logoLeftWidth, 70, logoY, scaledBy(1.0f)},
                       {&logoImage, logoRightX, logoRightWidth, 459, logoY, scaledBy(1.0f)}});
}

TEST_F(OpeningScene, WholeLogoLandsOnItsColumnsAndTheTitleIsCentred)
{
    const float t = 27.0f;
    Image reference(frameWidth, frameHeight);
    drawTunnelOnly(reference, t);
    scene1(frame, t, t, 0.75f, 0.016f, 4);
    // The logo added plainly; the title with factor clampUnit(1.5) = 1 at
    // y = 280, centred on its own width.
    ASSERT_GT(titleImage.width, 0);
    expectBlocksAdded(frame, reference,
                      {{&logoImage, logoLeftX, logoLeftWidth, 70, logoY, plainAdd},
                       {&logoImage, logoMiddleX, logoMiddleWidth, 180, logoY, plainAdd},
                       {&logoImage, logoRightX, logoRightWidth, 459, logoY, plainAdd},
                       {&titleImage, 0, titleImage.width, (frameWidth - titleImage.width) / 2, 280, scaledBy(1.0f)}});
    const auto set = [](std::uint32_t p) { return (p & 0xFFFFFF) != 0; };
    EXPECT_GT(std::count_if(logoImage.pixels, logoImage.pixels + logoImage.width * logoImage.height, set), 1000);
}

TEST_F(OpeningScene, RingPointAtViewDepthOneCountsAsBehindTheCamera)
{
    Camera camera;
    camera.setScreenSize(640, 480);
    EXPECT_EQ(projectRingPoint(camera, Vector3(3.0f, 2.0f, 1.0f)).w, 666.0f);
    EXPECT_LT(projectRingPoint(camera, Vector3(3.0f, 2.0f, std::nextafter(1.0f, 2.0f))).w, 1.0f);
    const RingPoint far = projectRingPoint(camera, Vector3(10.0f, -20.0f, 40.0f));
    EXPECT_FLOAT_EQ(far.w, 1.0f / 40.0f);
    EXPECT_FLOAT_EQ(far.x, 320.0f + 320.0f * 10.0f / 40.0f);
    EXPECT_FLOAT_EQ(far.y, 240.0f + 240.0f * 20.0f / 40.0f);
}
