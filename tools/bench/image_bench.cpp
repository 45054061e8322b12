// Speed of the per-frame image operations on a 640 x 320 frame. Every case
// is also given as a multiple of one plain copy of that frame (memcpy of
// 640 x 320 x 4 bytes), measured first in the same run: the column
// "frameCopies" and the summary at the end.
#include "image/blur.hpp"
#include "image/ops.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int frameWidth = 640;
constexpr int frameHeight = 320;
constexpr std::size_t frameBytes = static_cast<std::size_t>(frameWidth) * frameHeight * 4;
const char* const copyName = "FrameCopy";

Image& randomImage(int width, int height, unsigned seed)
{
    auto* image = new Image(width, height);  // lives for the whole run
    std::mt19937 rng(seed);
    for (int i = 0; i < width * height; ++i)
        image->pixels[i] = static_cast<std::uint32_t>(rng()) & 0x7F7F7F7Fu;
    return *image;
}

Image& frame() { static Image& image = randomImage(frameWidth, frameHeight, 1); return image; }
Image& source() { static Image& image = randomImage(frameWidth, frameHeight, 2); return image; }

void FrameCopy(benchmark::State& state)
{
    std::vector<std::uint8_t> from(frameBytes, 1), to(frameBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), frameBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(frameBytes));
}

void ClearImage(benchmark::State& state)
{
    for (auto _ : state) {
        clearImage(frame(), 0x00082010);
        benchmark::ClobberMemory();
    }
}

void AddImage(benchmark::State& state)
{
    for (auto _ : state) {
        addImage(source(), frame(), 0, 0, 0, 0, frameWidth, frameHeight);
        benchmark::ClobberMemory();
    }
}

void AddImageScaled(benchmark::State& state)
{
    for (auto _ : state) {
        addImageScaled(source(), frame(), 0, 0, 0, 0, frameWidth, frameHeight, 0.7f);
        benchmark::ClobberMemory();
    }
}

// The three logo blocks of the opening and closing scenes, 143 rows high.
void AddImageScaledLogoBlocks(benchmark::State& state)
{
    static Image& logo = randomImage(496, 143, 3);
    for (auto _ : state) {
        addImageScaled(logo, frame(), 0, 0, 70, 89, 110, 143, 0.5f);
        addImageScaled(logo, frame(), 380, 0, 459, 89, 116, 143, 0.5f);
        addImageScaled(logo, frame(), 110, 0, 180, 89, 270, 143, 0.5f);
        benchmark::ClobberMemory();
    }
}

void AddColour(benchmark::State& state)
{
    for (auto _ : state) {
        addColour(frame(), 0x00101010);
        benchmark::ClobberMemory();
    }
}

void RowNoiseTint(benchmark::State& state)
{
    float time = 0.0f;
    for (auto _ : state) {
        rowNoiseTint(frame(), time, 0, 0, frameWidth, frameHeight, 1.0f);
        time += 0.01f;
        benchmark::ClobberMemory();
    }
}

void BlurRows(benchmark::State& state)
{
    for (auto _ : state) {
        blurRows(frame(), 0.8f, 0.8f, 0.8f, 0.8f);
        benchmark::ClobberMemory();
    }
}

void BlurColumns(benchmark::State& state)
{
    for (auto _ : state) {
        blurColumns(frame(), 0.8f, 0.8f, 0.8f, 0.8f);
        benchmark::ClobberMemory();
    }
}

void BlurImage(benchmark::State& state)
{
    for (auto _ : state) {
        blurImage(frame(), 0.0f, 0.8f, 0.8f, 0.8f);
        benchmark::ClobberMemory();
    }
}

void DrawDiscRadius8x100(benchmark::State& state)
{
    Image& image = frame();
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i)
            drawDisc(image.pixels, image.pitch, frameWidth, frameHeight,
                     20.5f + static_cast<float>(i % 20) * 30.3f, 20.25f + static_cast<float>(i / 20) * 60.7f,
                     8.0f, 0x00FFFFFF);
        benchmark::ClobberMemory();
    }
}

// The tunnel's usual disc: far rings give radii of one to three pixels,
// blended over a grey, at quarter-pixel centres.
void DrawDiscRadius1to3x1000(benchmark::State& state)
{
    Image& image = frame();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            drawDisc(image.pixels, image.pitch, frameWidth, frameHeight, 10.25f + static_cast<float>(i % 40) * 15.5f,
                     10.75f + static_cast<float>(i / 40) * 12.25f, 1.0f + static_cast<float>(i % 9) * 0.25f,
                     0x00A0A0A0);
        benchmark::ClobberMemory();
    }
}

// Ten large discs, most of each inside the frame.
void DrawDiscRadius100x10(benchmark::State& state)
{
    Image& image = frame();
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i)
            drawDisc(image.pixels, image.pitch, frameWidth, frameHeight, 60.5f + static_cast<float>(i) * 57.3f,
                     100.25f + static_cast<float>(i % 3) * 60.0f, 100.0f, 0x00FFFFFF);
        benchmark::ClobberMemory();
    }
}

// Adds "frameCopies" (processor time per iteration over the frame copy's) to every run
// after the copy, and lists each case once more at the end, with the fastest
// of its repetitions (--benchmark_repetitions) against the fastest copy.
class FrameCopyReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> withRatio = runs;
        for (Run& run : withRatio) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            // Processor time: on a shared machine it leaves out the time others ran.
            const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
            const std::string& name = run.run_name.function_name;
            auto known = std::find_if(fastest_.begin(), fastest_.end(), [&](const auto& e) { return e.first == name; });
            if (known == fastest_.end())
                fastest_.emplace_back(name, seconds);
            else
                known->second = std::min(known->second, seconds);
            if (name == copyName)
                copySeconds_ = copySeconds_ > 0.0 ? std::min(copySeconds_, seconds) : seconds;
            if (copySeconds_ > 0.0)
                run.counters["frameCopies"] = benchmark::Counter(seconds / copySeconds_);
        }
        ConsoleReporter::ReportRuns(withRatio);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (copySeconds_ <= 0.0) {
            std::fprintf(stderr, "image_bench: the %s case did not run, so there is no unit to compare with\n",
                         copyName);
            return;
        }
        std::printf("\nIn frame copies (1 = memcpy of %zu bytes, %.1f us):\n", frameBytes, copySeconds_ * 1e6);
        for (const auto& [name, seconds] : fastest_)
            std::printf("  %-28s %8.2f   (%.1f us)\n", name.c_str(), seconds / copySeconds_, seconds * 1e6);
    }

private:
    double copySeconds_ = 0.0;
    std::vector<std::pair<std::string, double>> fastest_;
};

} // namespace

// The copy first: it is the unit of every later case.
BENCHMARK(FrameCopy);
BENCHMARK(ClearImage);
BENCHMARK(AddImage);
BENCHMARK(AddImageScaled);
BENCHMARK(AddImageScaledLogoBlocks);
BENCHMARK(AddColour);
BENCHMARK(RowNoiseTint);
BENCHMARK(BlurRows);
BENCHMARK(BlurColumns);
BENCHMARK(BlurImage);
BENCHMARK(DrawDiscRadius1to3x1000);
BENCHMARK(DrawDiscRadius8x100);
BENCHMARK(DrawDiscRadius100x10);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    FrameCopyReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
