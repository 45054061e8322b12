// Clipper, scan conversion and span writers.
#include "engine/clipper.hpp"
#include "engine/rasterizer.hpp"
#include "engine/span.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

ClipVertex vertex(float x, float y, float z, float red = 0, float green = 0, float blue = 0)
{
    return {x, y, z, 0, 0, red, green, blue};
}

std::int32_t fixed(double v)
{
    return static_cast<std::int32_t>(v * 65536.0);
}

// A small frame with its pixels set to a marker.
struct Canvas {
    static constexpr int width = 64, height = 48;
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(width * height, 0xAB000000u);
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    bool touched(int x, int y) const { return at(x, y) != 0xAB000000u; }
    void fill(const RasterPolygon& p, int count) { rasterizePolygon(p, count, pixels.data(), width * 4, width, height); }
};

RasterPolygon flatPolygon(std::initializer_list<std::pair<double, double>> points, double grey = 100)
{
    RasterPolygon p{};
    int i = 0;
    for (const auto& [x, y] : points)
        p.vertices[i++] = {fixed(x), fixed(y), fixed(grey), fixed(grey), fixed(grey)};
    p.spanWriter = spanGouraud;
    return p;
}

// The arithmetic the span writers must reproduce, one channel at a time.
void referenceSpan(std::uint32_t* dest, int count, std::int32_t b, std::int32_t g, std::int32_t r, std::uint16_t db,
                   std::uint16_t dg, std::uint16_t dr, bool additive)
{
    std::uint16_t c[3] = {static_cast<std::uint16_t>(b >> 8), static_cast<std::uint16_t>(g >> 8),
                          static_cast<std::uint16_t>(r >> 8)};
    const std::uint16_t d[3] = {db, dg, dr};
    for (int i = 0; i < count; ++i) {
        std::uint32_t out = additive ? dest[i] & 0xFF000000u : 0;
        for (int k = 0; k < 3; ++k) {
            unsigned v = c[k] >> 8;
            if (additive) {
                v += (dest[i] >> (8 * k)) & 0xFF;
                if (v > 255)
                    v = 255;
            }
            out |= v << (8 * k);
            c[k] = static_cast<std::uint16_t>(c[k] + d[k]);
        }
        dest[i] = out;
    }
}

} // namespace

TEST(ClipPolygon, InsideUnchangedOutsideDropped)
{
    ClipVertex v[clipCapacity] = {vertex(0, 0, 5), vertex(1, 0, 5), vertex(0, 1, 5)};
    ClipVertex* out = nullptr;
    EXPECT_EQ(clipPolygon(v, 3, interpolateLitVertex, out), 3);
    EXPECT_EQ(out, v);
    ClipVertex behind[clipCapacity] = {vertex(0, 0, 0.5f), vertex(0.1f, 0, 0.9f), vertex(0, 0.1f, -3)};
    EXPECT_EQ(clipPolygon(behind, 3, interpolateLitVertex, out), 0);
    ClipVertex right[clipCapacity] = {vertex(6, 0, 5), vertex(7, 1, 5), vertex(9, 0, 5)};
    EXPECT_EQ(clipPolygon(right, 3, interpolateLitVertex, out), 0);
}

TEST(ClipPolygon, OneVertexBehindGivesQuadrilateralOnNearPlane)
{
    ClipVertex v[clipCapacity] = {vertex(0, 0, 4), vertex(1, 0, 0), vertex(0, 1, 4)};
    ClipVertex* out = nullptr;
    ASSERT_EQ(clipPolygon(v, 3, interpolateLitVertex, out), 4);
    EXPECT_NE(out, v);  // the first clipping pass writes into the clipper's own array
    // Walk order: prev (0,1,4) -> cur (0,0,4) inside; then in->out gives the
    // point toward vertex 1, out->in gives the point from vertex 1, then (0,1,4).
    EXPECT_EQ(out[0].z, 4.0f);
    EXPECT_FLOAT_EQ(out[1].z, 1.0f);
    EXPECT_FLOAT_EQ(out[1].x, 0.75f);
    EXPECT_FLOAT_EQ(out[2].z, 1.0f);
    EXPECT_FLOAT_EQ(out[2].x, 0.75f);
    EXPECT_FLOAT_EQ(out[2].y, 0.25f);
    EXPECT_EQ(out[3].y, 1.0f);
}

