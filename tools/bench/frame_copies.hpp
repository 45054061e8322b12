// What the benchmark programs share: this thread's CPU time, which other
// processes on a busy machine disturb less than the wall clock, and the
// unit every figure is also given in, one 640 x 320 frame copy (memcpy of
// 640·320·4 bytes) measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace bench {

inline double threadNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// Best of several batches of copies between two frame-sized buffers.
inline double measureFrameCopy()
{
    constexpr std::size_t frameBytes = std::size_t{640} * 320 * 4;
    std::vector<std::uint8_t> from(frameBytes, 1), to(frameBytes, 0);
    double best = 1e30;
    for (int batch = 0; batch < 10; ++batch) {
        const double start = threadNs();
        for (int run = 0; run < 200; ++run) {
            std::memcpy(to.data(), from.data(), frameBytes);
            benchmark::ClobberMemory();
        }
        best = std::min(best, (threadNs() - start) / 200);
    }
    return best;
}

// Runs body for every iteration of the state and records its time as the
// counter "frame_copies"; returns the time of one iteration in ns.
template <typename Body>
double timed(benchmark::State& state, double frameCopyNs, Body body)
{
    const double start = threadNs();
    for (auto _ : state)
        body();
    const double perIteration = (threadNs() - start) / static_cast<double>(state.iterations());
    state.counters["frame_copies"] = perIteration / frameCopyNs;
    return perIteration;
}

// Runs the registered benchmarks with the command line's options; the exit
// status of main.
inline int runRegistered(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
