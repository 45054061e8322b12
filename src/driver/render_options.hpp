// Command line of the offline renderer, morvane-render.
#pragma once

#include "driver/timeline.hpp"

#include <string>
#include <vector>

struct RenderOptions {
    int fps = 60;
    std::vector<double> stillTimes;  // --at, in the order given
    std::string outDir;              // --out
    std::string wavPath;             // --wav
    bool bench = false;
    std::string videoPath;           // --video
    int scale = 2;                   // --scale
    double from = 0.0;               // --from
    double to = -1.0;                // --to; the show's end when not given
};

enum class ParseResult { run, help, version, error };

// Fills options from argv; on error, message says what is wrong. A still
// time past the last frame the show draws at the chosen rate is an error.
ParseResult parseRenderOptions(int argc, const char* const* argv, const Timeline& show, RenderOptions& options,
                               std::string& message);

// The frame clock time of the last frame the show draws at this rate.
double lastFrameTime(const Timeline& show, int fps);

// "frame_027000.png" for 27 s: the time in whole milliseconds, six digits.
std::string stillFileName(double seconds);

// The index of the first frame whose time (index / fps) is at or past the given
// time: where a recording that starts or stops there cuts.
long long firstFrameAtOrAfter(double seconds, int fps);

extern const char* const renderUsage;
