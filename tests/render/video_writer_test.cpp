// The writer on its own, with made-up pictures and sound.
#include "render/video_writer.hpp"
#include "decoded_video.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <vector>

namespace {

// A square wave in both channels, or silence.
std::vector<float> sound(int frames, float level)
{
    std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i / 2) % 100 < 50 ? level : -level;
    return samples;
}

} // namespace

TEST(VideoWriter, ContainersAreChosenByExtension)
{
    EXPECT_EQ(videoContainerFor("show.mp4"), VideoContainer::mp4);
    EXPECT_EQ(videoContainerFor("dir.webm/show.MKV"), VideoContainer::mkv);
    EXPECT_EQ(videoContainerFor("/tmp/Show.WebM"), VideoContainer::webm);
    EXPECT_EQ(videoContainerFor("show.avi"), VideoContainer::none);
    EXPECT_EQ(videoContainerFor("mp4"), VideoContainer::none);
    EXPECT_EQ(videoContainerFor("show.mp4.part"), VideoContainer::none);
}

// Sound given before the first recorded frame's time is dropped, sound
// missing at the end is filled with silence, and each container carries
// the codecs it promises.
TEST(VideoWriter, SoundStartsAndEndsWithThePictures)
{
    const TempDir dir("morvane_video_writer");
    const int fps = 30;
    const struct {
        const char* name;
        const char* video;
        const char* audio;
    } kinds[] = {{"a.mp4", "h264", "aac"}, {"a.mkv", "h264", "flac"}, {"a.webm", "vp9", "opus"}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::string path = (dir.path / kind.name).string();
        VideoWriter writer;
        std::string error;
        // Recording starts at frame 15, 0.5 s into the show: the loud half
        // second before it must not be heard.
        ASSERT_TRUE(writer.open(path, {fps, 1, 15}, error)) << error;
        ASSERT_TRUE(writer.writeAudio(sound(22050, 0.5f).data(), 22050, error)) << error;
        Image frame(640, 320);
        for (int i = 0; i < 12; ++i) {
            const std::uint32_t colour = i == 6 ? 0x00C08040u : 0x00306090u;
            for (int y = 0; y < frame.height; ++y)
                std::fill_n(frame.row(y), frame.width, colour);
            ASSERT_TRUE(writer.writeFrame(frame, error)) << error;
            // Silence for the first 0.1 s recorded, then nothing: the end is filled.
            if (i < 3) {
                ASSERT_TRUE(writer.writeAudio(sound(1470, 0.0f).data(), 1470, error)) << error;
            }
        }
        ASSERT_TRUE(writer.finish(error)) << error;

        const DecodedVideo file = decodeVideo(path, 6);
        ASSERT_EQ(file.error, "");
        EXPECT_EQ(file.videoStreams, 1);
        EXPECT_EQ(file.audioStreams, 1);
        EXPECT_EQ(file.videoCodec, kind.video);
        EXPECT_EQ(file.audioCodec, kind.audio);
        EXPECT_EQ(file.width, 640);
        EXPECT_EQ(file.height, 480);
        EXPECT_EQ(file.pixelFormat, "yuv420p");
        EXPECT_EQ(file.videoFrames, 12);
        EXPECT_NEAR(file.videoSeconds, 12.0 / fps, 1e-6);
        EXPECT_NEAR(file.audioSeconds, file.videoSeconds, 1.0 / fps);
        EXPECT_LT(file.audioRms, 0.01);

        // The frame in its colour at display rows 80 to 399, black above and below.
        ASSERT_EQ(file.keptRgb.size(), 640u * 480u * 3u);
        auto at = [&](int x, int y, int c) { return static_cast<int>(file.keptRgb[(y * 640 + x) * 3 + c]); };
        for (const int y : {100, 240, 380}) {
            EXPECT_NEAR(at(320, y, 0), 0xC0, 6);
            EXPECT_NEAR(at(320, y, 1), 0x80, 6);
            EXPECT_NEAR(at(320, y, 2), 0x40, 6);
        }
        for (const int y : {10, 70, 410, 470})
            EXPECT_LE(at(320, y, 0) + at(320, y, 1) + at(320, y, 2), 12) << "row " << y;
    }
    EXPECT_EQ(dir.entries(), 3);  // the three files, no temporary ones
}

TEST(VideoWriter, NothingIsLeftWhenAFileIsAbandonedOrCannotBeMade)
{
    const TempDir dir("morvane_video_abandon");
    {
        VideoWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open((dir.path / "gone.mp4").string(), {60, 1, 0}, error)) << error;
        Image frame(640, 320);
        ASSERT_TRUE(writer.writeFrame(frame, error)) << error;
        EXPECT_EQ(dir.entries(), 1);  // the temporary file, while writing
    }
    EXPECT_EQ(dir.entries(), 0);

    VideoWriter writer;
    std::string error;
    const std::string missing = (dir.path / "no" / "such.mp4").string();
    EXPECT_FALSE(writer.open(missing, {60, 2, 0}, error));
    EXPECT_NE(error.find("cannot write " + missing), std::string::npos) << error;
    EXPECT_EQ(dir.entries(), 0);
}
