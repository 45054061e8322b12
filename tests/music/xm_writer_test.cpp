// The soundtrack generator's XM writer, checked by reading its output back
// with libopenmpt.
#include "soundtrack/xm_writer.hpp"

#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct ModuleDeleter {
    void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using Module = std::unique_ptr<openmpt_module, ModuleDeleter>;

Module load(const std::vector<std::uint8_t>& bytes) {
    return Module(openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, nullptr));
}

std::string text(const char* s) {
    std::string v = s ? s : "";
    openmpt_free_string(s);
    return v;
}

std::string cell(openmpt_module* m, int pattern, int row, int channel) {
    return text(openmpt_module_format_pattern_row_channel(m, pattern, row, channel, 0, 1));
}

// Two channels, two patterns, one instrument whose sample holds a constant
// level, looped.
XmModule smallModule() {
    XmModule m;
    m.channels = 2;
    m.restartPosition = 1;
    m.speed = 3;
    m.bpm = 100;
    m.orders = {0, 1, 0};
    XmPattern a(16, 2), b(8, 2);
    a.at(0, 0) = {49, 1, 0x10 + 48, 0, 0};       // C-4, instrument 1, volume 48
    a.at(1, 1) = {50, 1, 0x10 + 64, 0xE, 0x92};  // all five fields: written unpacked
    a.at(2, 0) = {97, 0, 0, 0, 0};               // key off
    a.at(3, 0).effect = 0xF;                     // an effect without a parameter
    a.at(3, 0).param = 0;
    a.at(15, 1) = {0, 0, 0, 0xD, 0};             // pattern break
    m.patterns = {a, b};
    XmInstrument in;
    in.name = "level";
    in.sample.data.assign(4000, 12000);
    in.sample.loopStart = 1000;
    in.sample.loopLength = 3000;
    in.volumeEnvelope.points = {{0, 64}, {10, 64}};
    in.volumeEnvelope.sustain = 1;
    m.instruments = {in};
    return m;
}

TEST(XmWriter, LibopenmptReadsBackTheModule) {
    Module m = load(writeXm(smallModule()));
    ASSERT_TRUE(m);
    EXPECT_EQ(openmpt_module_get_num_channels(m.get()), 2);
    EXPECT_EQ(openmpt_module_get_num_orders(m.get()), 3);
    EXPECT_EQ(openmpt_module_get_num_patterns(m.get()), 2);
    EXPECT_EQ(openmpt_module_get_pattern_num_rows(m.get(), 0), 16);
    EXPECT_EQ(openmpt_module_get_pattern_num_rows(m.get(), 1), 8);
    EXPECT_EQ(openmpt_module_get_current_speed(m.get()), 3);
    EXPECT_EQ(openmpt_module_get_current_tempo(m.get()), 100);
    EXPECT_EQ(text(openmpt_module_get_instrument_name(m.get(), 0)), "level");
    EXPECT_EQ(text(openmpt_module_get_metadata(m.get(), "title")), "");

    // libopenmpt names FastTracker's C-4 C-5 and shows volumes in hex.
    EXPECT_EQ(cell(m.get(), 0, 0, 0), "C-5 01v30 ...");
    EXPECT_EQ(cell(m.get(), 0, 1, 1), "C#5 01v40 E92");
    EXPECT_EQ(cell(m.get(), 0, 2, 0), "=== .. .. ...");
    EXPECT_EQ(cell(m.get(), 0, 3, 0), "... .. .. F00");
    EXPECT_EQ(cell(m.get(), 0, 4, 0), "... .. .. ...");
    EXPECT_EQ(cell(m.get(), 0, 15, 1), "... .. .. D00");
    EXPECT_EQ(cell(m.get(), 1, 7, 1), "... .. .. ...");
}

TEST(XmWriter, SampleDataSurvivesTheDeltaEncoding) {
    // A constant level decodes to a steady output; a wrong encoding would
    // come back as a ramp that wraps around.
    Module m = load(writeXm(smallModule()));
    ASSERT_TRUE(m);
    std::vector<float> buffer(2 * 4410);
    ASSERT_EQ(openmpt_module_read_interleaved_float_stereo(m.get(), 44100, 4410, buffer.data()), 4410u);
    float lowest = 1.0f, highest = -1.0f;
    // Past the note's attack, before the second channel's note at 75 ms.
    for (std::size_t i = 2 * 1000; i < 2 * 3000; ++i) {
        lowest = std::min(lowest, buffer[i]);
        highest = std::max(highest, buffer[i]);
    }
    EXPECT_GT(lowest, 0.05f);
    EXPECT_LT(highest - lowest, 0.01f);
}

TEST(XmWriter, RefusesWhatTheFormatCannotHold) {
    auto fails = [](auto change) {
        XmModule m = smallModule();
        change(m);
        EXPECT_THROW(writeXm(m), std::invalid_argument);
    };
    fails([](XmModule& m) { m.patterns[0].at(5, 0).note = 98; });
    fails([](XmModule& m) { m.instruments[0].sample.loopLength = 3001; });
    fails([](XmModule& m) { m.instruments[0].volumeEnvelope.points.resize(13); });
    fails([](XmModule& m) { m.instruments[0].volumeEnvelope.points[0].value = 65; });
    fails([](XmModule& m) { m.orders.push_back(2); });
    fails([](XmModule& m) { m.patterns[1] = XmPattern(8, 3); });
    fails([](XmModule& m) { m.name = "a name longer than twenty"; });
    fails([](XmModule& m) { m.orders.clear(); });
}

}  // namespace
