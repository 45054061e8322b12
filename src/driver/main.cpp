#include "driver/demo_options.hpp"
#include "driver/run_demo.hpp"
#include "platform/window.hpp"

#include <cstdio>

int main(int argc, char** argv)
{
    DemoOptions options;
    std::string message;
    switch (parseDemoOptions(argc, argv, options, message)) {
    case DemoCommand::help:
        std::fputs(demoUsage, stdout);
        return 0;
    case DemoCommand::version:
        std::printf("morvane %s\n", MORVANE_VERSION);
        return 0;
    case DemoCommand::error:
        std::fprintf(stderr, "morvane: %s\nTry 'morvane --help' for the options.\n", message.c_str());
        return 2;
    case DemoCommand::play:
        break;
    }
    xp_window_set_windowed(options.windowed);
    return runDemo();
}
