// Runs the built morvane-render as a person would.
#include <png.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

// The exit code, and standard output and standard error together (or only
// standard output, byte for byte).
std::pair<int, std::string> runRenderer(const std::string& arguments, bool outputOnly = false)
{
    const std::string command = std::string(MORVANE_RUN_PREFIX) + MORVANE_RENDER_EXE + " " + arguments +
                                (outputOnly ? " 2>/dev/null" : " 2>&1");
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {-1, output};
    std::array<char, 65536> chunk;
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0;)
        output.append(chunk.data(), n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::filesystem::path scratchDirectory(const char* name)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / (std::string(name) + "_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    return dir;
}

// A value from the line printed for a still: "frame_000700.png  demoTime ...".
double printedValue(const std::string& output, const std::string& still, const std::string& field)
{
    const std::size_t line = output.find(still + "  ");
    const std::size_t at = line == std::string::npos ? line : output.find(field + " ", line);
    return at == std::string::npos ? NAN : std::stod(output.substr(at + field.size() + 1));
}

std::uint32_t little32(const std::string& bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

TEST(RenderCommand, BadOptionsExitWithTwoAndSayWhy)
{
    const auto [code, output] = runRenderer("--sparkle");
    EXPECT_EQ(code, 2);
    EXPECT_NE(output.find("unknown option '--sparkle'"), std::string::npos) << output;
    const auto [helpCode, help] = runRenderer("--help");
    EXPECT_EQ(helpCode, 0);
    EXPECT_NE(help.find("--bench"), std::string::npos) << help;
}

TEST(RenderCommand, StillsAreNamedByTheirTimeAndPrintTheirFrame)
{
    const std::filesystem::path dir = scratchDirectory("morvane_render_test");
    const auto [code, output] = runRenderer("--fps 10 --at 0.55 --at 0 --out " + dir.string());
    ASSERT_EQ(code, 0) << output;

    // 0.55 s at 10 frames per second is first reached by the frame at 0.6 s.
    EXPECT_NE(output.find("frame_000000.png  demoTime 0  sceneTime 0  progress 0  variant 0"), std::string::npos)
        << output;
    EXPECT_NEAR(printedValue(output, "frame_000550.png", "demoTime"), 0.6, 1e-5) << output;

    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, entry.path().c_str())) << entry.path();
        EXPECT_EQ(image.width, 640u);
        EXPECT_EQ(image.height, 320u);
        EXPECT_EQ(image.format, static_cast<png_uint_32>(PNG_FORMAT_RGB));
        png_image_free(&image);
        ++files;
    }
    EXPECT_EQ(files, 2);
    std::filesystem::remove_all(dir);
}

// Frame k stands for k / fps seconds. The float clock of the frame drawn at
// 0.7 s is a rounding below 0.7, and that frame must still be the one
// written; so must frame 1 for its time written with six decimals.
TEST(RenderCommand, StillsAreChosenByTheFrameClock)
{
    const std::filesystem::path dir = scratchDirectory("morvane_render_clock_test");
    const auto [code, output] = runRenderer("--at 0.7 --at 0.0166667 --out " + dir.string());
    ASSERT_EQ(code, 0) << output;
    EXPECT_NEAR(printedValue(output, "frame_000700.png", "sceneTime"), 0.7, 1e-6) << output;
    EXPECT_NEAR(printedValue(output, "frame_000017.png", "sceneTime"), 1.0 / 60.0, 1e-6) << output;
    std::filesystem::remove_all(dir);
}

TEST(RenderCommand, TimesPastTheLastFrameAreRefusedAtOnceWithTheLimit)
{
    const std::filesystem::path dir = scratchDirectory("morvane_render_late_test");
    const auto start = std::chrono::steady_clock::now();
    const auto [code, output] = runRenderer("--at 168.80999 --out " + dir.string());
    EXPECT_EQ(code, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "the show was drawn first";
    EXPECT_NE(output.find("at 60 frames per second it is drawn at 168.8 s"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(dir));
    // The limit itself, printed exactly, is accepted.
    const auto [sevenCode, sevenOutput] = runRenderer("--fps 7 --at 168.8 --out " + dir.string());
    EXPECT_EQ(sevenCode, 2);
    const std::string limit = "drawn at ";
    const std::size_t at = sevenOutput.find(limit);
    ASSERT_NE(at, std::string::npos) << sevenOutput;
    const std::string last = sevenOutput.substr(at + limit.size(), sevenOutput.find(" s", at) - at - limit.size());
    EXPECT_EQ(last, "168.71428571428572");
    const auto [lastCode, lastOutput] = runRenderer("--fps 7 --at " + last + " --out " + dir.string());
    EXPECT_EQ(lastCode, 0) << lastOutput;
    std::filesystem::remove_all(dir);
}

// The length is known before anything is drawn: a pipe gets a complete WAV
// whose header already holds the show's 168.81 s.
TEST(RenderCommand, AudioIntoAPipeIsACompleteWav)
{
    const auto [code, wav] = runRenderer("--fps 1 --wav /dev/stdout", true);
    ASSERT_EQ(code, 0);
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(std::llround(static_cast<double>(168.81f) * 44100)) * 4;
    ASSERT_EQ(wav.size(), 44u + dataBytes);
    EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(little32(wav, 4), 36 + dataBytes);
    EXPECT_EQ(wav.compare(8, 8, "WAVEfmt "), 0);
    EXPECT_EQ(wav.compare(36, 4, "data"), 0);
    EXPECT_EQ(little32(wav, 40), dataBytes);
}

TEST(RenderCommand, AudioThatCannotBeWrittenSaysWhy)
{
    const auto [code, output] = runRenderer("--fps 1 --wav /dev/full");
    EXPECT_EQ(code, 1);
    EXPECT_NE(output.find("cannot write /dev/full: " + std::string(std::strerror(ENOSPC))), std::string::npos)
        << output;
}

} // namespace
