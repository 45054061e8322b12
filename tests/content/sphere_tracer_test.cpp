#include "content/sphere_tracer.hpp"

#include "trace_reference.hpp"

#include "image/ops.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>

namespace {

constexpr Colour marker = 0xA5C3E1u;
constexpr std::uint32_t allSpheres = (1u << traceSphereCount) - 1;

// One sphere of radius 100 at (0, 0, 300) in front of an eye at the origin
// looking along +z, lit by a white light at the eye; the other spheres wait
// far off to the side, where no ray here comes near them.
class Tracer : public ::testing::Test {
protected:
    void SetUp() override
    {
        initSqrtTables();
        for (int i = 0; i < traceSphereCount; ++i)
            traceSpheres[i] = {Vector3(-1e5f, 1e4f * static_cast<float>(i), 0.0f), {1, 1, 1}, 1.0f, {}, 0, 0};
        traceSpheres[0] = {Vector3(0, 0, 300), {0.5f, 0.25f, 1.0f}, 100.0f, {}, 0, 0};
        traceLights[0] = {Vector3(0, 0, 0), {1, 1, 1}};
        traceLights[1] = {Vector3(0, 0, 1e5f), {1, 1, 1}};  // behind the sphere: never lights it
        prepareTraceFrame(Vector3(0, 0, 0));
    }

    static TraceSample ray(float x, float y)
    {
        TraceSample s{};
        s.direction = Vector3(x, y, 1.0f);
        s.sphere = -2;
        traceSample(s, allSpheres, 3);
        return s;
    }

    Image image{8, 8};
};

} // namespace

TEST(FastSqrt, WithinATenthOfAPercentOverTheFloatRange)
{
    initSqrtTables();
    EXPECT_EQ(fastSqrt(0.0f), 0.0f);
    std::mt19937 random(5);
    double worst = 0.0;
    for (std::uint32_t e = 1; e < 255; ++e)
        for (int k = 0; k < 200; ++k) {
            const std::uint32_t mantissa = k == 0 ? 0 : k == 1 ? 0x7FFFFF : random() & 0x7FFFFF;
            const float x = std::bit_cast<float>(e << 23 | mantissa);
            const double exact = std::sqrt(static_cast<double>(x));
            worst = std::max(worst, std::fabs(fastSqrt(x) - exact) / exact);
        }
    EXPECT_LT(worst, 1e-3);
    EXPECT_GT(worst, 5e-4);  // the tables do approximate
}

TEST(FastSqrt, OneTableOfDoublesGivesTheRootsOfTheTwo)
{
    // Every exponent and top mantissa byte, with either sign and random
    // low bits, which the roots ignore.
    initSqrtTables();
    std::mt19937 random(7);
    for (std::uint32_t high = 0; high < (1u << 16); ++high)
        for (const std::uint32_t sign : {0u, 0x80000000u}) {
            const float x = std::bit_cast<float>(sign | high << 15 | (static_cast<std::uint32_t>(random()) & 0x7FFFu));
            ASSERT_EQ(fastSqrtByBits[high], static_cast<double>(fastSqrt(x))) << std::hex << high << " " << sign;
        }
}

TEST_F(Tracer, HitsShadowsAndHighlights)
{
    // Straight on: 200 away, the normal faces the eye, the light behind the
    // eye gives full diffuse and a full highlight, clamped to white.
    TraceSample s = ray(0.0f, 0.0f);
    EXPECT_EQ(s.sphere, 0);
    EXPECT_EQ(s.hitMask, 1u);
    EXPECT_EQ(s.lightMask, 1u);
    EXPECT_NEAR(s.t, 200.0f, 0.3f);
    EXPECT_NEAR(s.normal.z, -1.0f, 2e-3f);
    EXPECT_EQ(packColour(s.colour), 0xFFFFFFu);

    // Off the highlight the sphere's own colour shows, dimmed by the angle.
    s = ray(0.1f, 0.0f);
    EXPECT_EQ(s.lightMask, 1u);
    EXPECT_GT(s.colour.blue, 0.9f);
    EXPECT_NEAR(s.colour.red / s.colour.blue, 0.5f, 1e-3f);
    EXPECT_NEAR(s.colour.green / s.colour.blue, 0.25f, 1e-3f);

    // A small sphere between the light and the hit point casts a shadow, also
    // when it stands beyond the light; the light's bit stays clear.
    for (const float z : {100.0f, -300.0f}) {
        traceSpheres[1] = {Vector3(0, 0.2f * z, z), {1, 1, 1}, 10.0f, {}, 0, 0};
        prepareTraceFrame(Vector3(0, 0, 0));
        TraceSample shaded{};
        shaded.origin = Vector3(0, 0, 0);
        shaded.direction = Vector3(0, 0.2f, 1);  // through the blocker: only sphere 0 is looked at
        shaded.sphere = -2;
        traceSample(shaded, 1, 3);
        EXPECT_EQ(shaded.sphere, 0) << z;
        EXPECT_EQ(shaded.lightMask, 0u) << z;
        EXPECT_EQ(packColour(shaded.colour), 0u) << z;
    }

    s = ray(1.0f, 0.0f);
    EXPECT_EQ(s.sphere, -1);
    EXPECT_EQ(s.hitMask, 0u);
    EXPECT_EQ(packColour(s.colour), 0u);
}

