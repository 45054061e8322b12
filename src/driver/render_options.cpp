#include "driver/render_options.hpp"

#include "render/video_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

const char* const renderUsage =
    "Usage: morvane-render --at SECONDS [--at SECONDS ...] --out DIR [--fps N] [--wav FILE]\n"
    "  or:  morvane-render --bench [--wav FILE]\n"
    "  or:  morvane-render --wav FILE [--fps N]\n"
    "  or:  morvane-render --video FILE [--fps N] [--scale K] [--from SECONDS] [--to SECONDS]\n"
    "\n"
    "Renders the show offline, without a window or an audio device. Every frame\n"
    "is drawn from 0 s at a fixed frame rate, with the music played in step, so\n"
    "the pictures are those the live show draws at that frame rate.\n"
    "\n"
    "  --at SECONDS  write the first frame at or past this time on the frame\n"
    "                clock (frame k is drawn at k / N seconds) as\n"
    "                DIR/frame_MMMMMM.png (the time in milliseconds), 640 x 320 RGB;\n"
    "                may be repeated; the time must not be past the last frame\n"
    "  --out DIR     directory for the stills (created if missing)\n"
    "  --fps N       frames per second, 1 to 1000 (default 60)\n"
    "  --bench       draw the whole show at 60 frames per second without writing\n"
    "                images and print the drawing time per scene (CPU time of\n"
    "                the drawing thread), also in multiples of one 640 x 320\n"
    "                frame copy timed the same way in the same run\n"
    "  --wav FILE    also write the show's audio, with its fade-out, as 16-bit\n"
    "                stereo WAV at 44,100 Hz, front to back (FILE may be a pipe)\n"
    "  --video FILE  write the show as a video with its sound: .mp4 (H.264 and\n"
    "                AAC), .mkv (H.264 and FLAC) or .webm (VP9 and Opus); the 640 x 480\n"
    "                picture of the live show, the frame between black bands\n"
    "  --scale K     enlarge the video K times with sharp pixels, 1 to 6\n"
    "                (default 2: 1280 x 960)\n"
    "  --from SECONDS, --to SECONDS\n"
    "                record only this part of the show into the video (the\n"
    "                frames before it are still drawn, unrecorded)\n"
    "  --help        show this text\n"
    "  --version     show the program's version\n";

namespace {

bool parseInt(const std::string& text, int& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < -2147483647L || v > 2147483647L)
        return false;
    value = static_cast<int>(v);
    return true;
}

bool parseSeconds(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value);
}

// The shortest decimal that reads back as exactly this double.
std::string exactText(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

std::string stillFileName(double seconds)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06lld.png", std::llround(seconds * 1000.0));
    return name;
}

double lastFrameTime(const Timeline& show, int fps)
{
    Timeline table = show;
    deriveTimeline(table);
    TimelineClock clock;
    FrameStep step;
    long long frame = 0;
    while (stepTimeline(clock, table, frameClock(frame, fps), step))
        ++frame;
    return frameClock(frame - 1, fps);
}

long long firstFrameAtOrAfter(double seconds, int fps)
{
    long long index = std::max(0LL, std::llround(std::ceil(seconds * fps)));
    // The frame clock divides, so settle the rounding of the product here.
    while (index > 0 && static_cast<double>(index - 1) / fps >= seconds)
        --index;
    while (static_cast<double>(index) / fps < seconds)
        ++index;
    return index;
}

