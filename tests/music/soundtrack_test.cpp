// The stored soundtrack as the show plays it: loaded and rendered by
// libopenmpt at 44,100 Hz, checked against the timeline it has to follow.
#include "assets/stored_data.hpp"

#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int sampleRate = 44100;
constexpr double rowSeconds = 2.5 / 84.0 * 6.0;  // speed 6 at 84 BPM
constexpr double demoLevel = 240.0 / 256.0;      // the show's master volume
constexpr double showEnd = 168.81;

// The timeline's entry starts, and the terminator.
constexpr std::array<double, 22> entryStarts{0.00,  4.27,  17.11, 21.40,  25.70,  29.97,  34.24, 36.52,
                                             42.83, 49.11, 51.41, 55.70,  64.24,  68.52,  87.80, 107.03,
                                             124.23, 141.32, 143.46, 145.60, 160.21, showEnd};
constexpr int entryCount = 21;

// The scenes' starts, and the order that starts with each.
constexpr std::array<std::pair<double, int>, 8> sceneStarts{
    {{0.00, 0}, {34.24, 4}, {51.41, 6}, {68.52, 8}, {87.80, 11}, {107.03, 14}, {124.23, 16}, {143.46, 19}}};

using Module = std::unique_ptr<openmpt_module, decltype(&openmpt_module_destroy)>;

Module loadSoundtrack() {
    int error = 0;
    const char* message = nullptr;
    Module m(openmpt_module_create_from_memory2(soundtrackModule, soundtrackModuleSize, nullptr, nullptr, nullptr,
                                                nullptr, &error, &message, nullptr),
             openmpt_module_destroy);
    if (!m) ADD_FAILURE() << "libopenmpt cannot load the soundtrack: " << (message ? message : "?");
    openmpt_free_string(message);
    return m;
}

// Per-entry energies: of the signal, of its first difference (the treble)
// and of a one-pole low-pass near 150 Hz (the bass).
struct EntryEnergy {
    double total = 0.0, treble = 0.0, bass = 0.0;
    long frames = 0;
    double rmsDb() const { return 10.0 * std::log10(total / (2.0 * frames)); }
    double trebleDb() const { return 10.0 * std::log10(treble / total); }
    double bassDb() const { return 10.0 * std::log10(bass / total); }
};

struct OrderStart {
    int order;
    double seconds;
};

// The show's master volume: 240 of 256, faded out over the last entry by
// whole steps as the closing scene sets it.
double volumeAt(long frame, std::size_t entry) {
    if (entry + 1 < entryCount) return demoLevel;
    const double progress = (double(frame) / sampleRate - entryStarts[entry]) / (showEnd - entryStarts[entry]);
    return std::trunc(240.0 * (1.0 - progress)) / 256.0;
}

// One pass over the show and a little beyond, at the show's level, shared by
// the tests of this program.
struct Rendering {
    std::vector<OrderStart> orders;
    std::vector<double> rowTreble;  // treble energy of each row of the song
    std::array<EntryEnergy, entryCount> entries{};
    double peak = 0.0;
};

Rendering renderShow() {
    Rendering r;
    r.rowTreble.assign(static_cast<std::size_t>(showEnd / rowSeconds) + 1, 0.0);
    Module m = loadSoundtrack();
    if (!m) return r;
    openmpt_module_set_repeat_count(m.get(), -1);
    constexpr int chunk = 147;  // 1/300 s
    std::vector<float> buffer(2 * chunk);
    const long showFrames = std::lround(showEnd * sampleRate);
    const long totalFrames = std::lround(180.0 * sampleRate);  // past the end of the song, into its loop
    const double lowPass = 1.0 - std::exp(-2.0 * 3.14159265358979 * 150.0 / sampleRate);
    double previous[2] = {0.0, 0.0}, low[2] = {0.0, 0.0};
    int lastOrder = -1;
    std::size_t entry = 0;
    for (long frame = 0; frame < totalFrames; frame += chunk) {
        const std::size_t got = openmpt_module_read_interleaved_float_stereo(m.get(), sampleRate, chunk, buffer.data());
        if (got == 0) break;
        const int order = openmpt_module_get_current_order(m.get());
        if (order != lastOrder) {
            r.orders.push_back({order, double(frame) / sampleRate});
            lastOrder = order;
        }
        for (std::size_t i = 0; i < got; ++i) {
            const long f = frame + static_cast<long>(i);
            if (f >= showFrames) break;
            while (entry + 1 < entryCount && f >= std::lround(entryStarts[entry + 1] * sampleRate)) ++entry;
            EntryEnergy& e = r.entries[entry];
            const double level = volumeAt(f, entry);
            for (int c = 0; c < 2; ++c) {
                const double v = buffer[2 * i + c] * level, change = (v - previous[c]) * (v - previous[c]);
                r.peak = std::max(r.peak, std::fabs(v));
                e.total += v * v;
                e.treble += change;
                r.rowTreble[static_cast<std::size_t>(double(f) / sampleRate / rowSeconds)] += change;
                low[c] += lowPass * (v - low[c]);
                e.bass += low[c] * low[c];
                previous[c] = v;
            }
            ++e.frames;
        }
    }
    return r;
}

const Rendering& show() {
    static const Rendering r = renderShow();
    return r;
}