TEST_F(Tracer, PackedRaysAgreeBitForBitAtTheSilhouette)
{
    // Rays a few float steps either side of the tangent to the sphere,
    // where whether they hit, and whether the light at the eye still
    // reaches the point, is decided by the last bits: the packed tracer
    // (odd and even counts) gives the single-ray tracer's every word.
    const float tangent = 0.35355339f;  // tan(asin(1/3))
    for (const int count : {63, 64}) {
        TraceSample packed[64], single[64];
        TraceRequest requests[64];
        float x = tangent;
        for (int k = 0; k < 32; ++k)
            x = std::nextafter(x, 0.0f);
        for (int k = 0; k < count; ++k, x = std::nextafter(x, 1.0f)) {
            packed[k] = {};
            packed[k].direction = Vector3(x, k % 3 == 0 ? 1e-7f * static_cast<float>(k) : 0.0f, 1.0f);
            packed[k].sphere = -2;
            single[k] = packed[k];
            traceSample(single[k], allSpheres, 3);
            requests[k] = {&packed[k], allSpheres, 3};
        }
        traceRequests(requests, count);
        int hits = 0;
        for (int k = 0; k < count; ++k) {
            ASSERT_EQ(std::memcmp(&packed[k], &single[k], sizeof(TraceSample)), 0) << count << " ray " << k;
            hits += single[k].sphere == 0;
        }
        EXPECT_GT(hits, 0);
        EXPECT_LT(hits, count);
    }
}

TEST_F(Tracer, ATracedSampleIsNotTracedAgain)
{
    TraceSample s = ray(0.1f, 0.1f);
    s.colour = {0.5f, 0.5f, 0.5f};
    const std::uint64_t before = tracedRayCount;
    traceSample(s, allSpheres, 3);
    EXPECT_EQ(tracedRayCount, before);
    EXPECT_EQ(s.colour.red, 0.5f);
}

TEST_F(Tracer, BlockWithAllCornersMissingIsLeftAlone)
{
    // A sphere of radius 5 sits in the middle of a block whose corners all miss.
    traceSpheres[0].radius = 5.0f;
    prepareTraceFrame(Vector3(0, 0, 0));
    const TraceSample corners[4] = {ray(-0.2f, 0.2f), ray(0.2f, 0.2f), ray(-0.2f, -0.2f), ray(0.2f, -0.2f)};
    clearImage(image, marker);
    const std::uint64_t before = tracedRayCount;
    subdivideBlock(image, 0, 0, 3, corners, Vector3(0.4f, 0, 0), Vector3(0, -0.4f, 0));
    EXPECT_EQ(tracedRayCount, before);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(image.row(y)[x], marker) << x << ", " << y;
}

TEST_F(Tracer, ClearColourFillsWhatNoCornerSeesAsClearingFirstWould)
{
    // Across the silhouette, where quarters of every size see nothing, and
    // a block beside the sphere that sees nothing at all.
    for (const float left : {0.1f, 0.6f}) {
        const TraceSample corners[4] = {ray(left, 0.2f), ray(left + 0.4f, 0.2f), ray(left, -0.2f),
                                        ray(left + 0.4f, -0.2f)};
        const BlockCorners block{0, 0, {&corners[0], &corners[1], &corners[2], &corners[3]}};
        Image cleared(8, 8);
        clearImage(cleared, marker);
        subdivideBlocks(cleared, &block, 1, 3, Vector3(0.4f, 0, 0), Vector3(0, -0.4f, 0));
        clearImage(image, 0x123456);
        subdivideBlocks(image, &block, 1, 3, Vector3(0.4f, 0, 0), Vector3(0, -0.4f, 0), &marker);
        int clear = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                ASSERT_EQ(image.row(y)[x], cleared.row(y)[x]) << left << ": " << x << ", " << y;
                clear += image.row(y)[x] == marker;
            }
        EXPECT_GT(clear, 0) << left;
        EXPECT_EQ(clear == 64, left > 0.5f) << left;
    }
}

TEST_F(Tracer, UniformSmallBlockAveragesItsCorners)
{
    const TraceSample corners[4] = {ray(0.1f, 0.1f), ray(0.2f, 0.1f), ray(0.1f, 0.0f), ray(0.2f, 0.0f)};
    clearImage(image, marker);
    const std::uint64_t before = tracedRayCount;
    subdivideBlock(image, 2, 4, 1, corners, Vector3(0.1f, 0, 0), Vector3(0, -0.1f, 0));
    EXPECT_EQ(tracedRayCount, before);
    const Colour tl = packColour(corners[0].colour);
    const auto average = [&](int c) { return ((tl & 0xFEFEFE) + (packColour(corners[c].colour) & 0xFEFEFE)) >> 1; };
    EXPECT_EQ(image.row(4)[2], tl);
    EXPECT_EQ(image.row(4)[3], average(1));
    EXPECT_EQ(image.row(5)[2], average(2));
    EXPECT_EQ(image.row(5)[3], average(3));
    EXPECT_EQ(image.row(4)[4], marker);
}

