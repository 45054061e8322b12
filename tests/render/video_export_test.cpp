// morvane-render --video as a person runs it: a short export read back
// through libavformat, and the ways an export can fail.
#include "decoded_video.hpp"
#include "temp_dir.hpp"

#include <png.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// The exit code, and standard output and standard error together. The
// command runs under bash, so it may start with shell settings.
std::pair<int, std::string> run(const std::string& before, const std::string& arguments)
{
    const std::string command = "bash -c '" + before + " exec " + MORVANE_RUN_PREFIX + MORVANE_RENDER_EXE + " " +
                                arguments + "' 2>&1";
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {-1, output};
    std::array<char, 4096> chunk;
    while (std::fgets(chunk.data(), chunk.size(), pipe))
        output += chunk.data();
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::vector<unsigned char> readPng(const std::string& path, png_uint_32& width, png_uint_32& height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return {};
    width = image.width;
    height = image.height;
    return rgb;
}

} // namespace

// Two seconds from the middle of the opening scene: the right streams and
// sizes, sound that is heard and lasts as long as the pictures, and the
// frame at 27 s the same as the still of 27 s, each pixel doubled, between
// black bands.
TEST(VideoExport, ShortExportHoldsTheShowsPictureAndSound)
{
    const TempDir dir("morvane_video_export");
    const std::string video = (dir.path / "part.mp4").string();
    const auto [code, output] = run("", "--video " + video + " --from 26 --to 28");
    ASSERT_EQ(code, 0) << output;
    EXPECT_TRUE(contains(output, "wrote " + video + ": 120 frames")) << output;
    const auto [stillCode, stillOutput] = run("", "--at 27 --out " + dir.path.string());
    ASSERT_EQ(stillCode, 0) << stillOutput;

    // Frame 60 of the file is the show's frame at 26 + 60/60 s.
    const DecodedVideo file = decodeVideo(video, 60);
    ASSERT_EQ(file.error, "");
    EXPECT_EQ(file.videoStreams, 1);
    EXPECT_EQ(file.audioStreams, 1);
    EXPECT_EQ(file.videoCodec, "h264");
    EXPECT_EQ(file.audioCodec, "aac");
    EXPECT_EQ(file.width, 1280);
    EXPECT_EQ(file.height, 960);
    EXPECT_EQ(file.pixelFormat, "yuv420p");
    EXPECT_EQ(file.videoFrames, 120);
    EXPECT_NEAR(file.videoSeconds, 2.0, 1e-6);
    EXPECT_EQ(file.sampleRate, 44100);
    EXPECT_NEAR(file.audioSeconds, file.videoSeconds, 1.0 / 60.0);
    EXPECT_GT(file.audioRms, 0.01) << "the sound is silent";

    png_uint_32 width = 0, height = 0;
    const std::vector<unsigned char> still = readPng((dir.path / "frame_027000.png").string(), width, height);
    ASSERT_EQ(width, 640u);
    ASSERT_EQ(height, 320u);
    ASSERT_EQ(file.keptRgb.size(), 1280u * 960u * 3u);
    double squares = 0.0;
    long long count = 0;
    int bandMax = 0;
    for (int y = 0; y < 960; ++y) {
        for (int x = 0; x < 1280; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int got = file.keptRgb[(static_cast<std::size_t>(y) * 1280 + x) * 3 + c];
                if (y < 160 || y >= 800) {
                    bandMax = std::max(bandMax, got);
                    continue;
                }
                const int want = still[(static_cast<std::size_t>((y - 160) / 2) * 640 + x / 2) * 3 + c];
                squares += static_cast<double>((got - want) * (got - want));
                ++count;
            }
        }
    }
    const double psnr = 10.0 * std::log10(255.0 * 255.0 / std::max(squares / static_cast<double>(count), 1e-9));
    EXPECT_GE(psnr, 35.0);
    EXPECT_LE(bandMax, 8) << "the bands above and below the frame are not black";
    EXPECT_EQ(dir.entries(), 2);  // the video and the still, nothing temporary
}

// Every failure says why, and no file, whole or partial, is left behind:
// a name we cannot serve (refused before any work), a directory that is
// not there, a disk that fills up, and Ctrl-C.
TEST(VideoExport, FailuresSayWhyAndLeaveNoFile)
{
    const TempDir dir("morvane_video_fail");
    const std::string inDir = dir.path.string();

    auto [code, output] = run("", "--video " + inDir + "/show.avi");
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(contains(output, "the file name must end in .mp4, .mkv or .webm")) << output;

    std::tie(code, output) = run("", "--video " + inDir + "/missing/show.mp4");
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(contains(output, "cannot write " + inDir + "/missing/show.mp4: No such file or directory")) << output;

    // A file limit stands in for a full disk: writes past it fail with EFBIG.
    std::tie(code, output) = run("trap \"\" XFSZ; ulimit -f 100;", "--video " + inDir + "/full.mp4 --from 20 --to 28");
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(contains(output, "cannot write " + inDir + "/full.mp4: File too large")) << output;
    EXPECT_EQ(dir.entries(), 0);

    const std::string log = inDir + "/../morvane_video_interrupt.log";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::freopen(log.c_str(), "w", stderr);
        const std::string command =
            std::string("exec ") + MORVANE_RUN_PREFIX + MORVANE_RENDER_EXE + " --video " + inDir + "/stopped.mp4";
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    // Stopped while it draws and encodes the opening frames.
    for (int i = 0; i < 600 && dir.entries() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    std::stringstream said;
    said << std::ifstream(log).rdbuf();
    std::filesystem::remove(log);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << said.str();
    EXPECT_TRUE(contains(said.str(), "interrupted; " + inDir + "/stopped.mp4 not written")) << said.str();
    EXPECT_EQ(dir.entries(), 0);
}
