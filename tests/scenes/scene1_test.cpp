#include "scene_fixture.hpp"

#include "driver/globals.hpp"
#include "image/ops.hpp"
#include "scenes/scene1.hpp"
#include "scenes/scenes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

class OpeningScene : public ::testing::Test {
protected:
    static void SetUpTestSuite() { prepareOpeningAndClosing(); }

    // The tunnel under full row light, as variants 2 to 4 draw it before the logo.
    static void drawTunnelOnly(Image& target, float sceneTime)
    {
        clearImage(target, 0);
        drawHelixTunnel(target, sceneTime, 1.0f);
        rowNoiseTint(target, static_cast<float>(sceneTime * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
    }

    Image reference{frameWidth, frameHeight};
};

// The 15-bit multiplier of a scaled add; 32768 is a plain add.
int scaledBy(float factor)
{
    return static_cast<int>(factor * 32767.0f);
}
constexpr int plainAdd = 32768;

// Expects frame = reference + source block (w x h from (srcX, 0)) added at
// (dstX, dstY) with multiplier a / 32768, and clamped, in every colour channel.
void expectBlockAdded(const Image& frame, const Image& reference, const Image& source, int srcX, int w, int dstX,
                      int dstY, int a)
{
    int wrong = 0;
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < w; ++x) {
            const int fx = dstX + x, fy = dstY + y;
            if (fx < 0 || fx >= frameWidth || fy < 0 || fy >= frameHeight)
                continue;
            const std::uint32_t s = source.row(y)[srcX + x];
            for (int c = 0; c < 3; ++c) {
                const int expected = std::min(255, channel(reference.row(fy)[fx], c) + (channel(s, c) * a >> 15));
                if (channel(frame.row(fy)[fx], c) != expected && ++wrong <= 5)
                    ADD_FAILURE() << "pixel (" << fx << ", " << fy << ") channel " << c << ": "
                                  << channel(frame.row(fy)[fx], c) << " instead of " << expected;
            }
        }
    EXPECT_EQ(wrong, 0);
}

bool inRect(int x, int y, int left, int top, int w, int h)
{
    return x >= left && x < left + w && y >= top && y < top + h;
}

} // namespace

TEST_F(OpeningScene, StartsBlackAndTheRowLightGrowsInWithProgress)
{
    clearImage(frame, garbage);
    scene1(frame, 0.0f, 0.0f, 0.0f, 0.016f, 0);
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            ASSERT_EQ(frame.row(y)[x], 0u) << "pixel (" << x << ", " << y << ")";

    // At the end of the entry the light alone lights grey rows; no tunnel yet.
    scene1(frame, 4.2f, 4.2f, 1.0f, 0.016f, 0);
    int lit = 0;
    for (int y = 0; y < frameHeight; ++y) {
        const std::uint32_t first = frame.row(y)[0];
        lit += first != 0;
        for (int x = 0; x < frameWidth; ++x) {
            const std::uint32_t p = frame.row(y)[x];
            ASSERT_EQ(p, first) << "row light is not uniform along row " << y;
            ASSERT_TRUE(channel(p, 0) == channel(p, 1) && channel(p, 1) == channel(p, 2));
        }
    }
    EXPECT_GT(lit, frameHeight / 2);
}

TEST_F(OpeningScene, SideBlocksSlideInFromOutsideTheFrame)
{
    const float t = 17.11f;
    drawTunnelOnly(reference, t);

    // At the start of the slide the blocks sit off the frame (and are added with factor 0).
    scene1(frame, t, t, 0.0f, 0.016f, 2);
    EXPECT_EQ(std::memcmp(frame.pixels, reference.pixels, sizeof(std::uint32_t) * frameWidth * frameHeight), 0);

    // A little later only their inner edges have entered: s = 262 sin(0.723 pi 0.05).
    const float progress = 0.05f;
    const float s = static_cast<float>(262.0 * std::sin(2.2713714885454204 * progress));
    const int leftX = static_cast<int>(s - 130.0), rightX = static_cast<int>(660.0 - s);
    ASSERT_LT(leftX, 0);
    ASSERT_GT(rightX, frameWidth - logoRightWidth);
    scene1(frame, t, t, progress, 0.016f, 2);
    expectBlockAdded(frame, reference, logoImage, logoLeftX, logoLeftWidth, leftX, logoY, scaledBy(progress));
    expectBlockAdded(frame, reference, logoImage, logoRightX, logoRightWidth, rightX, logoY, scaledBy(progress));
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            if (!inRect(x, y, leftX, logoY, logoLeftWidth, logoImage.height) &&
                !inRect(x, y, rightX, logoY, logoRightWidth, logoImage.height)) {
                ASSERT_EQ(frame.row(y)[x], reference.row(y)[x]) << "pixel (" << x << ", " << y << ")";
            }

    // At the end of the slide they have arrived at x = 70 and x = 459; a
    // late frame (progress past 1) finds them there too, not beyond.
    for (const float end : {1.0f, 1.3f}) {
        scene1(frame, t, t, end, 0.016f, 2);
        expectBlockAdded(frame, reference, logoImage, logoLeftX, logoLeftWidth, 70, logoY, scaledBy(1.0f));
        expectBlockAdded(frame, reference, logoImage, logoRightX, logoRightWidth, 459, logoY, scaledBy(1.0f));
    }
}