TEST_F(Tracer, DifferentLightsAtTheCornersRefineDownToTwoByTwo)
{
    // Four lit corners of one sphere, but the top-left one claims a different
    // set of lights, as on a shadow edge: the 4 x 4 block traces its centre
    // and four edge midpoints, and the top-left 2 x 2 quarter traces its other
    // three pixels; the three other quarters agree and are averaged.
    TraceSample corners[4] = {ray(0.0f, 0.1f), ray(0.1f, 0.1f), ray(0.0f, 0.0f), ray(0.1f, 0.0f)};
    corners[0].lightMask = 2;
    clearImage(image, marker);
    const std::uint64_t before = tracedRayCount;
    const Vector3 dx(0.1f, 0, 0), dy(0, -0.1f, 0);
    subdivideBlock(image, 0, 0, 2, corners, dx, dy);
    EXPECT_EQ(tracedRayCount - before, 8u);
    TraceSample right = corners[0];
    right.direction = right.direction + dx * 0.25f;
    right.sphere = -2;
    traceSample(right, 1, 3);
    EXPECT_EQ(image.row(0)[1], packColour(right.colour));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_NE(image.row(y)[x], marker) << x << ", " << y;
}

TEST_F(Tracer, NeighboursShareTheRayOnTheirCommonEdge)
{
    // Two 4 x 4 blocks side by side on a shadow edge (the top corners claim
    // a different light): together they trace the midpoint of their common
    // edge once, and draw what each draws on its own.
    TraceSample grid[2][3];
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) {
            grid[r][c] = ray(0.1f * static_cast<float>(c), 0.1f - 0.1f * static_cast<float>(r));
            if (r == 0)
                grid[r][c].lightMask = 2;
        }
    const Vector3 dx(0.1f, 0, 0), dy(0, -0.1f, 0);
    const BlockCorners blocks[2] = {{0, 0, {&grid[0][0], &grid[0][1], &grid[1][0], &grid[1][1]}},
                                    {4, 0, {&grid[0][1], &grid[0][2], &grid[1][1], &grid[1][2]}}};
    Image alone(8, 4), together(8, 4);
    std::uint64_t before = tracedRayCount;
    for (const BlockCorners& b : blocks) {
        const TraceSample corners[4] = {*b.corners[0], *b.corners[1], *b.corners[2], *b.corners[3]};
        subdivideBlock(alone, b.x, b.y, 2, corners, dx, dy);
    }
    const std::uint64_t separately = tracedRayCount - before;
    before = tracedRayCount;
    subdivideBlocks(together, blocks, 2, 2, dx, dy);
    EXPECT_EQ(tracedRayCount - before, separately - 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(together.row(y)[x], alone.row(y)[x]) << x << ", " << y;
}

TEST(FillBlock, FlatForEqualCornersRampedAcrossForARamp)
{
    Image image(8, 8);
    TraceSample corners[4]{};
    for (TraceSample& c : corners)
        c.colour = {0.6f, 0.3f, 0.9f};
    fillBlock(image, 0, 0, 3, corners);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(image.row(y)[x], packColour(corners[0].colour)) << x << ", " << y;

    // Black on the left, white on the right: every row climbs from 0 and
    // stops short of the right edge's 255 (it is reached one pixel further).
    corners[0].colour = corners[2].colour = {0, 0, 0};
    corners[1].colour = corners[3].colour = {1, 1, 1};
    fillBlock(image, 0, 0, 3, corners);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(image.row(y)[0], 0u);
        for (int x = 1; x < 8; ++x) {
            const Colour p = image.row(y)[x];
            ASSERT_GT(p & 0xFF, image.row(y)[x - 1] & 0xFF) << x << ", " << y;
            ASSERT_EQ(p, (p & 0xFF) * 0x010101u);
        }
        EXPECT_EQ(image.row(y)[7], 0xDFDFDFu);  // 255 * 7 / 8
    }
}

TEST(FillBlock, MatchesThePlainFillForAnyColours)
{
    // Random corner colours, the extremes among them, at every block size
    // and at an offset inside a larger image.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Image fast(40, 40), plain(40, 40);
    for (int n = 0; n < 300; ++n) {
        TraceSample corners[4]{};
        for (TraceSample& c : corners) {
            float* channel = &c.colour.red;
            for (int ch = 0; ch < 3; ++ch) {
                const unsigned pick = random() % 8;
                channel[ch] = pick == 0 ? 0.0f : pick == 1 ? 1.0f : unit(random);
            }
        }
        const int level = n % 5;
        clearImage(fast, marker);
        clearImage(plain, marker);
        fillBlock(fast, 3, 5, level, corners);
        reference::fillBlock(plain, 3, 5, level, corners);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                ASSERT_EQ(fast.row(y)[x], plain.row(y)[x]) << "level " << level << " at " << x << ", " << y;
    }
}
