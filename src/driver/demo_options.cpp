#include "driver/demo_options.hpp"

const char* const demoUsage =
    "Usage: morvane [--window] [--help] [--version]\n"
    "\n"
    "Plays the Morvane demo: eight software-rendered scenes in step with their\n"
    "own tracker soundtrack, 168.81 seconds long, full screen, and then ends.\n"
    "\n"
    "  --window   play in a window (1280 x 960, or the largest 4:3 size that\n"
    "             fits the desktop) that can be resized, instead of full screen\n"
    "  --help     show this text\n"
    "  --version  show the program's version\n"
;

DemoCommand parseDemoOptions(int argc, const char* const* argv, DemoOptions& options, std::string& message)
{
    options = DemoOptions{};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--window") {
            options.windowed = true;
            continue;
        }
        if (arg == "--help" || arg == "-h")
            return DemoCommand::help;
        if (arg == "--version")
            return DemoCommand::version;
        message = "unknown option '" + arg + "'";
        return DemoCommand::error;
    }
    return DemoCommand::play;
}