TEST(ClipPolygon, ClippedColourIsWeightedByDepth)
{
    ClipVertex out;
    interpolateLitVertex(vertex(0, 0, 2, 100, 10, 0), vertex(0, 0, 6, 200, 10, 0), 0.5f, out);
    EXPECT_FLOAT_EQ(out.z, 4.0f);
    EXPECT_FLOAT_EQ(out.red, 175.0f);
    EXPECT_FLOAT_EQ(out.green, 10.0f);
}

TEST(Rasterizer, TopOnRowCentreDrawsItBottomOnRowCentreDoesNot)
{
    Canvas c;
    c.fill(flatPolygon({{5, 10.5}, {40, 10.5}, {40, 20.5}, {5, 20.5}}), 4);
    EXPECT_FALSE(c.touched(20, 9));
    EXPECT_TRUE(c.touched(20, 10));
    EXPECT_TRUE(c.touched(20, 19));
    EXPECT_FALSE(c.touched(20, 20));
}

TEST(Rasterizer, RunCoversPixelsWhoseCentresAreInside)
{
    Canvas c;
    c.fill(flatPolygon({{10.5, 2}, {20.5, 2}, {20.5, 6}, {10.5, 6}}), 4);
    for (int x = 0; x < Canvas::width; ++x)
        EXPECT_EQ(c.touched(x, 3), x >= 11 && x <= 20) << x;
    Canvas reversed;  // wound the other way round: nothing
    reversed.fill(flatPolygon({{10.5, 6}, {20.5, 6}, {20.5, 2}, {10.5, 2}}), 4);
    EXPECT_FALSE(reversed.touched(15, 3));
}

TEST(Rasterizer, ColourFollowsGradientsRoundedAtPixelCentres)
{
    Canvas c;
    RasterPolygon p = flatPolygon({{0, 0}, {60, 0}, {60, 40}, {0, 40}}, 10);
    p.dRdx = fixed(2.0);     // red 10 at x = 0, +2 per pixel
    p.dGdy = fixed(1.25);    // green 10 at y = 0, +1.25 per row
    p.dBdx = fixed(-0.125);
    c.fill(p, 4);
    for (int y : {0, 30})
        for (int x : {0, 13, 59}) {
            const std::uint32_t px = c.at(x, y);
            EXPECT_EQ((px >> 16) & 0xFF, static_cast<unsigned>(10 + 2 * (x + 0.5) + 0.5)) << x << "," << y;
            EXPECT_EQ((px >> 8) & 0xFF, static_cast<unsigned>(10 + 1.25 * (y + 0.5) + 0.5)) << x << "," << y;
            EXPECT_EQ(px & 0xFF, static_cast<unsigned>(10 - 0.125 * (x + 0.5) + 0.5)) << x << "," << y;
            EXPECT_EQ(px >> 24, 0u);
        }
}

TEST(Rasterizer, SliverEdgeStaysWithinItsRows)
{
    // The top edges rise by 1/65536 over 50 pixels: a slope beyond 16.16.
    Canvas c;
    RasterPolygon p = flatPolygon({});
    p.vertices[0] = {fixed(5), fixed(10.5) - 1, fixed(50), fixed(50), fixed(50)};
    p.vertices[1] = {fixed(55), fixed(10.5), fixed(50), fixed(50), fixed(50)};
    p.vertices[2] = {fixed(30), fixed(20), fixed(50), fixed(50), fixed(50)};
    c.fill(p, 3);
    for (int y = 0; y < Canvas::height; ++y)
        for (int x = 0; x < Canvas::width; ++x)
            if (c.touched(x, y)) {
                EXPECT_GE(y, 10);
                EXPECT_LE(y, 19);
                EXPECT_GE(x, 5);
                EXPECT_LT(x, 55);
            }
    EXPECT_TRUE(c.touched(30, 15));
}

