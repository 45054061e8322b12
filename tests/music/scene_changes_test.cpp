// Channels starting and stopping where the scenes start, read from the
// played rows of the module's orders.
#include "assets/stored_data.hpp"
#include "soundtrack/scene_changes.hpp"
#include "soundtrack/xm_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

using Module = std::unique_ptr<openmpt_module, decltype(&openmpt_module_destroy)>;

Module load(const void* data, std::size_t size) {
    return Module(openmpt_module_create_from_memory2(data, size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                     nullptr),
                  openmpt_module_destroy);
}

// Three channels, two patterns of 16 rows. Order 0 breaks on row 7 into row
// 12 of order 1, which breaks on row 15 into row 0. In order 0's last four
// rows channel 0 plays and channel 1 does not; order 1 cuts channel 0 with a
// key off and starts channel 1; channel 2 plays in both.
std::vector<std::uint8_t> smallModule() {
    XmModule m;
    m.channels = 3;
    m.orders = {0, 1};
    m.patterns.emplace_back(16, 3);
    m.patterns.emplace_back(16, 3);
    XmPattern& a = m.patterns[0];
    XmPattern& b = m.patterns[1];
    a.at(5, 0) = {49, 1, 0, 0, 0};
    a.at(6, 2) = {49, 1, 0, 0, 0};
    a.at(7, 1) = {0, 0, 0, 0xD, 0x12};
    b.at(0, 1) = {49, 1, 0, 0, 0};  // not played: order 1 starts on row 12
    b.at(12, 0) = {97, 0, 0, 0, 0};
    b.at(12, 1) = {49, 1, 0, 0, 0};
    b.at(13, 2) = {49, 1, 0, 0, 0};
    b.at(15, 0) = {0, 0, 0, 0xD, 0};
    XmInstrument square;
    square.name = "square";
    for (int i = 0; i < 64; ++i) square.sample.data.push_back((i / 16) % 2 ? -16384 : 16384);
    square.sample.loopLength = 64;
    m.instruments = {square};
    return writeXm(m);
}

TEST(SceneChanges, FollowsBreaksIntoLaterRowsAndFindsStartsAndStops) {
    const std::vector<std::uint8_t> bytes = smallModule();
    Module m = load(bytes.data(), bytes.size());
    ASSERT_TRUE(m);
    const std::vector<PlayedPattern> orders = readPlayedOrders(m.get());
    ASSERT_EQ(orders.size(), 2u);
    EXPECT_EQ(orders[0].first, 0);
    EXPECT_EQ(orders[0].rows, 8);
    EXPECT_EQ(orders[1].first, 12);
    ASSERT_EQ(orders[1].rows, 4);
    EXPECT_EQ(orders[1].at(0, 0), -1);
    EXPECT_EQ(orders[1].at(0, 1), 61);  // C-4 in the file, libopenmpt counts from C-0 as 13
    EXPECT_EQ(orders[1].at(1, 2), 61);

    const ChannelChanges c = channelChanges(orders[0], orders[1], 4);
    EXPECT_EQ(c.started, std::vector<int>{1});
    EXPECT_EQ(c.stopped, std::vector<int>{0});
}

// Every scene start is heard: at least two channels start or stop on the
// scene's first row, against the bar before it.
TEST(SceneChanges, EverySceneStartOfTheSoundtrackChangesTwoChannelsOrMore) {
    Module m = load(soundtrackModule, soundtrackModuleSize);
    ASSERT_TRUE(m);
    const std::vector<PlayedPattern> orders = readPlayedOrders(m.get());
    ASSERT_EQ(orders.size(), 23u);
    for (int order : {4, 6, 8, 11, 14, 16, 19}) {
        const ChannelChanges c =
            channelChanges(orders[static_cast<std::size_t>(order - 1)], orders[static_cast<std::size_t>(order)], 12);
        EXPECT_GE(c.started.size() + c.stopped.size(), 2u) << "order " << order;
    }
    // The orders that break into later rows: the fill, the heavy groove, the last order.
    for (auto [order, first] : {std::pair{10, 48}, {13, 48}, {16, 16}, {18, 48}, {21, 0}, {22, 48}})
        EXPECT_EQ(orders[static_cast<std::size_t>(order)].first, first) << "order " << order;
}

// Position of a note (libopenmpt's number: C-0 is 1) in the scale that D
// minor and F major share (B flat major), counted in scale steps; notes
// outside it count as the step below.
int scaleDegree(int note) {
    static const int steps[12] = {0, 0, 1, 1, 2, 3, 3, 4, 4, 5, 6, 6};  // from C
    return (note - 1) / 12 * 7 + steps[(note - 1) % 12];
}

// The theme's head, F D E F A, as scale steps: down two, up one, up one, up
// two. It comes back, moved to other degrees and octaves and at other
// speeds, on some channel of at least five of the eight scenes.
TEST(SceneChanges, TheThemeReturnsInFiveScenesOrMore) {
    Module m = load(soundtrackModule, soundtrackModuleSize);
    ASSERT_TRUE(m);
    const std::vector<PlayedPattern> orders = readPlayedOrders(m.get());
    ASSERT_EQ(orders.size(), 23u);
    const int sceneOrders[9] = {0, 4, 6, 8, 11, 14, 16, 19, 22};
    const int head[4] = {-2, 1, 1, 2};
    int scenesWithTheme = 0;
    for (int scene = 0; scene < 8; ++scene) {
        bool found = false;
        for (int ch = 0; ch < orders[0].channels && !found; ++ch) {
            std::vector<int> degrees;
            for (int o = sceneOrders[scene]; o < sceneOrders[scene + 1]; ++o) {
                const PlayedPattern& p = orders[static_cast<std::size_t>(o)];
                for (int row = 0; row < p.rows; ++row)
                    if (p.at(row, ch) > 0) degrees.push_back(scaleDegree(p.at(row, ch)));
            }
            for (std::size_t i = 0; i + 4 < degrees.size() && !found; ++i)
                found = std::equal(head, head + 4, degrees.begin() + static_cast<long>(i),
                                   [](int step, const int& d) { return (&d)[1] - d == step; });
        }
        std::printf("scene %d: %s\n", scene + 1, found ? "theme" : "-");
        scenesWithTheme += found;
    }
    EXPECT_GE(scenesWithTheme, 5);
}

}  // namespace
