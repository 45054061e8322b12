// Speed of the ray-traced spheres scene, in multiples of one 640 x 320 frame
// copy (counter "frame_copies"), and the number of rays it traces per frame
// over the whole scene (corner grid and refinement), printed before the runs.
#include "content/sphere_tracer.hpp"
#include "scenes/scene6.hpp"
#include "scenes/scenes.hpp"
#include "scenes/shared.hpp"
#include "frame_copies.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The scene runs for 17.2 s; the frames of a 60 Hz display.
constexpr int sceneFrames = 1032;
double frameCopyNs = 0.0;

template <typename Body>
void timed(benchmark::State& state, Body body)
{
    bench::timed(state, frameCopyNs, body);
}

float sceneTime(int frameIndex)
{
    return static_cast<float>(frameIndex) / 60.0f;
}

void printRayCounts()
{
    std::vector<std::uint64_t> rays;
    for (int i = 0; i < sceneFrames; ++i) {
        const std::uint64_t before = tracedRayCount;
        scene6(frame, 107.03f + sceneTime(i), sceneTime(i), 0.0f, 1.0f / 60, 0);
        rays.push_back(tracedRayCount - before);
    }
    std::sort(rays.begin(), rays.end());
    std::printf("rays per frame over the scene: median %llu, p95 %llu, max %llu (corner grid 1681)\n",
                static_cast<unsigned long long>(rays[rays.size() / 2]),
                static_cast<unsigned long long>(rays[rays.size() * 95 / 100]),
                static_cast<unsigned long long>(rays.back()));
}

// Every frame of the scene in turn.
void wholeScene(benchmark::State& state)
{
    int i = 0;
    timed(state, [&] {
        scene6(frame, 107.03f + sceneTime(i), sceneTime(i), 0.0f, 1.0f / 60, 0);
        i = (i + 1) % sceneFrames;
        benchmark::ClobberMemory();
    });
}

void monitorCopy(benchmark::State& state)
{
    timed(state, [&] {
        copyToMonitor(frame);
        benchmark::ClobberMemory();
    });
}

void smear(benchmark::State& state)
{
    const int c = static_cast<int>(state.range(0));
    timed(state, [&] {
        smearPanel(frame, c);
        benchmark::ClobberMemory();
    });
}

} // namespace

int main(int argc, char** argv)
{
    prepareScene6();
    frameCopyNs = bench::measureFrameCopy();
    std::printf("one 640 x 320 frame copy: %.1f us\n", frameCopyNs / 1000.0);
    printRayCounts();
    benchmark::RegisterBenchmark("scene6_every_frame", wholeScene);
    benchmark::RegisterBenchmark("copy_to_monitor", monitorCopy);
    benchmark::RegisterBenchmark("smear", smear)->Arg(630)->Arg(16383);
    return bench::runRegistered(argc, argv);
}
