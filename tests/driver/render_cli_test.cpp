// Runs the built morvane-render as a person would.
#include <png.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct RenderRun {
    int exitCode;
    std::string output;  // standard output and standard error together
};

RenderRun runRenderer(const std::string& arguments)
{
    const std::string command = std::string(MORVANE_RENDER_EXE) + " " + arguments + " 2>&1";
    RenderRun run{-1, {}};
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> chunk;
    while (std::fgets(chunk.data(), chunk.size(), pipe))
        run.output += chunk.data();
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace

TEST(RenderCommand, BadOptionsExitWithTwoAndSayWhy)
{
    const RenderRun unknown = runRenderer("--sparkle");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.output.find("unknown option '--sparkle'"), std::string::npos) << unknown.output;

    const RenderRun noOut = runRenderer("--at 3");
    EXPECT_EQ(noOut.exitCode, 2);
    EXPECT_NE(noOut.output.find("--out"), std::string::npos) << noOut.output;

    const RenderRun help = runRenderer("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--bench"), std::string::npos);
}

TEST(RenderCommand, StillsAreNamedByTheirTimeAndPrintTheirFrame)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("morvane_render_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    const RenderRun run = runRenderer("--fps 10 --at 0.55 --at 0 --out " + dir.string());
    ASSERT_EQ(run.exitCode, 0) << run.output;

    // 0.55 s at 10 frames per second is first reached by the frame at 0.6 s.
    EXPECT_NE(run.output.find("frame_000000.png  demoTime 0  sceneTime 0  progress 0  variant 0"), std::string::npos)
        << run.output;
    const std::string later = "frame_000550.png  demoTime ";
    const std::size_t at = run.output.find(later);
    ASSERT_NE(at, std::string::npos) << run.output;
    EXPECT_NEAR(std::stod(run.output.substr(at + later.size())), 0.6, 1e-5) << run.output;

    for (const char* name : {"frame_000000.png", "frame_000550.png"}) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, (dir / name).string().c_str())) << name;
        EXPECT_EQ(image.width, 640u);
        EXPECT_EQ(image.height, 320u);
        EXPECT_EQ(image.format, static_cast<png_uint_32>(PNG_FORMAT_RGB));
        png_image_free(&image);
    }
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir))
        ++files;
    EXPECT_EQ(files, 2);
    std::filesystem::remove_all(dir);
}
