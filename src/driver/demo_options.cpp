#include "driver/demo_options.hpp"

const char* const demoUsage =
    "Usage: morvane [--help] [--version]\n"
    "\n"
    "Plays the Morvane demo: eight software-rendered scenes in step with their\n"
    "own tracker soundtrack, 168.81 seconds long, full screen, and then ends.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the program's version\n"
;

DemoCommand parseDemoOptions(int argc, const char* const* argv, std::string& message)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return DemoCommand::help;
        if (arg == "--version")
            return DemoCommand::version;
        message = "unknown option '" + arg + "'";
        return DemoCommand::error;
    }
    return DemoCommand::play;
}
