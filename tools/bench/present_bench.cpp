// Screen::present in both layouts against a plain copy of one frame.
#include "image/image.hpp"
#include "platform/display.hpp"
#include "platform/screen.hpp"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

void frameCopy(benchmark::State& state)
{
    std::vector<unsigned char> from(640 * 320 * 4, 1), to(640 * 320 * 4);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
    }
}
BENCHMARK(frameCopy);

void present(benchmark::State& state)
{
    xp_screen_use_memory_surfaces(true);
    xp_screen_refuse_depth(state.range(0) == 24 ? 32 : 0);
    Screen screen;
    if (!screen.open(640, 480)) {
        state.SkipWithError("no surface");
        return;
    }
    Image frame(640, 320);
    std::memset(frame.pixels, 0x5a, 640 * 320 * 4);
    for (auto _ : state)
        screen.present(frame, 0.0f, 0.0f, 639.0f, 319.0f, 0.0f, 80.0f);
    screen.close();
}
BENCHMARK(present)->Arg(32)->Arg(24);

} // namespace

BENCHMARK_MAIN();
