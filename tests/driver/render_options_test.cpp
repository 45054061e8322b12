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

TEST(RenderOptions, VideoRangeScaleAndWhatGoesWithIt)
{
    const Parsed whole = parse({"--video", "show.MP4"});
    ASSERT_EQ(whole.result, ParseResult::run) << whole.message;
    EXPECT_EQ(whole.options.scale, 2);
    EXPECT_EQ(whole.options.from, 0.0);
    EXPECT_EQ(whole.options.to, static_cast<double>(timeline.entries[timeline.count].start));  // the show's end
    const Parsed part = parse({"--video=a.webm", "--from", "26", "--to=28", "--scale", "1", "--fps", "30"});
    ASSERT_EQ(part.result, ParseResult::run) << part.message;
    EXPECT_EQ(part.options.videoPath, "a.webm");
    EXPECT_EQ(part.options.to, 28.0);

    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{"--video", "show.avi"}, "must end in .mp4, .mkv or .webm"},
        {{"--video", "show.mp4", "--scale", "7"}, "--scale needs a whole number from 1 to 6"},
        {{"--video", "show.mp4", "--from", "170"}, "--from needs a time in the show"},
        {{"--video", "show.mp4", "--from", "28", "--to", "26"}, "--from must come before --to"},
        {{"--video", "show.mp4", "--from", "1.001", "--to", "1.01", "--fps", "60"}, "no frame falls between"},
        {{"--scale", "2", "--wav", "a.wav"}, "go with --video"},
        {{"--video", "show.mp4", "--wav", "a.wav"}, "makes only the video"},
        {{"--video", "show.mp4", "--bench"}, "makes only the video"},
    };
    for (const auto& [args, expected] : cases) {
        const Parsed p = parse(args);
        EXPECT_EQ(p.result, ParseResult::error) << expected;
        EXPECT_NE(p.message.find(expected), std::string::npos) << "message: " << p.message;
    }

    // Where a recording cuts: the first frame at or past the time, also
    // where the product rounds the wrong way.
    EXPECT_EQ(firstFrameAtOrAfter(26.0, 60), 1560);
    EXPECT_EQ(firstFrameAtOrAfter(168.81, 60), 10129);
    EXPECT_EQ(firstFrameAtOrAfter(0.1, 30), 3);
    EXPECT_EQ(firstFrameAtOrAfter(0.7, 10), 7);
    EXPECT_EQ(firstFrameAtOrAfter(0.0, 60), 0);
}

} // namespace
