// Speed of the two geosphere scenes, the ripple grid and the dented sphere,
// in multiples of one 640 x 320 frame copy (counter "frame_copies"): every
// frame of each scene at 60 Hz in turn. Also a plain profiling target: `--frames N [5|7]` draws N frames
// spread over each scene (or only the one named) and exits, for callgrind;
// `--checksum` prints a hash of every 60 Hz frame of each scene, to show
// that a faster form draws the same bytes.
#include "driver/prepare.hpp"
#include "engine/camera.hpp"
#include "engine/render_mesh.hpp"
#include "scenes/scenes.hpp"
#include "scenes/shared.hpp"
#include "frame_copies.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double frameCopyNs = 0.0;

struct SceneRun {
    SceneFunc scene;
    float start, duration;
};
// Scene 5 runs 87.80 to 107.03 s, scene 7 124.23 to 143.46 s.
constexpr SceneRun scene5Run{scene5, 87.80f, 19.23f};
constexpr SceneRun scene7Run{scene7, 124.23f, 19.23f};

int frameCount(const SceneRun& run)
{
    return static_cast<int>(run.duration * 60.0f);
}

void drawFrame(const SceneRun& run, int i)
{
    const float t = static_cast<float>(i) / 60.0f;
    run.scene(frame, run.start + t, t, t / run.duration, 1.0f / 60, 0);
}

void everyFrame(benchmark::State& state, const SceneRun* run)
{
    int i = 0;
    bench::timed(state, frameCopyNs, [&] {
        drawFrame(*run, i);
        i = (i + 1) % frameCount(*run);
        benchmark::ClobberMemory();
    });
}

} // namespace

int main(int argc, char** argv)
{
    prepareFont();  // the scenes' texts are drawn as in the show
    prepareScene5();
    prepareScene7();
    if (argc >= 2 && std::strcmp(argv[1], "--checksum") == 0) {
        for (const SceneRun* run : {&scene5Run, &scene7Run}) {
            std::uint64_t hash = 14695981039346656037u;  // FNV-1a over the pixels of every frame
            for (int i = 0; i < frameCount(*run); ++i) {
                drawFrame(*run, i);
                for (int y = 0; y < frameHeight; ++y)
                    for (int x = 0; x < frameWidth; ++x)
                        hash = (hash ^ frame.row(y)[x]) * 1099511628211u;
            }
            std::printf("scene%d: %d frames, hash %016llx\n", run == &scene5Run ? 5 : 7, frameCount(*run),
                        static_cast<unsigned long long>(hash));
        }
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--frames") == 0) {
        const int n = std::atoi(argv[2]);
        const int only = argc > 3 ? std::atoi(argv[3]) : 0;
        for (const SceneRun* run : {&scene5Run, &scene7Run})
            for (int i = 0; i < n && (only == 0 || (only == 5) == (run == &scene5Run)); ++i)
                drawFrame(*run, i * frameCount(*run) / n);
        return 0;
    }
    frameCopyNs = bench::measureFrameCopy();
    std::printf("one 640 x 320 frame copy: %.1f us\n", frameCopyNs / 1000.0);
    benchmark::RegisterBenchmark("scene5_every_frame", everyFrame, &scene5Run);
    benchmark::RegisterBenchmark("scene7_every_frame", everyFrame, &scene7Run);
    return bench::runRegistered(argc, argv);
}