TEST_F(OpeningScene, WholeLogoLandsOnItsColumnsAndTheTitleIsCentred)
{
    const float t = 27.0f;
    drawTunnelOnly(reference, t);
    scene1(frame, t, t, 0.75f, 0.016f, 4);

    // Every set pixel of the logo is white in the frame, with each block at its place.
    int setPixels = 0;
    const int blocks[3][3] = {{logoLeftX, logoLeftWidth, 70}, {logoMiddleX, logoMiddleWidth, 180},
                              {logoRightX, logoRightWidth, 459}};
    for (const auto& block : blocks) {
        expectBlockAdded(frame, reference, logoImage, block[0], block[1], block[2], logoY, plainAdd);
        for (int y = 0; y < logoImage.height; ++y)
            for (int x = 0; x < block[1]; ++x)
                if (logoImage.row(y)[block[0] + x] & 0xFFFFFF) {
                    ++setPixels;
                    ASSERT_EQ(frame.row(logoY + y)[block[2] + x] & 0xFFFFFF, 0xFFFFFFu);
                }
    }
    EXPECT_GT(setPixels, 1000) << "the logo looks empty";

    // The title: factor clampUnit(1.5) = 1, at y = 280, centred on its own width.
    ASSERT_GT(titleImage.width, 0);
    const int titleX = (frameWidth - titleImage.width) / 2;
    expectBlockAdded(frame, reference, titleImage, 0, titleImage.width, titleX, 280, scaledBy(1.0f));

    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x) {
            const bool covered = inRect(x, y, 70, logoY, 459 + logoRightWidth - 70, logoImage.height) ||
                                 inRect(x, y, titleX, 280, titleImage.width, titleImage.height);
            if (!covered) {
                ASSERT_EQ(frame.row(y)[x], reference.row(y)[x]) << "pixel (" << x << ", " << y << ")";
            }
        }
}

TEST_F(OpeningScene, RingPointAtViewDepthOneCountsAsBehindTheCamera)
{
    Camera camera;
    camera.setScreenSize(640, 480);
    const RingPoint atOne = projectRingPoint(camera, Vector3(3.0f, 2.0f, 1.0f));
    EXPECT_FALSE(atOne.w < 1.0f);
    EXPECT_EQ(atOne.w, 666.0f);

    const RingPoint justPast = projectRingPoint(camera, Vector3(3.0f, 2.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_LT(justPast.w, 1.0f);

    const RingPoint far = projectRingPoint(camera, Vector3(10.0f, -20.0f, 40.0f));
    EXPECT_FLOAT_EQ(far.w, 1.0f / 40.0f);
    EXPECT_FLOAT_EQ(far.x, 320.0f + 320.0f * 10.0f / 40.0f);
    EXPECT_FLOAT_EQ(far.y, 240.0f + 240.0f * 20.0f / 40.0f);
}

TEST_F(OpeningScene, TunnelFadesOutLeavingTheRowLight)
{
    scene1(frame, 10.0f, 10.0f, 0.44f, 0.016f, 1);
    int ringPixels = 0;
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 1; x < frameWidth; ++x)
            ringPixels += frame.row(y)[x] != frame.row(y)[0];
    EXPECT_GT(ringPixels, frameWidth * frameHeight / 50) << "the tunnel is missing";

    // At the end of the fade only the row light is left.
    scene1(frame, 34.2f, 34.2f, 1.0f, 0.016f, 5);
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 1; x < frameWidth; ++x)
            ASSERT_EQ(frame.row(y)[x], frame.row(y)[0]) << "pixel (" << x << ", " << y << ")";
}
