// The stored soundtrack as the show plays it: loaded and rendered by
// libopenmpt at 44,100 Hz, checked against the timeline it has to follow.
#include "driver/stored_data.hpp"

#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
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

struct SceneStart {
    double seconds;
    int order;
};
constexpr std::array<SceneStart, 8> sceneStarts{{{0.00, 0},
                                                  {34.24, 4},
                                                  {51.41, 6},
                                                  {68.52, 8},
                                                  {87.80, 11},
                                                  {107.03, 14},
                                                  {124.23, 16},
                                                  {143.46, 19}}};

struct ModuleDeleter {
    void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using Module = std::unique_ptr<openmpt_module, ModuleDeleter>;

Module loadSoundtrack() {
    int error = 0;
    const char* message = nullptr;
    Module m(openmpt_module_create_from_memory2(soundtrackModule, soundtrackModuleSize, nullptr, nullptr, nullptr,
                                                nullptr, &error, &message, nullptr));
    if (!m) ADD_FAILURE() << "libopenmpt cannot load the soundtrack: " << (message ? message : "?");
    openmpt_free_string(message);
    return m;
}

std::string metadata(openmpt_module* m, const char* key) {
    const char* s = openmpt_module_get_metadata(m, key);
    std::string v = s ? s : "";
    openmpt_free_string(s);
    return v;
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
    r.rowTreble.assign(static_cast<std::size_t>(showEnd / rowSeconds) + 1, 0.0);
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
                const double v = buffer[2 * i + c] * level;
                r.peak = std::max(r.peak, std::fabs(v));
                e.total += v * v;
                e.treble += (v - previous[c]) * (v - previous[c]);
                r.rowTreble[static_cast<std::size_t>(double(f) / sampleRate / rowSeconds)] +=
                    (v - previous[c]) * (v - previous[c]);
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

double decibels(double amplitude) { return 20.0 * std::log10(amplitude); }

TEST(Soundtrack, LoadsWithTheStoredShape) {
    Module m = loadSoundtrack();
    ASSERT_TRUE(m);
    EXPECT_EQ(metadata(m.get(), "type"), "xm");
    EXPECT_EQ(metadata(m.get(), "title"), "");
    EXPECT_EQ(openmpt_module_get_num_channels(m.get()), 22);
    EXPECT_EQ(openmpt_module_get_num_orders(m.get()), 23);
    EXPECT_EQ(openmpt_module_get_num_instruments(m.get()), 13);
    EXPECT_EQ(openmpt_module_get_num_samples(m.get()), 13);
    ASSERT_EQ(openmpt_module_get_num_patterns(m.get()), 17);
    for (int p = 0; p < 17; ++p) EXPECT_EQ(openmpt_module_get_pattern_num_rows(m.get(), p), 64) << "pattern " << p;
    EXPECT_EQ(openmpt_module_get_current_speed(m.get()), 6);
    EXPECT_EQ(openmpt_module_get_current_tempo(m.get()), 84);

    // Fields libopenmpt does not report, read from the header itself.
    ASSERT_GT(soundtrackModuleSize, 80u);
    auto u16 = [](std::size_t at) { return soundtrackModule[at] | soundtrackModule[at + 1] << 8; };
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(soundtrackModule), 17), "Extended Module: ");
    EXPECT_EQ(u16(58), 0x0104) << "format version";
    EXPECT_EQ(u16(66), 4) << "restart position";
    EXPECT_EQ(u16(74) & 1, 1) << "linear frequency table";
    EXPECT_LT(soundtrackModuleSize, 256u * 1024u);
}

TEST(Soundtrack, PlaysEveryOrderOnceThenLoopsToTheMainGroove) {
    const Rendering& r = show();
    std::vector<int> played;
    for (const OrderStart& o : r.orders) played.push_back(o.order);
    std::vector<int> expected;
    for (int o = 0; o < 23; ++o) expected.push_back(o);
    expected.push_back(4);
    EXPECT_EQ(played, expected);
    // The show ends inside the last order, at full arrangement.
    ASSERT_FALSE(r.orders.empty());
    EXPECT_GT(r.orders.back().seconds, showEnd);
}

