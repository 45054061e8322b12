// Runs the built morvane-render as a person would.
#include <png.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// The exit code, and standard output and standard error together.
std::pair<int, std::string> runRenderer(const std::string& arguments)
{
    const std::string command = std::string(MORVANE_RUN_PREFIX) + MORVANE_RENDER_EXE + " " + arguments + " 2>&1";
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
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("morvane_render_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    const auto [code, output] = runRenderer("--fps 10 --at 0.55 --at 0 --out " + dir.string());
    ASSERT_EQ(code, 0) << output;

    // 0.55 s at 10 frames per second is first reached by the frame at 0.6 s.
    EXPECT_NE(output.find("frame_000000.png  demoTime 0  sceneTime 0  progress 0  variant 0"), std::string::npos)
        << output;
    const std::string later = "frame_000550.png  demoTime ";
    const std::size_t at = output.find(later);
    ASSERT_NE(at, std::string::npos) << output;
    EXPECT_NEAR(std::stod(output.substr(at + later.size())), 0.6, 1e-5) << output;

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

} // namespace
