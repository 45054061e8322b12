// morvane-render: draws the show offline, without a window or an audio
// device, for stills, recordings and benchmarks. It runs the demo's start-up
// and steps the same timeline with a fixed frame time from 0 s, so scenes
// that keep state between frames evolve as they do live, and it plays the
// music offline in step with the frames, so the row and the master volume
// behave as live.
#include "scenes/shared.hpp"
#include "driver/png_writer.hpp"
#include "driver/prepare.hpp"
#include "driver/render_options.hpp"
#include "assets/stored_data.hpp"
#include "driver/timeline.hpp"
#include "driver/wav_writer.hpp"
#include "music/music.hpp"
#include "render/interrupt.hpp"
#include "render/progress.hpp"
#include "render/video_writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <time.h>
#include <vector>

namespace {

constexpr int mixRate = 44100;
constexpr int audioChunk = 4096;
constexpr int benchFps = 60;

// Drawing is timed on the thread's own CPU clock, so that time the machine
// gives to other processes does not count as drawing time.
double cpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

// The music played in step with the frames; silent when the module is
// missing, and silent after the song has ended, so that a recording always
// has the length announced in its header.
struct OfflineMusic {
    long long framesRendered = 0;
    bool ended = false;
    WavWriter* wav = nullptr;
    VideoWriter* video = nullptr;
    std::string videoError;
    float buffer[audioChunk * 2];

    bool start()
    {
        FSOUND_File_SetCallbacks(memOpen, memClose, memRead, memSeek, memTell);
        song = FMUSIC_LoadSong(reinterpret_cast<const char*>(soundtrackModule));
        if (!song)
            return false;
        FMUSIC_SetMasterVolume(song, 240);
        return FMUSIC_PlaySongOffline(song);
    }

    // Renders the audio from where it stopped up to the given time.
    bool advanceTo(double seconds)
    {
        const long long target = std::llround(seconds * mixRate);
        while (framesRendered < target) {
            const int want = static_cast<int>(std::min<long long>(audioChunk, target - framesRendered));
            int got = 0;
            if (song && !ended) {
                got = FMUSIC_RenderOffline(song, buffer, want);
                ended = got <= 0;
            }
            if (!song || ended) {
                if (!wav)
                    return true;  // nothing to fill
                std::fill(buffer, buffer + 2 * want, 0.0f);
                got = want;
            }
            framesRendered += got;
            if (wav && !wav->write(buffer, got))
                return false;
            if (video && !video->writeAudio(buffer, got, videoError))
                return false;
        }
        return true;
    }
};

struct Percentiles {
    double median;
    double p95;
};

Percentiles percentiles(std::vector<double>& values)
{
    if (values.empty())
        return {0.0, 0.0};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
    const std::size_t rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n)));
    return {median, values[std::max<std::size_t>(rank, 1) - 1]};
}

// Median time of one memcpy of a 640 x 320 frame, the unit of the benchmark.
double measureFrameCopy(int samples)
{
    const std::size_t bytes = static_cast<std::size_t>(frameWidth) * frameHeight * 4;
    std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples + 50; ++i) {
        const double start = cpuMilliseconds();
        std::memcpy(to.data(), from.data(), bytes);
        asm volatile("" : : "r"(to.data()) : "memory");  // keep the copy
        const double ms = cpuMilliseconds() - start;
        if (i >= 50)
            times.push_back(ms);
    }
    return percentiles(times).median;
}

int sceneNumber(SceneFunc scene)
{
    static const SceneFunc scenes[] = {scene1, scene2, scene3, scene4, scene5, scene6, scene7, scene8};
    for (int i = 0; i < 8; ++i)
        if (scenes[i] == scene)
            return i + 1;
    return 0;
}

void printBenchLine(const char* name, std::vector<double>& times, double copyMs)
{
    const std::size_t frames = times.size();
    const Percentiles p = percentiles(times);
    std::printf("%-6s  frames %zu  median %.3f ms  p95 %.3f ms  median %.1f copies  p95 %.1f copies\n", name, frames,
                p.median, p.p95, p.median / copyMs, p.p95 / copyMs);
}

struct Still {
    double time;
    std::string path;
};