TEST(Rasterizer, PolygonBeyondTheImageIsCutAtItsEdges)
{
    // Guard rows above and below and a wider pitch: nothing outside the
    // 64 x 48 picture may change, and inside it the bytes equal the ones the
    // same polygon gets when it fits.
    constexpr int pitchPixels = 80, guardRows = 4;
    std::vector<std::uint32_t> memory(static_cast<std::size_t>(pitchPixels * (48 + 2 * guardRows)), 0xAB000000u);
    std::uint32_t* picture = memory.data() + guardRows * pitchPixels;
    RasterPolygon p = flatPolygon({{-30, -20}, {90, -10}, {70, 70}, {-20, 60}}, 30);
    p.dRdx = fixed(1.7);
    p.dGdy = fixed(-0.9);
    rasterizePolygon(p, 4, picture, pitchPixels * 4, 64, 48);
    for (int row = 0; row < 48 + 2 * guardRows; ++row)
        for (int x = 0; x < pitchPixels; ++x) {
            const bool inside = row >= guardRows && row < 48 + guardRows && x < 64;
            if (!inside) {
                ASSERT_EQ(memory[static_cast<std::size_t>(row * pitchPixels + x)], 0xAB000000u) << row << "," << x;
            }
        }
    // The same polygon shifted into a large canvas gives the same bytes.
    std::vector<std::uint32_t> large(400 * 300, 0xAB000000u);
    RasterPolygon shifted = p;
    for (RasterVertex& v : shifted.vertices) {
        v.x += fixed(100);
        v.y += fixed(100);
    }
    // Colour values at top.x are what they were; only positions moved.
    rasterizePolygon(shifted, 4, large.data(), 400 * 4, 400, 300);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(picture[y * pitchPixels + x], large[static_cast<std::size_t>((y + 100) * 400 + x + 100)]) << x << "," << y;
}

TEST(Rasterizer, AnySpanWriterGetsTheSameRuns)
{
    // The engine's writers run inline; another writer is called per run with
    // the same start values, also where the polygon is cut at the left edge.
    static auto scalar = [](std::uint32_t* dest, int count, std::int32_t b, std::int32_t g, std::int32_t r,
                            std::uint16_t db, std::uint16_t dg, std::uint16_t dr) {
        referenceSpan(dest, count, b, g, r, db, dg, dr, false);
    };
    RasterPolygon p = flatPolygon({{-7.3, 3.2}, {50.6, 1.7}, {41.1, 40.9}, {2.2, 33.4}}, 60);
    p.dRdx = fixed(2.3);
    p.dGdx = fixed(-1.1);
    p.dBdy = fixed(3.7);
    Canvas inlined, called;
    inlined.fill(p, 4);
    p.spanWriter = [](std::uint32_t* d, int n, std::int32_t b, std::int32_t g, std::int32_t r, std::uint16_t db,
                      std::uint16_t dg, std::uint16_t dr) { scalar(d, n, b, g, r, db, dg, dr); };
    called.fill(p, 4);
    EXPECT_EQ(inlined.pixels, called.pixels);
    EXPECT_TRUE(inlined.touched(0, 10));
}

TEST(SpanWriters, FourthByteAndSaturation)
{
    std::uint32_t added[3] = {0x5AF0F0F0u, 0x00101010u, 0xFF000000u};
    spanGouraudAdditive(added, 3, fixed(32) + 0x8000, fixed(32) + 0x8000, fixed(32) + 0x8000, 0, 0, 0);
    EXPECT_EQ(added[0], 0x5AFFFFFFu);
    EXPECT_EQ(added[1], 0x00303030u);
    EXPECT_EQ(added[2], 0xFF202020u);
    std::uint32_t replaced[6] = {~0u, ~0u, ~0u, ~0u, ~0u, ~0u};
    spanGouraud(replaced, 6, fixed(1) + 0x8000, fixed(2) + 0x8000, fixed(3) + 0x8000, 0x100, 0, 0);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(replaced[i], 0x00030201u + static_cast<std::uint32_t>(i)) << i;
}

TEST(SpanWriters, MatchScalarArithmeticOnRandomSpans)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::uint32_t> any;
    std::vector<std::uint32_t> fast(80), slow(80);
    for (int trial = 0; trial < 4000; ++trial) {
        const int offset = static_cast<int>(any(random) % 5);
        const int count = trial < 40 ? 1 + trial % 9 : 1 + static_cast<int>(any(random) % 70);
        for (std::size_t i = 0; i < fast.size(); ++i)
            fast[i] = slow[i] = any(random);
        const auto b = static_cast<std::int32_t>(any(random)), g = static_cast<std::int32_t>(any(random)),
                   r = static_cast<std::int32_t>(any(random));
        const auto db = static_cast<std::uint16_t>(any(random)), dg = static_cast<std::uint16_t>(any(random)),
                   dr = static_cast<std::uint16_t>(any(random));
        const bool additive = trial % 2 == 1;
        (additive ? spanGouraudAdditive : spanGouraud)(fast.data() + offset, count, b, g, r, db, dg, dr);
        referenceSpan(slow.data() + offset, count, b, g, r, db, dg, dr, additive);
        ASSERT_EQ(fast, slow) << "trial " << trial << " count " << count << " offset " << offset;
    }
}
