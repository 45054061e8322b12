#include "image/image.hpp"
#include "platform/display.hpp"
#include "platform/display_internal.hpp"
#include "platform/screen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Every byte of every pixel differs, the fourth included.
Image& fill(Image& image, std::uint32_t seed)
{
    for (int i = 0; i < image.width * image.height; ++i)
        image.pixels[i] = (static_cast<std::uint32_t>(i) + seed) * 2654435761u;
    return image;
}

void presentAt(Screen& screen, const Image& image, float x, float y)
{
    screen.present(image, 0.0f, 0.0f, static_cast<float>(image.width - 1), static_cast<float>(image.height - 1), x, y);
}

const unsigned char* shownRow(int y)
{
    int pitch = 0;
    const unsigned char* picture = xp_screen_last_picture(&pitch);
    return picture ? picture + y * pitch : nullptr;
}

bool black(int y)
{
    int pitch = 0;
    const unsigned char* row = xp_screen_last_picture(&pitch) + y * pitch;
    return pitch && std::all_of(row, row + pitch, [](unsigned char b) { return b == 0; });
}

// Display surfaces in memory, no window.
class ScreenTest : public testing::Test {
protected:
    void SetUp() override { xp_screen_use_memory_surfaces(true); }
    void TearDown() override
    {
        xp_screen_close();
        xp_screen_refuse_depth(0);
    }
};

// 32 bits: each pixel as it is; 24 bits: its blue, green and red bytes.
// Display rows outside the frame stay black.
TEST_F(ScreenTest, BothLayoutsShowTheFrameInRows80To399)
{
    for (int depth : {32, 24}) {
        xp_screen_refuse_depth(depth == 24 ? 32 : 0);
        Screen screen;
        ASSERT_TRUE(screen.open(640, 480));
        ASSERT_EQ(screen.depth, depth);
        EXPECT_EQ(screen.clipRight, 639.0f);
        EXPECT_EQ(screen.clipBottom, 479.0f);
        Image frame(640, 320);
        fill(frame, static_cast<std::uint32_t>(depth));
        presentAt(screen, frame, 0.0f, 80.0f);
        for (int y = 0; y < 480; ++y) {
            if (y < 80 || y >= 400) {
                ASSERT_TRUE(black(y)) << "row " << y;
                continue;
            }
            const auto* source = reinterpret_cast<const unsigned char*>(frame.row(y - 80));
            for (int x = 0; x < 640; ++x)
                ASSERT_EQ(std::memcmp(shownRow(y) + x * depth / 8, source + x * 4, depth / 8), 0) << x << "," << y;
        }
    }
    // A single pixel at the end of a 24-bit row writes its three bytes and no more.
    Screen screen;
    ASSERT_TRUE(screen.open(640, 480));
    Image dot(1, 1);
    presentAt(screen, fill(dot, 5), 639.0f, 0.0f);
    EXPECT_NE(shownRow(0)[639 * 3 + 2], 0);
    EXPECT_EQ(shownRow(1)[0], 0);

    xp_screen_refuse_depth(32);
    EXPECT_EQ(xp_screen_open(640, 480, 32, 0), -1);
    EXPECT_EQ(xp_screen_open(640, 480, 16, 0), -1);
    EXPECT_EQ(xp_screen_open(0, 480, 24, 0), -1);
}

TEST_F(ScreenTest, CopiesPastTheDisplayAreCut)
{
    Screen screen;
    ASSERT_TRUE(screen.open(640, 480));
    Image frame(640, 320), small(16, 4);
    fill(frame, 3);
    // 320 rows from row 200: rows 0..279 of the frame land on 200..479.
    presentAt(screen, frame, 0.0f, 200.0f);
    for (int y = 0; y < 480; ++y)
        ASSERT_TRUE(y < 200 ? black(y) : std::memcmp(shownRow(y), frame.row(y - 200), 640 * 4) == 0) << "row " << y;
    // Left and above the display: the source is cut, not the placement.
    presentAt(screen, frame, -10.0f, -5.0f);
    for (int y = 0; y < 315; ++y)
        ASSERT_EQ(std::memcmp(shownRow(y), frame.row(y + 5) + 10, 630 * 4), 0) << "row " << y;
    // Past the right edge: the columns beyond 639 are dropped, the rest kept.
    presentAt(screen, fill(small, 9), 630.0f, 476.0f);
    for (int y = 476; y < 480; ++y)
        ASSERT_EQ(std::memcmp(shownRow(y) + 630 * 4, small.row(y - 476), 10 * 4), 0);
    // Entirely outside: nothing is locked, no new picture.
    const unsigned char* before = shownRow(0);
    presentAt(screen, frame, 0.0f, 480.0f);
    presentAt(screen, frame, -640.0f, 0.0f);
    EXPECT_EQ(shownRow(0), before);
}

TEST_F(ScreenTest, PresentWhileClosedWritesNothing)
{
    Image frame(640, 320);
    fill(frame, 5);
    Screen never;  // a surface exists, but not for this screen
    ASSERT_EQ(xp_screen_open(640, 480, 32, 0), 0);
    presentAt(never, frame, 0.0f, 80.0f);
    for (int y = 0; y < 480; ++y)
        ASSERT_TRUE(black(y)) << "row " << y;

    Screen screen;
    ASSERT_TRUE(screen.open(640, 480));
    screen.close();
    EXPECT_EQ(screen.depth, -1);
    presentAt(screen, frame, 0.0f, 80.0f);
    EXPECT_EQ(shownRow(0), nullptr);
    unsigned char* pixels = nullptr;
    int pitch = 0;
    EXPECT_EQ(xp_screen_lock(&pixels, &pitch), -1);
    EXPECT_EQ(xp_screen_unlock(), -1);
}

// The surface keeps what was written before, as one display surface does,
// although the pictures go through a ring of buffers: the window thread
// always gets the newest finished one, and the one it holds is never written.
TEST_F(ScreenTest, TheShownPictureIsTheLatestAndStaysWhole)
{
    Screen screen;
    ASSERT_TRUE(screen.open(640, 480));
    int pitch = 0;
    EXPECT_EQ(displayTakeLatest(&pitch), nullptr) << "nothing unlocked yet";
    Image a(8, 8), b(640, 320);
    presentAt(screen, fill(a, 11), 0.0f, 0.0f);
    presentAt(screen, fill(b, 12), 0.0f, 80.0f);
    const unsigned char* held = displayTakeLatest(&pitch);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(std::memcmp(held, a.row(0), 32), 0);
    EXPECT_EQ(std::memcmp(held + 80 * pitch, b.row(0), 640 * 4), 0);
    EXPECT_EQ(displayTakeLatest(&pitch), nullptr) << "no newer picture";

    const std::vector<unsigned char> copy(held, held + 480 * pitch);
    for (std::uint32_t seed = 30; seed < 40; ++seed) {
        presentAt(screen, fill(b, seed), 0.0f, 80.0f);
        ASSERT_EQ(std::memcmp(held, copy.data(), copy.size()), 0) << "the held picture was written";
    }
    const unsigned char* next = displayTakeLatest(&pitch);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(std::memcmp(next + 80 * pitch, b.row(0), 640 * 4), 0);
    EXPECT_EQ(std::memcmp(next, a.row(0), 32), 0);
}

} // namespace