int render(const RenderOptions& options)
{
    std::vector<Still> stills;
    for (double t : options.stillTimes)
        stills.push_back({t, (std::filesystem::path(options.outDir) / stillFileName(t)).string()});
    std::sort(stills.begin(), stills.end(), [](const Still& a, const Still& b) { return a.time < b.time; });

    // The music first: a recording without it would be a failure reported
    // as success, and is refused before any file is made.
    OfflineMusic music;
    if (!music.start()) {
        song = nullptr;
        if (!options.wavPath.empty() || !options.videoPath.empty()) {
            std::fprintf(stderr, "morvane-render: the soundtrack cannot be played, so there is no audio to write\n");
            return 1;
        }
        std::fprintf(stderr, "morvane-render: the soundtrack cannot be played; rendering without music\n");
    }

    if (!options.outDir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(options.outDir, failure);
        if (failure) {
            std::fprintf(stderr, "morvane-render: cannot create %s: %s\n", options.outDir.c_str(),
                         failure.message().c_str());
            return 1;
        }
    }

    // The recording runs to the end of the show, past the last frame.
    const double showEnd = timeline.entries[timeline.count].start;
    WavWriter wav;
    std::string error;
    if (!options.wavPath.empty()) {
        if (!wav.open(options.wavPath, std::llround(showEnd * mixRate), error)) {
            std::fprintf(stderr, "morvane-render: %s\n", error.c_str());
            return 1;
        }
        music.wav = &wav;
    }

    // The video file is set up first, so that a path we cannot write fails at once.
    VideoWriter video;
    const bool recording = !options.videoPath.empty();
    const long long firstVideoFrame = firstFrameAtOrAfter(options.from, options.fps);
    const long long endVideoFrame = firstFrameAtOrAfter(options.to, options.fps);
    if (recording) {
        catchInterrupts();
        if (!video.open(options.videoPath, {options.fps, options.scale, firstVideoFrame}, error)) {
            std::fprintf(stderr, "morvane-render: %s\n", error.c_str());
            return 1;
        }
    }

    prepareShow();

    if (recording)
        music.video = &video;

    const int fps = options.bench ? benchFps : options.fps;
    // The whole show is drawn for a benchmark or a recording; stills stop
    // after the last one.
    const bool wholeShow = options.bench || !options.wavPath.empty();

    std::vector<double> frameMs;
    std::vector<int> frameScene;
    if (options.bench) {
        const std::size_t frames = static_cast<std::size_t>(showEnd * fps) + 2;
        frameMs.reserve(frames);
        frameScene.reserve(frames);
    }
    const double copyBefore = options.bench ? measureFrameCopy(1000) : 0.0;

    TimelineClock clock;
    FrameStep step;
    std::size_t nextStill = 0;
    ExportProgress progress(endVideoFrame, endVideoFrame - firstVideoFrame, options.fps);
    for (long long frameIndex = 0;; ++frameIndex) {
        const double timer = frameClock(frameIndex, fps);
        if (!stepTimeline(clock, timeline, timer, step))
            break;
        if (!music.advanceTo(timer)) {
            progress.stop();
            if (recording && !music.videoError.empty())
                error = music.videoError;
            else
                wav.close(error);
            std::fprintf(stderr, "morvane-render: %s\n", error.c_str());
            return 1;
        }

        const double start = options.bench ? cpuMilliseconds() : 0.0;
        drawStep(step, frame);
        if (options.bench) {
            frameMs.push_back(cpuMilliseconds() - start);
            frameScene.push_back(sceneNumber(step.entry->scene));
        }

        // By the frame clock, not the float demoTime, which may fall a
        // rounding short of the time the frame stands for.
        for (; nextStill < stills.size() && frameClockReaches(timer, stills[nextStill].time); ++nextStill) {
            const Still& still = stills[nextStill];
            if (!writePng(still.path, frame, error)) {
                std::fprintf(stderr, "morvane-render: %s\n", error.c_str());
                return 1;
            }
            std::printf("%s  demoTime %.9g  sceneTime %.9g  progress %.9g  variant %d\n", still.path.c_str(),
                        static_cast<double>(step.demoTime), static_cast<double>(step.sceneTime),
                        static_cast<double>(step.progress), step.entry->variant);
            std::fflush(stdout);
        }
        if (recording) {
            if (frameIndex >= firstVideoFrame && !video.writeFrame(frame, error)) {
                progress.stop();
                std::fprintf(stderr, "morvane-render: %s\n", error.c_str());
                return 1;
            }
            progress.update(frameIndex + 1, video.framesWritten());
            if (interrupted()) {
                progress.stop();
                video.abandon();
                std::fprintf(stderr, "morvane-render: interrupted; %s not written\n", options.videoPath.c_str());
                return 1;
            }
            if (frameIndex + 1 >= endVideoFrame)
                break;
        }
        if (!recording && !wholeShow && nextStill == stills.size())
            break;
    }

    if (recording) {
        // The sound runs to the end of the last frame recorded.
        const double videoEnd = static_cast<double>(firstVideoFrame + video.framesWritten()) / options.fps;
        if (!music.advanceTo(videoEnd) || !video.finish(error)) {
            progress.stop();
            std::fprintf(stderr, "morvane-render: %s\n", error.empty() ? music.videoError.c_str() : error.c_str());
            return 1;
        }
        std::error_code ignored;
        const auto bytes = std::filesystem::file_size(options.videoPath, ignored);
        progress.finish(options.videoPath, video.framesWritten(), ignored ? 0 : static_cast<long long>(bytes));
    }

    if (!options.wavPath.empty()) {
        const bool written = music.advanceTo(showEnd);
        if (!wav.close(error) || !written) {
            std::fprintf(stderr, "morvane-render: %s\n", error.c_str());
            return 1;
        }
    }

    if (nextStill < stills.size()) {
        // Times past the last frame are refused before the show is drawn.
        std::fprintf(stderr, "morvane-render: the show ended before the still at %.9g s\n", stills[nextStill].time);
        return 1;
    }

    if (options.bench) {
        const double copyMs = 0.5 * (copyBefore + measureFrameCopy(1000));
        std::printf("copy    one 640 x 320 frame %.4f ms\n", copyMs);
        for (int scene = 1; scene <= 8; ++scene) {
            std::vector<double> times;
            for (std::size_t i = 0; i < frameMs.size(); ++i)
                if (frameScene[i] == scene)
                    times.push_back(frameMs[i]);
            char name[24];
            std::snprintf(name, sizeof name, "scene%d", scene);
            printBenchLine(name, times, copyMs);
        }
        printBenchLine("show", frameMs, copyMs);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    RenderOptions options;
    std::string message;
    switch (parseRenderOptions(argc, argv, timeline, options, message)) {
    case ParseResult::help:
        std::fputs(renderUsage, stdout);
        return 0;
    case ParseResult::version:
        std::printf("morvane-render %s\n", MORVANE_VERSION);
        return 0;
    case ParseResult::error:
        std::fprintf(stderr, "morvane-render: %s\nTry 'morvane-render --help' for the options.\n", message.c_str());
        return 2;
    case ParseResult::run:
        break;
    }
    return render(options);
}
