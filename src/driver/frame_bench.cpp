#include "driver/frame_bench.hpp"

#include "scenes/shared.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <time.h>

double cpuMilliseconds()
{
#ifdef __EMSCRIPTEN__
    const clockid_t clock = CLOCK_MONOTONIC;
#else
    const clockid_t clock = CLOCK_THREAD_CPUTIME_ID;
#endif
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

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

double measureFrameCopy(int samples)
{
#ifdef __EMSCRIPTEN__
    // Browsers round their clock to 0.1 ms or coarser, longer than one copy:
    // each sample times a batch.
    constexpr int copiesPerSample = 100;
    samples /= 10;
#else
    constexpr int copiesPerSample = 1;
#endif
    const std::size_t bytes = static_cast<std::size_t>(frameWidth) * frameHeight * 4;
    std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples + 50; ++i) {
        const double start = cpuMilliseconds();
        for (int copy = 0; copy < copiesPerSample; ++copy) {
            std::memcpy(to.data(), from.data(), bytes);
            asm volatile("" : : "r"(to.data()) : "memory");  // keep the copy
        }
        const double ms = (cpuMilliseconds() - start) / copiesPerSample;
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

void printBenchReport(const std::vector<double>& frameMs, const std::vector<int>& frameScene, double copyMs)
{
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
    std::vector<double> all = frameMs;
    printBenchLine("show", all, copyMs);
}
