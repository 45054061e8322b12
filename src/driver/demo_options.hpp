// Command line of the live demo, morvane. With no arguments it plays the show.
#pragma once

#include <string>

enum class DemoCommand { play, help, version, error };

// What the arguments ask for; on error, message says what is wrong.
DemoCommand parseDemoOptions(int argc, const char* const* argv, std::string& message);

extern const char* const demoUsage;
