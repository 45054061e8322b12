// Speed of the engine's drawing paths, each also given as a multiple of one
// 640 x 320 frame copy measured in the same run (counter "frame_copies").
#include "engine/box.hpp"
#include "engine/line.hpp"
#include "engine/rasterizer.hpp"
#include "engine/render_mesh.hpp"
#include "frame_copies.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numbers>
#include <vector>

namespace {

constexpr int frameWidth = 640, frameHeight = 320;
constexpr std::size_t frameBytes = std::size_t{frameWidth} * frameHeight * 4;

double frameCopyNs = 0.0;

template <typename Body>
double timed(benchmark::State& state, Body body)
{
    return bench::timed(state, frameCopyNs, body);
}

Image& frame()
{
    static Image image(frameWidth, frameHeight);
    return image;
}

void frameCopy(benchmark::State& state)
{
    std::vector<std::uint8_t> from(frameBytes, 1);
    // The copy into the frame the other cases draw into is the unit for all
    // of them (the start-up estimate stands in when this case is filtered out).
    frameCopyNs = timed(state, [&] {
        std::memcpy(frame().pixels, from.data(), frameBytes);
        benchmark::ClobberMemory();
    });
    state.counters["frame_copies"] = 1.0;
}

// For scale only: the replacing writer done one channel at a time.
void scalarSpan(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    std::uint16_t c[3] = {static_cast<std::uint16_t>(blue >> 8), static_cast<std::uint16_t>(green >> 8),
                          static_cast<std::uint16_t>(red >> 8)};
    const std::uint16_t d[3] = {blueStep, greenStep, redStep};
    auto* bytes = reinterpret_cast<std::uint8_t*>(dest);
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k) {
            bytes[4 * i + k] = static_cast<std::uint8_t>(c[k] >> 8);
            c[k] = static_cast<std::uint16_t>(c[k] + d[k]);
        }
        bytes[4 * i + 3] = 0;
    }
}

RasterVertex at(int x, int y, int b, int g, int r)
{
    return {x * 65536, y * 65536, b * 65536, g * 65536, r * 65536};
}

// Two triangles covering the frame, with colour changing in x and y.
void fullFrameFill(benchmark::State& state, SpanWriter writer)
{
    RasterPolygon upper{}, lower{};
    upper.vertices[0] = at(0, 0, 10, 20, 30);
    upper.vertices[1] = at(640, 0, 170, 20, 200);
    upper.vertices[2] = at(640, 320, 170, 180, 200);
    lower.vertices[0] = at(0, 0, 10, 20, 30);
    lower.vertices[1] = at(640, 320, 170, 180, 200);
    lower.vertices[2] = at(0, 320, 10, 180, 30);
    for (RasterPolygon* p : {&upper, &lower}) {
        p->spanWriter = writer;
        p->dBdx = 65536 / 4;
        p->dRdx = 65536 * 170 / 640;
        p->dGdy = 65536 / 2;
    }
    Image& target = frame();
    std::memset(target.pixels, 0, frameBytes);
    timed(state, [&] {
        rasterizePolygon(upper, 3, target.pixels, target.pitch, target.width, target.height);
        rasterizePolygon(lower, 3, target.pixels, target.pitch, target.width, target.height);
        benchmark::ClobberMemory();
    });
}

