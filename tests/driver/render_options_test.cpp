#include "driver/render_options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    ParseResult result;
    RenderOptions options;
    std::string message;
};

Parsed parse(const std::vector<const char*>& args)
{
    std::vector<const char*> argv{"morvane-render"};
    argv.insert(argv.end(), args.begin(), args.end());
    Parsed p;
    p.result = parseRenderOptions(static_cast<int>(argv.size()), argv.data(), timeline, p.options, p.message);
    return p;
}

TEST(RenderOptions, DefaultsRepeatedTimesAndStillNames)
{
    const Parsed p = parse({"--at", "27", "--out", "shots", "--at=2.5"});
    ASSERT_EQ(p.result, ParseResult::run) << p.message;
    EXPECT_EQ(p.options.fps, 60);
    EXPECT_EQ(p.options.stillTimes, (std::vector<double>{27.0, 2.5}));
    EXPECT_EQ(parse({"--at", "1", "-h"}).result, ParseResult::help);
    EXPECT_EQ(stillFileName(27.0), "frame_027000.png");
    EXPECT_EQ(stillFileName(0.0), "frame_000000.png");
    EXPECT_EQ(stillFileName(168.805), "frame_168805.png");
}

TEST(RenderOptions, BadCommandLinesSayWhatIsWrong)
{
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{}, "nothing to do"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--at"}, "--at needs a value"},
        {{"--at", "soon", "--out", "d"}, "--at needs a time in seconds, not 'soon'"},
        {{"--at", "-1", "--out", "d"}, "before the show"},
        {{"--at", "2"}, "--at needs --out"},
        {{"--out", "d"}, "--out needs at least one --at"},
        {{"--fps", "0", "--at", "1", "--out", "d"}, "--fps needs a whole number"},
        {{"--bench", "--at", "1", "--out", "d"}, "--bench writes no images"},
        {{"--bench", "--fps", "30"}, "always runs at 60"},
        {{"--at", "1.0001", "--at", "1.0002", "--out", "d"}, "same file frame_001000.png"},
    };
    for (const auto& [args, expected] : cases) {
        const Parsed p = parse(args);
        EXPECT_EQ(p.result, ParseResult::error) << expected;
        EXPECT_NE(p.message.find(expected), std::string::npos) << "message: " << p.message;
    }
}

} // namespace