ParseResult parseRenderOptions(int argc, const char* const* argv, const Timeline& show, RenderOptions& options,
                               std::string& message)
{
    options = RenderOptions{};
    const double showEnd = show.entries[show.count].start;
    std::vector<std::string> atTexts;  // as given, for the messages
    bool fpsGiven = false;
    bool scaleGiven = false;
    bool rangeGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        const bool takesValue = arg == "--at" || arg == "--out" || arg == "--fps" || arg == "--wav" ||
                                arg == "--video" || arg == "--scale" || arg == "--from" || arg == "--to";
        if (takesValue && !hasValue) {
            if (i + 1 >= argc) {
                message = arg + " needs a value";
                return ParseResult::error;
            }
            value = argv[++i];
        } else if (!takesValue && hasValue) {
            message = arg + " takes no value";
            return ParseResult::error;
        }

        if (arg == "--help" || arg == "-h") {
            return ParseResult::help;
        } else if (arg == "--version") {
            return ParseResult::version;
        } else if (arg == "--bench") {
            options.bench = true;
        } else if (arg == "--fps") {
            if (!parseInt(value, options.fps) || options.fps < 1 || options.fps > 1000) {
                message = "--fps needs a whole number from 1 to 1000, not '" + value + "'";
                return ParseResult::error;
            }
            fpsGiven = true;
        } else if (arg == "--at") {
            double t = 0.0;
            if (!parseSeconds(value, t)) {
                message = "--at needs a time in seconds, not '" + value + "'";
                return ParseResult::error;
            }
            if (t < 0.0) {
                message = "--at " + value + " is before the show, which starts at 0 s";
                return ParseResult::error;
            }
            options.stillTimes.push_back(t);
            atTexts.push_back(value);
        } else if (arg == "--out") {
            if (value.empty()) {
                message = "--out needs a directory";
                return ParseResult::error;
            }
            options.outDir = value;
        } else if (arg == "--wav") {
            if (value.empty()) {
                message = "--wav needs a file name";
                return ParseResult::error;
            }
            options.wavPath = value;
        } else if (arg == "--video") {
            if (videoContainerFor(value) == VideoContainer::none) {
                message = "--video cannot write '" + value + "': the file name must end in " + videoFormatsText;
                return ParseResult::error;
            }
            options.videoPath = value;
        } else if (arg == "--scale") {
            if (!parseInt(value, options.scale) || options.scale < 1 || options.scale > 6) {
                message = "--scale needs a whole number from 1 to 6, not '" + value + "'";
                return ParseResult::error;
            }
            scaleGiven = true;
        } else if (arg == "--from" || arg == "--to") {
            double t = 0.0;
            if (!parseSeconds(value, t) || t < 0.0 || t > showEnd) {
                char range[128];
                std::snprintf(range, sizeof range, "%s needs a time in the show (0 to %.2f s), not '%s'", arg.c_str(),
                              showEnd, value.c_str());
                message = range;
                return ParseResult::error;
            }
            (arg == "--from" ? options.from : options.to) = t;
            rangeGiven = true;
        } else {
            message = "unknown option '" + std::string(argv[i]) + "'";
            return ParseResult::error;
        }
    }

    if (options.bench && (!options.stillTimes.empty() || !options.outDir.empty())) {
        message = "--bench writes no images: leave out --at and --out";
        return ParseResult::error;
    }
    if (options.bench && fpsGiven) {
        message = "--bench always runs at 60 frames per second: leave out --fps";
        return ParseResult::error;
    }
    if (options.videoPath.empty() && (scaleGiven || rangeGiven)) {
        message = "--scale, --from and --to go with --video FILE";
        return ParseResult::error;
    }
    if (!options.videoPath.empty() && (options.bench || !options.wavPath.empty() || !options.outDir.empty() ||
                                       !options.stillTimes.empty())) {
        message = "--video makes only the video: leave out --at, --out, --wav and --bench";
        return ParseResult::error;
    }
    if (options.to < 0.0)
        options.to = showEnd;
    if (options.from >= options.to) {
        message = "--from must come before --to";
        return ParseResult::error;
    }
    if (!options.videoPath.empty() &&
        firstFrameAtOrAfter(options.from, options.fps) >= firstFrameAtOrAfter(options.to, options.fps)) {
        message = "no frame falls between --from and --to at this frame rate";
        return ParseResult::error;
    }
    if (!options.stillTimes.empty() && options.outDir.empty()) {
        message = "--at needs --out DIR for the images";
        return ParseResult::error;
    }
    if (!options.outDir.empty() && options.stillTimes.empty()) {
        message = "--out needs at least one --at SECONDS";
        return ParseResult::error;
    }
    if (!options.bench && options.stillTimes.empty() && options.wavPath.empty() && options.videoPath.empty()) {
        message = "nothing to do: give --at and --out, --bench, --wav or --video";
        return ParseResult::error;
    }
    // Refused before any work: a time no frame reaches would otherwise be
    // found out only after the whole show was drawn.
    if (!options.stillTimes.empty()) {
        const double last = lastFrameTime(show, options.fps);
        for (std::size_t i = 0; i < options.stillTimes.size(); ++i) {
            if (!frameClockReaches(last, options.stillTimes[i])) {
                message = "--at " + atTexts[i] + " is past the last frame: at " +
                          std::to_string(options.fps) + " frames per second it is drawn at " + exactText(last) +
                          " s";
                return ParseResult::error;
            }
        }
    }
    // Two times that round to the same millisecond would write one file twice.
    std::set<std::string> names;
    for (double t : options.stillTimes) {
        if (!names.insert(stillFileName(t)).second) {
            message = "two --at times name the same file " + stillFileName(t);
            return ParseResult::error;
        }
    }
    return ParseResult::run;
}