// The closing scene's lattice: 5 x 5 x 5 spinning, breathing unit boxes
// seen by its swinging camera, far to near, at scene time 4·T.
void cubeLattice(benchmark::State& state)
{
    const float t = static_cast<float>(state.range(0)) / 4.0f;
    static Mesh* box = makeBox(1, 1, 1);
    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(320, 160, 320, 160);
    const double phi = std::numbers::pi / 2 * std::sin(t);
    const double radius = 30 - 10 * std::cos(t);
    camera.position.value = Vector3(static_cast<float>(radius * std::cos(t) * std::cos(phi)),
                                    static_cast<float>(radius * std::sin(t) * std::cos(phi)),
                                    static_cast<float>(radius * std::sin(phi)));
    camera.target.value = Vector3::zero;
    camera.fov.value = 2.1991148f;
    camera.updateView();
    PointLight light;
    light.position.value = camera.position.value + Vector3(0, 5, 0);

    struct Cube {
        float key;
        Colour colour;
        Vector3 position;
        float scale;
        Quaternion rotation;
    };
    std::vector<Cube> cubes;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 5; ++k) {
                const double w = 2 - std::cos(0.1 * j + t);
                const Vector3 p(static_cast<float>(5 * (i - 2.5) * w), static_cast<float>(5 * (j - 2.5)),
                                static_cast<float>(5 * (k - 2.5)));
                const Vector3 q = transformPoint(camera.viewMatrix, p);
                if (q.z <= 0)
                    continue;
                const auto channel = [](int n) { return static_cast<Colour>(5 + 2 * n); };
                cubes.push_back({1 / q.z, channel(i) << 16 | channel(j) << 8 | channel(k), p,
                                 static_cast<float>(2 + std::sin(i + j + k + t)),
                                 Quaternion::fromAxisAngle(1, 0, 0, static_cast<float>(0.1 * (i - k) + 3 * t)) *
                                     Quaternion::fromAxisAngle(0, 1, 0, static_cast<float>(0.1 * (j + k) + 3.1 * t))});
            }
    std::stable_sort(cubes.begin(), cubes.end(), [](const Cube& a, const Cube& b) { return a.key < b.key; });
    state.counters["cubes"] = static_cast<double>(cubes.size());

    Image& target = frame();
    const auto drawAll = [&](RenderMode mode, bool black) {
        for (const Cube& c : cubes) {
            box->position.value = c.position;
            box->scale.value = Vector3(c.scale, c.scale, c.scale);
            box->rotation.value = c.rotation;
            box->updateLocalMatrix();
            renderMesh(target, camera, *box, light, black ? 0 : c.colour, black ? 0 : 0x202020, mode, false);
        }
    };
    // Pixels written per frame, in frames: unlit black adds 5 per channel and pixel.
    std::memset(target.pixels, 0, frameBytes);
    drawAll(GouraudAdditive, true);
    long long sum = 0;
    for (int i = 0; i < frameWidth * frameHeight; ++i)
        sum += target.pixels[i] & 0xFF;
    state.counters["overdraw"] = static_cast<double>(sum) / 5 / (frameWidth * frameHeight);

    std::memset(target.pixels, 0, frameBytes);
    timed(state, [&] {
        drawAll(Gouraud, false);
        benchmark::ClobberMemory();
    });
}

// 1,000 lines of 100 pixels in every direction.
void antiAliasedLines(benchmark::State& state)
{
    struct Line {
        float x0, y0, x1, y1;
    };
    std::vector<Line> lines;
    for (int n = 0; n < 1000; ++n) {
        const double a = n * 2.399963;  // golden angle: directions spread evenly
        const float cx = static_cast<float>(120 + (n * 37) % 400), cy = static_cast<float>(60 + (n * 53) % 200);
        const auto dx = static_cast<float>(50 * std::cos(a)), dy = static_cast<float>(50 * std::sin(a));
        lines.push_back({cx - dx, cy - dy, cx + dx, cy + dy});
    }
    Image& target = frame();
    std::memset(target.pixels, 0, frameBytes);
    timed(state, [&] {
        for (const Line& l : lines)
            drawLineAA(target, l.x0, l.y0, l.x1, l.y1, 0x80C0FF);
        benchmark::ClobberMemory();
    });
}

} // namespace

int main(int argc, char** argv)
{
    frameCopyNs = bench::measureFrameCopy();
    std::printf("one 640 x 320 frame copy: %.1f us\n", frameCopyNs / 1000.0);
    benchmark::RegisterBenchmark("frame_copy", frameCopy);
    benchmark::RegisterBenchmark("full_frame_fill/replace", fullFrameFill, spanGouraud);
    benchmark::RegisterBenchmark("full_frame_fill/add", fullFrameFill, spanGouraudAdditive);
    benchmark::RegisterBenchmark("full_frame_fill/scalar_for_scale", fullFrameFill, scalarSpan);
    benchmark::RegisterBenchmark("cube_lattice_125", cubeLattice)->Arg(0)->Arg(10)->Arg(20)->Arg(40);
    benchmark::RegisterBenchmark("aa_lines_1000x100px", antiAliasedLines);
    return bench::runRegistered(argc, argv);
}