TEST(Soundtrack, SectionsStartWithTheScenes) {
    const Rendering& r = show();
    for (const SceneStart& s : sceneStarts) {
        auto it = std::find_if(r.orders.begin(), r.orders.end(), [&](const OrderStart& o) { return o.order == s.order; });
        ASSERT_NE(it, r.orders.end()) << "order " << s.order << " never plays";
        EXPECT_NEAR(it->seconds, s.seconds, rowSeconds) << "order " << s.order;
    }
}

TEST(Soundtrack, DoesNotClipAtTheShowsVolume) {
    const Rendering& r = show();
    EXPECT_GT(r.peak, 0.0);
    EXPECT_LE(decibels(r.peak), -0.3) << "peak " << decibels(r.peak) << " dBFS";
}

TEST(Soundtrack, EveryEntryIsAudibleAndNeighboursDiffer) {
    const Rendering& r = show();
    for (int i = 0; i < entryCount; ++i) {
        const EntryEnergy& e = r.entries[i];
        ASSERT_GT(e.frames, 0) << "entry " << i;
        std::printf("entry %2d at %6.2f s: RMS %6.2f dBFS, treble %6.2f dB, bass %6.2f dB\n", i, entryStarts[i],
                    e.rmsDb(), e.trebleDb(), e.bassDb());
        EXPECT_GT(e.rmsDb(), -40.0) << "entry " << i;
    }
    // The scenes' main parts sit at a full but unclipped level.
    for (int i : {7, 8, 11, 13, 14, 15, 16, 19}) {
        EXPECT_GE(r.entries[i].rmsDb(), -18.0) << "entry " << i;
        EXPECT_LE(r.entries[i].rmsDb(), -10.0) << "entry " << i;
    }
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

TEST(Soundtrack, AccentsEveryEighthRowOfTheRhythmDiscGroove) {
    // The rhythm-disc scene moves its streaks every 8 rows of the pattern.
    // Its groove (pattern of orders 4 and 19, whose drums repeat every
    // 12-row bar) accents those rows: compare the marked rows with the
    // rows at the same places in bars where no mark falls.
    const Rendering& r = show();
    ASSERT_FALSE(r.rowTreble.empty());
    double marked = 0.0, unmarked = 0.0;
    for (int orderStartRow : {192, 804}) {
        for (int row : {8, 16, 32, 40}) marked += r.rowTreble[static_cast<std::size_t>(orderStartRow + row)];
        for (int row : {20, 4, 44, 28}) unmarked += r.rowTreble[static_cast<std::size_t>(orderStartRow + row)];
    }
    const double accent = 10.0 * std::log10(marked / unmarked);
    std::printf("eighth-row accents: %.1f dB above the same places unmarked\n", accent);
    EXPECT_GT(accent, 3.0);
}

std::vector<unsigned char> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Soundtrack, GeneratorReproducesTheStoredModule) {
    const auto out = std::filesystem::temp_directory_path() /
                     ("morvane_soundtrack_" + std::to_string(::getpid()) + ".xm");
    const std::string command = std::string("\"") + MORVANE_SOUNDTRACK_GENERATOR + "\" \"" + out.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<unsigned char> generated = readFile(out);
    std::filesystem::remove(out);
    const std::vector<unsigned char> committed = readFile(std::filesystem::path(MORVANE_SOURCE_DIR) / "data/soundtrack.xm");
    const std::vector<unsigned char> embedded(soundtrackModule, soundtrackModule + soundtrackModuleSize);
    ASSERT_FALSE(generated.empty());
    EXPECT_TRUE(generated == committed) << "data/soundtrack.xm differs from the generator's output; run make data";
    EXPECT_TRUE(generated == embedded) << "the embedded module differs from the generator's output";
}

}  // namespace
