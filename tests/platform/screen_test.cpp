#include "image/image.hpp"
#include "platform/display.hpp"
#include "platform/display_internal.hpp"
#include "platform/screen.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr int displayWidth = 640;
constexpr int displayHeight = 480;

// Every byte of every pixel differs, the fourth included.
void fillPattern(Image& image, std::uint32_t seed)
{
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.row(y)[x] = (static_cast<std::uint32_t>(y * image.width + x) + seed) * 2654435761u;
}

// Display surfaces in memory, no window.
class ScreenTest : public testing::Test {
protected:
    void SetUp() override
    {
        xp_screen_use_memory_surfaces(true);
        xp_screen_refuse_depth(0);
    }
    void TearDown() override
    {
        xp_screen_close();
        xp_screen_refuse_depth(0);
    }

    static const unsigned char* picture(int& pitch) { return xp_screen_last_picture(&pitch); }

    static bool rowIsBlack(const unsigned char* row, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            if (row[i])
                return false;
        return true;
    }
};

TEST_F(ScreenTest, ThirtyTwoBitsCopiesPixelsAsTheyAreIntoRows80To399)
{
    Screen screen;
    ASSERT_TRUE(screen.open(displayWidth, displayHeight));
    EXPECT_EQ(screen.depth, 32);
    EXPECT_EQ(screen.clipRight, 639.0f);
    EXPECT_EQ(screen.clipBottom, 479.0f);

    Image frame(640, 320);
    fillPattern(frame, 1);
    screen.present(frame, frame.clipLeft, frame.clipTop, frame.clipRight, frame.clipBottom, 0.0f, 80.0f);

    int pitch = 0;
    const unsigned char* shown = picture(pitch);
    ASSERT_NE(shown, nullptr);
    ASSERT_EQ(pitch, 640 * 4);
    for (int y = 0; y < displayHeight; ++y) {
        const unsigned char* row = shown + y * pitch;
        if (y < 80 || y >= 400)
            ASSERT_TRUE(rowIsBlack(row, pitch)) << "row " << y;
        else
            ASSERT_EQ(std::memcmp(row, frame.row(y - 80), 640 * 4), 0) << "row " << y;
    }
}

TEST_F(ScreenTest, TwentyFourBitsIsUsedWhenThirtyTwoIsRefusedAndWritesBlueGreenRed)
{
    xp_screen_refuse_depth(32);
    Screen screen;
    ASSERT_TRUE(screen.open(displayWidth, displayHeight));
    EXPECT_EQ(screen.depth, 24);

    Image frame(640, 320);
    fillPattern(frame, 7);
    screen.present(frame, frame.clipLeft, frame.clipTop, frame.clipRight, frame.clipBottom, 0.0f, 80.0f);

    int pitch = 0;
    const unsigned char* shown = picture(pitch);
    ASSERT_NE(shown, nullptr);
    ASSERT_EQ(pitch, 640 * 3);
    for (int y = 0; y < displayHeight; ++y) {
        const unsigned char* row = shown + y * pitch;
        if (y < 80 || y >= 400) {
            ASSERT_TRUE(rowIsBlack(row, pitch)) << "row " << y;
            continue;
        }
        const auto* source = reinterpret_cast<const unsigned char*>(frame.row(y - 80));
        for (int x = 0; x < 640; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(row[x * 3 + c], source[x * 4 + c]) << x << "," << y;
    }

    // A single pixel at the end of a row writes its three bytes and no more.
    Image dot(1, 1);
    dot.pixels[0] = 0xffa1b2c3u;
    screen.present(dot, 0.0f, 0.0f, 0.0f, 0.0f, 639.0f, 10.0f);
    shown = picture(pitch);
    EXPECT_EQ(shown[10 * pitch + 639 * 3], 0xc3);
    EXPECT_EQ(shown[10 * pitch + 639 * 3 + 2], 0xa1);
    EXPECT_EQ(shown[11 * pitch], 0) << "the next row is untouched";
    EXPECT_EQ(shown[10 * pitch + 638 * 3 + 2], 0);
}

TEST_F(ScreenTest, NeitherDepthMeansTheScreenStaysClosed)
{
    xp_screen_refuse_depth(32);
    EXPECT_EQ(xp_screen_open(640, 480, 32, 0), -1);
    EXPECT_EQ(xp_screen_open(640, 480, 16, 0), -1);
    EXPECT_EQ(xp_screen_open(0, 480, 24, 0), -1);
}

TEST_F(ScreenTest, CopiesPastTheDisplayAreCut)
{
    Screen screen;
    ASSERT_TRUE(screen.open(displayWidth, displayHeight));
    Image frame(640, 320);
    fillPattern(frame, 3);

    // 320 rows from row 200: rows 0..279 of the frame land on 200..479.
    screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, 0.0f, 200.0f);
    int pitch = 0;
    const unsigned char* shown = picture(pitch);
    for (int y = 0; y < 200; ++y)
        ASSERT_TRUE(rowIsBlack(shown + y * pitch, pitch)) << "row " << y;
    for (int y = 200; y < displayHeight; ++y)
        ASSERT_EQ(std::memcmp(shown + y * pitch, frame.row(y - 200), 640 * 4), 0) << "row " << y;

    // Left and above the display: the source is cut, not the placement.
    screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, -10.0f, -5.0f);
    shown = picture(pitch);
    for (int y = 0; y < 315; ++y)
        ASSERT_EQ(std::memcmp(shown + y * pitch, frame.row(y + 5) + 10, 630 * 4), 0) << "row " << y;
    // Past the right edge: the columns beyond 639 are dropped, the rest kept.
    Image small(16, 4);
    fillPattern(small, 9);
    screen.present(small, 0.0f, 0.0f, 15.0f, 3.0f, 630.0f, 476.0f);
    shown = picture(pitch);
    for (int y = 476; y < 480; ++y)
        ASSERT_EQ(std::memcmp(shown + y * pitch + 630 * 4, small.row(y - 476), 10 * 4), 0);

    // Entirely outside: nothing is locked, nothing changes.
    const unsigned char* before = picture(pitch);
    screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, 0.0f, 480.0f);
    screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, -640.0f, 0.0f);
    EXPECT_EQ(picture(pitch), before);
}

