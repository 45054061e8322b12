// morvane-render: draws the show offline, without a window or an audio
// device, for stills, recordings and benchmarks. It runs the demo's start-up
// and steps the same timeline with a fixed frame time from 0 s, so scenes
// that keep state between frames evolve as they do live, and it plays the
// music offline in step with the frames, so the row and the master volume
// behave as live.
#include "scenes/shared.hpp"
#include "driver/frame_bench.hpp"
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
#include <vector>

namespace {

constexpr int mixRate = 44100;
constexpr int audioChunk = 4096;
constexpr int benchFps = 60;

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
        printBenchReport(frameMs, frameScene, copyMs);
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