TEST(Soundtrack, LoadsWithTheStoredShape) {
    Module m = loadSoundtrack();
    ASSERT_TRUE(m);
    const char* type = openmpt_module_get_metadata(m.get(), "type");
    EXPECT_STREQ(type, "xm");
    openmpt_free_string(type);
    EXPECT_EQ(openmpt_module_get_num_channels(m.get()), 22);
    EXPECT_EQ(openmpt_module_get_num_orders(m.get()), 23);
    EXPECT_EQ(openmpt_module_get_num_instruments(m.get()), 13);
    ASSERT_EQ(openmpt_module_get_num_patterns(m.get()), 17);
    for (int p = 0; p < 17; ++p) EXPECT_EQ(openmpt_module_get_pattern_num_rows(m.get(), p), 64) << "pattern " << p;
    EXPECT_EQ(openmpt_module_get_current_speed(m.get()), 6);
    EXPECT_EQ(openmpt_module_get_current_tempo(m.get()), 84);

    // Fields libopenmpt does not report, read from the header itself.
    ASSERT_GT(soundtrackModuleSize, 80u);
    auto u16 = [](std::size_t at) { return soundtrackModule[at] | soundtrackModule[at + 1] << 8; };
    const std::string text(reinterpret_cast<const char*>(soundtrackModule), 37);
    EXPECT_EQ(text, "Extended Module:                     ") << "blank name";
    EXPECT_EQ(u16(66), 4) << "restart position";
    EXPECT_EQ(u16(74) & 1, 1) << "linear frequency table";
    EXPECT_LT(soundtrackModuleSize, 256u * 1024u);
}

// Every order plays once, each scene's within a row of the scene's start;
// then the song loops to the main groove, after the show's end.
TEST(Soundtrack, OrdersStartWithTheScenesAndLoopAfterTheShow) {
    const Rendering& r = show();
    ASSERT_EQ(r.orders.size(), 24u);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(r.orders[i].order, i < 23 ? i : 4) << "play " << i;
    EXPECT_GT(r.orders.back().seconds, showEnd);
    for (const auto& [seconds, order] : sceneStarts)
        EXPECT_NEAR(r.orders[static_cast<std::size_t>(order)].seconds, seconds, rowSeconds) << "order " << order;
}

TEST(Soundtrack, NoClippingEveryEntryAudibleAndNeighboursDiffer) {
    const Rendering& r = show();
    const double peakDb = 20.0 * std::log10(r.peak);
    EXPECT_LE(peakDb, -0.3) << "peak " << peakDb << " dBFS at the show's volume";
    for (int i = 0; i < entryCount; ++i) {
        const EntryEnergy& e = r.entries[i];
        std::printf("entry %2d at %6.2f s: RMS %6.2f dBFS, treble %6.2f dB, bass %6.2f dB\n", i, entryStarts[i],
                    e.rmsDb(), e.trebleDb(), e.bassDb());
        EXPECT_GT(e.rmsDb(), -40.0) << "entry " << i;
    }
    // The scenes' main parts are unclipped and follow the show's arc: the
    // reflective trees and ripple grid (entries 11, 14) well below the
    // grooves of the rhythm discs, the dented sphere and the close (7, 16, 19).
    for (int i : {7, 8, 11, 13, 14, 15, 16, 19}) {
        EXPECT_GE(r.entries[i].rmsDb(), -28.0) << "entry " << i;
        EXPECT_LE(r.entries[i].rmsDb(), -10.0) << "entry " << i;
    }
    const double quietest = std::min({r.entries[7].rmsDb(), r.entries[16].rmsDb(), r.entries[19].rmsDb()});
    const double loudest = std::max(r.entries[11].rmsDb(), r.entries[14].rmsDb());
    EXPECT_GE(quietest - loudest, 4.0) << "the reflective scenes are not quieter than the grooves";
    // Each entry sounds different from the one before: in level or in its
    // balance of bass and treble.
    for (int i = 1; i < entryCount; ++i) {
        const EntryEnergy& a = r.entries[i - 1];
        const EntryEnergy& b = r.entries[i];
        const double change = std::max({std::fabs(a.rmsDb() - b.rmsDb()), std::fabs(a.trebleDb() - b.trebleDb()),
                                        std::fabs(a.bassDb() - b.bassDb())});
        EXPECT_GE(change, 1.0) << "entries " << i - 1 << " and " << i << " sound alike";
    }
}

// The second scene moves its streaks every 8 rows of the pattern; its groove
// (orders 4 and 19, drums in 12-row bars) accents those rows: compare them
// with the rows at the same places in bars where no mark falls.
TEST(Soundtrack, AccentsEveryEighthRowOfTheSecondScenesGroove) {
    const Rendering& r = show();
    double marked = 0.0, unmarked = 0.0;
    for (int orderStartRow : {192, 804}) {
        for (int row : {8, 16, 32, 40}) marked += r.rowTreble[static_cast<std::size_t>(orderStartRow + row)];
        for (int row : {20, 4, 44, 28}) unmarked += r.rowTreble[static_cast<std::size_t>(orderStartRow + row)];
    }
    const double accent = 10.0 * std::log10(marked / unmarked);
    std::printf("eighth-row accents: %.1f dB above the same places unmarked\n", accent);
    EXPECT_GT(accent, 3.0);
}

// The embedded module is data/soundtrack.xm as built.
TEST(Soundtrack, GeneratorReproducesTheStoredModule) {
    const auto out = std::filesystem::temp_directory_path() / ("morvane_soundtrack_" + std::to_string(getpid()) + ".xm");
    const std::string command = std::string(MORVANE_RUN_PREFIX) + "\"" + MORVANE_SOUNDTRACK_GENERATOR + "\" \"" + out.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out, std::ios::binary);
    const std::vector<unsigned char> generated{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(out);
    EXPECT_TRUE(generated == std::vector<unsigned char>(soundtrackModule, soundtrackModule + soundtrackModuleSize))
        << "the stored module differs from the generator's output; run make data";
}

}  // namespace