TEST_F(ScreenTest, PresentWhileClosedWritesNothing)
{
    Image frame(640, 320);
    fillPattern(frame, 5);
    Screen closed;  // never opened
    ASSERT_EQ(xp_screen_open(640, 480, 32, 0), 0);  // a surface exists, but not for this screen
    closed.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, 0.0f, 80.0f);
    int pitch = 0;
    const unsigned char* shown = picture(pitch);
    for (int y = 0; y < displayHeight; ++y)
        ASSERT_TRUE(rowIsBlack(shown + y * pitch, pitch));

    Screen screen;
    ASSERT_TRUE(screen.open(640, 480));
    screen.close();
    EXPECT_EQ(screen.depth, -1);
    screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, 0.0f, 80.0f);
    EXPECT_EQ(picture(pitch), nullptr);
    unsigned char* pixels = reinterpret_cast<unsigned char*>(&pitch);
    EXPECT_EQ(xp_screen_lock(&pixels, &pitch), -1);
    EXPECT_EQ(pixels, nullptr);
    EXPECT_EQ(xp_screen_unlock(), -1);
    screen.close();  // closing twice is harmless
}

TEST_F(ScreenTest, TheSurfaceKeepsWhatWasWrittenBefore)
{
    Screen screen;
    ASSERT_TRUE(screen.open(640, 480));
    Image a(8, 8), b(8, 8);
    fillPattern(a, 11);
    fillPattern(b, 12);
    screen.present(a, 0.0f, 0.0f, 7.0f, 7.0f, 0.0f, 0.0f);
    screen.present(b, 0.0f, 0.0f, 7.0f, 7.0f, 100.0f, 100.0f);
    screen.present(b, 0.0f, 0.0f, 7.0f, 7.0f, 200.0f, 200.0f);
    int pitch = 0;
    const unsigned char* shown = picture(pitch);
    EXPECT_EQ(std::memcmp(shown, a.row(0), 32), 0);
    EXPECT_EQ(std::memcmp(shown + 100 * pitch + 400, b.row(0), 32), 0);
    EXPECT_EQ(std::memcmp(shown + 200 * pitch + 800, b.row(0), 32), 0);
}

// The window thread's side of the hand-over: it always gets the newest
// finished picture, and the main thread never writes the one it holds.
TEST_F(ScreenTest, TheShownPictureIsTheLatestAndStaysWhole)
{
    Screen screen;
    ASSERT_TRUE(screen.open(640, 480));
    int pitch = 0;
    EXPECT_EQ(displayTakeLatest(&pitch), nullptr) << "nothing unlocked yet";

    Image frame(640, 320);
    fillPattern(frame, 20);
    screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, 0.0f, 80.0f);
    fillPattern(frame, 21);
    screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, 0.0f, 80.0f);
    const unsigned char* held = displayTakeLatest(&pitch);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(std::memcmp(held + 80 * pitch, frame.row(0), 640 * 4), 0);
    EXPECT_EQ(displayTakeLatest(&pitch), nullptr) << "no newer picture";

    std::vector<unsigned char> copy(held, held + 480 * pitch);
    for (std::uint32_t seed = 30; seed < 40; ++seed) {
        fillPattern(frame, seed);
        screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, 0.0f, 80.0f);
        ASSERT_EQ(std::memcmp(held, copy.data(), copy.size()), 0) << "the held picture was written";
    }
    const unsigned char* next = displayTakeLatest(&pitch);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(std::memcmp(next + 80 * pitch, frame.row(0), 640 * 4), 0);
}

} // namespace
