#include "scene_fixture.hpp"

#include "../content/trace_reference.hpp"
#include "engine/camera.hpp"
#include "image/blur.hpp"
#include "image/ops.hpp"
#include "image/wide.hpp"
#include "scenes/scene6.hpp"
#include "scenes/scenes.hpp"
#include "scenes/shared.hpp"

#include <cmath>
#include <cstring>
#include <random>
#include <numbers>
#include <vector>

namespace {

class TracedSpheres : public ::testing::Test {
protected:
    static void SetUpTestSuite() { prepareScene6(); }
};

std::vector<std::uint32_t> pixelsOf(const Image& image)
{
    std::vector<std::uint32_t> out;
    for (int y = 0; y < image.height; ++y)
        out.insert(out.end(), image.row(y), image.row(y) + image.width);
    return out;
}

} // namespace

TEST_F(TracedSpheres, LeftPanelMatchesThePlainTracer)
{
    Image fast(320, 320), plain(320, 320);
    static TraceSample grid[sampleGridSize][sampleGridSize];
    int lit = 0;
    for (int frameIndex = 0; frameIndex < 1032; frameIndex += 37) {
        const float T = static_cast<float>(frameIndex) / 60.0f;
        Camera camera;
        aimCamera(camera, T);
        const TraceView view = setUpTraceView(camera, T);
        clearImage(fast, garbage);  // every pixel is drawn, black where no sphere is seen
        traceBlocks(fast, view);

        Vector3 rowStart = view.topLeft;
        for (auto& row : grid) {
            Vector3 dir = rowStart;
            for (TraceSample& s : row) {
                s = {};
                s.origin = view.eye;
                s.direction = dir;
                s.sphere = -2;
                reference::traceSample(s, 63, 3);
                dir = dir + view.colStep;
            }
            rowStart = rowStart + view.rowStep;
        }
        clearImage(plain, 0);
        for (int by = 0; by < 40; ++by)
            for (int bx = 0; bx < 40; ++bx) {
                const TraceSample corners[4] = {grid[by][bx], grid[by][bx + 1], grid[by + 1][bx], grid[by + 1][bx + 1]};
                reference::subdivideBlock(plain, 8 * bx, 8 * by, 3, corners, view.colStep, view.rowStep);
            }
        const std::vector<std::uint32_t> a = pixelsOf(fast), b = pixelsOf(plain);
        for (std::size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(a[i], b[i]) << "T " << T << " pixel (" << i % 320 << ", " << i / 320 << ")";
            lit += a[i] != 0;
        }
        EXPECT_EQ(a[0], 0u) << "T " << T << ": the background is not black";
    }
    EXPECT_GT(lit, 28 * 320 * 320 / 20) << "the spheres are missing";
}

TEST_F(TracedSpheres, WideFormsDrawTheFramesOfTheNarrowOnes)
{
    // The four-lane tracer and the wide image forms, against the two-lane
    // tracer and the 16-byte forms, over the whole scene.
    const bool wideBefore = wideVectors();
    if (!useWideVectors(true))
        GTEST_SKIP() << "no AVX2 here: only the narrow forms run";
    for (int frameIndex = 0; frameIndex < 1032; frameIndex += 29) {
        const float T = static_cast<float>(frameIndex) / 60.0f;
        std::vector<std::uint32_t> drawn[2];
        for (const bool wide : {true, false}) {
            useWideVectors(wide);
            clearImage(frame, garbage);
            scene6(frame, 107.03f + T, T, 0.0f, 1.0f / 60, 0);
            drawn[wide] = pixelsOf(frame);
        }
        EXPECT_TRUE(drawn[0] == drawn[1]) << "T " << T;
        if (drawn[0] != drawn[1])
            break;
    }
    useWideVectors(wideBefore);
}

TEST_F(TracedSpheres, StartsWithTheCameraInFrontAndNoSmear)
{
    scene6(frame, 107.03f, 0.0f, 0.0f, 0.016f, 0);
    const TraceSphere& s = traceSpheres[0];
    EXPECT_EQ(s.eyeOffset.x + s.centre.x, 0.0f);
    EXPECT_EQ(s.eyeOffset.y + s.centre.y, 0.0f);
    EXPECT_EQ(s.eyeOffset.z + s.centre.z, -500.0f);
    EXPECT_EQ(traceLights[0].position.x, 0.0f);
    EXPECT_EQ(traceLights[0].position.y, 400.0f);
    EXPECT_EQ(traceLights[0].position.z, 500.0f);
    EXPECT_EQ(traceLights[1].position.x, 0.0f);
    EXPECT_EQ(traceLights[1].position.y, 400.0f);
    EXPECT_EQ(traceLights[1].position.z, 2000.0f);

    // No smear at the start and while sin T <= 0; strongest at sin T = 1,
    // growing without a jump.
    EXPECT_EQ(smearCoefficient(0.0f), 16383);
    EXPECT_EQ(smearCoefficient(4.0f), 16383);
    EXPECT_EQ(smearCoefficient(static_cast<float>(std::numbers::pi / 2)), 630);
    EXPECT_GT(smearCoefficient(0.001f), 15900);
}

TEST_F(TracedSpheres, MonitorShowsHalfTheGreenOnTheBaseColour)
{
    Image image(640, 320);
    clearImage(image, 0xFFFFFF);
    const Colour left[] = {0xFF0000, 0x0000FF, 0x00FF00, 0x808080, 0xFF01FF};
    const Colour right[] = {0x112233, 0x112233, 0x90A1B2, 0x516273, 0x112233};
    for (int i = 0; i < 5; ++i)
        image.row(i * 60)[i * 60] = left[i];
    copyToMonitor(image);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(image.row(i * 60)[i * 60 + 320], right[i]) << std::hex << left[i];
    EXPECT_EQ(image.row(1)[321], 0x90A1B2u);
}

