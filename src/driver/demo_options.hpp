// Command line of the live demo, morvane. With no arguments it plays the show.
#pragma once

#include <string>

enum class DemoCommand { play, help, version, error };

struct DemoOptions {
    bool windowed = false;  // --window: in a window instead of full screen
};

// What the arguments ask for; on error, message says what is wrong.
DemoCommand parseDemoOptions(int argc, const char* const* argv, DemoOptions& options, std::string& message);

extern const char* const demoUsage;