TEST_F(TracedSpheres, MonitorOfTheTracedPanelSkipsOnlyBlocksLeftBlack)
{
    // Over the scene, with empty and drawn blocks in every frame: the copy
    // that trusts the grid's misses gives the plain copy's every pixel.
    Image traced(640, 320), plain(640, 320);
    for (int frameIndex = 0; frameIndex < 1032; frameIndex += 43) {
        const float T = static_cast<float>(frameIndex) / 60.0f;
        Camera camera;
        aimCamera(camera, T);
        clearImage(traced, garbage);
        traceBlocks(traced, setUpTraceView(camera, T));
        for (int y = 0; y < 320; ++y)
            std::memcpy(plain.row(y), traced.row(y), 640 * 4);
        copyTracedToMonitor(traced);
        copyToMonitor(plain);
        int empty = 0;
        for (int by = 0; by < 40; ++by)
            for (int bx = 0; bx < 40; ++bx)
                empty += (sampleGrid[by][bx].hitMask | sampleGrid[by + 1][bx + 1].hitMask |
                          sampleGrid[by][bx + 1].hitMask | sampleGrid[by + 1][bx].hitMask) == 0;
        EXPECT_GT(empty, 0) << T;
        EXPECT_LT(empty, 1600) << T;
        ASSERT_TRUE(pixelsOf(traced) == pixelsOf(plain)) << "T " << T;
    }
}

TEST_F(TracedSpheres, FrameDependsOnlyOnTheTime)
{
    // Whatever the frame held and whatever was drawn before, the same time
    // draws the same frame: every pixel is repainted, nothing carries over.
    clearImage(frame, 0);
    scene6(frame, 115.0f, 7.97f, 0.0f, 0.016f, 0);
    const std::vector<std::uint32_t> first = pixelsOf(frame);
    clearImage(frame, garbage);
    scene6(frame, 111.0f, 3.97f, 0.0f, 0.016f, 0);
    scene6(frame, 115.0f, 7.97f, 0.0f, 0.016f, 0);
    EXPECT_TRUE(first == pixelsOf(frame));
}

TEST_F(TracedSpheres, RaysTracedInPairsMatchSingleRays)
{
    // Batches of rays across the panel's window and beyond, each with its own
    // masks, mixing hits and misses and an odd ray out; every word of each
    // record must agree with the ray traced on its own.
    std::mt19937 random(3);
    std::uniform_real_distribution<float> spread(-0.7f, 0.7f);
    constexpr int batch = 7;
    for (int frameIndex = 0; frameIndex < 1032; frameIndex += 97) {
        const float T = static_cast<float>(frameIndex) / 60.0f;
        Camera camera;
        aimCamera(camera, T);
        const TraceView view = setUpTraceView(camera, T);
        for (int n = 0; n < 100; ++n) {
            TraceSample packed[batch], single[batch];
            TraceRequest requests[batch];
            for (int k = 0; k < batch; ++k) {
                packed[k] = {};
                packed[k].lightMask = random() % 4;  // kept by a miss
                packed[k].origin = view.eye;
                packed[k].direction = (view.topLeft + view.colStep * (20 + 40 * spread(random))) +
                                      view.rowStep * (20 + 40 * spread(random));
                packed[k].sphere = k == 3 ? -1 : -2;  // one already traced
                requests[k] = {&packed[k], static_cast<std::uint32_t>(random() % 64),
                               static_cast<std::uint32_t>(random() % 4)};
                single[k] = packed[k];
                traceSample(single[k], requests[k].spheres, requests[k].lights);
            }
            const std::uint64_t before = tracedRayCount;
            traceRequests(requests, batch);
            EXPECT_EQ(tracedRayCount - before, static_cast<std::uint64_t>(batch - 1));
            for (int k = 0; k < batch; ++k)
                ASSERT_EQ(std::memcmp(&packed[k], &single[k], sizeof(TraceSample)), 0)
                    << "T " << T << " batch " << n << " ray " << k << ": sphere " << packed[k].sphere << " / "
                    << single[k].sphere << ", light mask " << packed[k].lightMask << " / " << single[k].lightMask
                    << ", red " << packed[k].colour.red << " / " << single[k].colour.red;
        }
    }
}

TEST_F(TracedSpheres, SmearBlursTheRightPanelAlone)
{
    // Random bytes, with every fourth row a ramp that climbs and falls: the
    // right panel is blurred along its rows, the left panel stays as it is.
    std::mt19937 random(11);
    Image smeared(640, 320), blurred(640, 320);
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 640; ++x)
            smeared.row(y)[x] = y % 4 == 1 ? static_cast<Colour>(std::abs(x % 64 - 32)) * 0x01010101u
                                           : static_cast<Colour>(random());
    const std::vector<std::uint32_t> before = pixelsOf(smeared);
    for (const int c : {16383, 630}) {
        for (int y = 0; y < 320; ++y) {
            std::memcpy(smeared.row(y), before.data() + y * 640, 640 * 4);
            std::memcpy(blurred.row(y), before.data() + y * 640, 640 * 4);
        }
        smearPanel(smeared, c);
        blurLines(blurred.row(0) + 320, 4, blurred.pitch, 320, 320, c, c, c, c);
        EXPECT_TRUE(pixelsOf(smeared) == pixelsOf(blurred)) << "coefficient " << c;
        EXPECT_FALSE(pixelsOf(smeared) == before) << "coefficient " << c;  // even the least smear lowers bytes
    }
}
