// Clipper, scan conversion and span writers.
#include "checks.hpp"
#include "engine/clipper.hpp"
#include "engine/rasterizer.hpp"
#include "engine/span.hpp"

#include <random>

namespace {

ClipVertex vertex(float x, float y, float z, float red = 0, float green = 0)
{
    return {x, y, z, 0, 0, red, green, 0};
}

// One grey level at every corner; colour steps are set by the tests.
RasterPolygon polygon(std::initializer_list<std::pair<double, double>> points, double grey = 100)
{
    RasterPolygon p{};
    int i = 0;
    for (const auto& [x, y] : points)
        p.vertices[i++] = {fixed(x), fixed(y), fixed(grey), fixed(grey), fixed(grey)};
    p.spanWriter = spanGouraud;
    return p;
}

void fill(Canvas& c, const RasterPolygon& p, int count)
{
    rasterizePolygon(p, count, c.image.pixels, c.image.pitch, c.image.width, c.image.height);
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
            const unsigned v = (c[k] >> 8) + (additive ? (dest[i] >> (8 * k)) & 0xFF : 0);
            out |= std::min(v, 255u) << (8 * k);
            c[k] = static_cast<std::uint16_t>(c[k] + d[k]);
        }
        dest[i] = out;
    }
}

} // namespace

TEST(ClipPolygon, PlanesKeepDropAndCutWithDepthWeightedColour)
{
    ClipVertex inside[clipCapacity] = {vertex(0, 0, 5), vertex(1, 0, 5), vertex(0, 1, 5)};
    ClipVertex* out = nullptr;
    EXPECT_EQ(clipPolygon(inside, 3, interpolateLitVertex, out), 3);
    EXPECT_EQ(out, inside);
    ClipVertex behind[clipCapacity] = {vertex(0, 0, 0.5f), vertex(0.1f, 0, 0.9f), vertex(0, 0.1f, -3)};
    EXPECT_EQ(clipPolygon(behind, 3, interpolateLitVertex, out), 0);
    ClipVertex right[clipCapacity] = {vertex(6, 0, 5), vertex(7, 1, 5), vertex(9, 0, 5)};
    EXPECT_EQ(clipPolygon(right, 3, interpolateLitVertex, out), 0);

    // One vertex behind the near plane: a quadrilateral, in walk order.
    ClipVertex v[clipCapacity] = {vertex(0, 0, 4), vertex(1, 0, 0), vertex(0, 1, 4)};
    ASSERT_EQ(clipPolygon(v, 3, interpolateLitVertex, out), 4);
    EXPECT_EQ(out[0].z, 4.0f);
    EXPECT_FLOAT_EQ(out[1].z, 1.0f);
    EXPECT_FLOAT_EQ(out[1].x, 0.75f);
    EXPECT_FLOAT_EQ(out[2].x, 0.75f);
    EXPECT_FLOAT_EQ(out[2].y, 0.25f);
    EXPECT_EQ(out[3].y, 1.0f);

    ClipVertex mid;
    interpolateLitVertex(vertex(0, 0, 2, 100, 10), vertex(0, 0, 6, 200, 10), 0.5f, mid);
    EXPECT_FLOAT_EQ(mid.z, 4.0f);
    EXPECT_FLOAT_EQ(mid.red, 175.0f);
    EXPECT_FLOAT_EQ(mid.green, 10.0f);
}

// The renderer's early rejection may only drop what the clipper drops.
TEST(ClipPolygon, EarlyRejectionOnlyWhereTheClipperDropsTheWhole)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(-30.0f, 30.0f);
    int rejected = 0;
    for (int n = 0; n < 20000; ++n) {
        ClipVertex v[clipCapacity];
        for (int k = 0; k < 3; ++k)
            v[k] = vertex(coordinate(random), coordinate(random), coordinate(random) * 0.5f + 8.0f);
        if (!clippedAway(v, 3))
            continue;
        ++rejected;
        ClipVertex* out = nullptr;
        ASSERT_EQ(clipPolygon(v, 3, interpolateLitVertex, out), 0) << "triangle " << n;
    }
    EXPECT_GT(rejected, 500);
    // Outside the top plane but cut by the right one first: the clipper decides.
    const ClipVertex cut[3] = {vertex(4, 6, 5), vertex(6, 7, 5), vertex(4, 8, 5)};
    EXPECT_FALSE(clippedAway(cut, 3));
}

TEST(Rasterizer, RowAndPixelCentresDecideCoverageAndSliverEdgesStayInTheirRows)
{
    Canvas c(64, 48);
    fill(c, polygon({{5, 10.5}, {40, 10.5}, {40, 20.5}, {5, 20.5}}), 4);
    for (int y = 8; y < 23; ++y)  // the top on a row centre draws that row, the bottom one does not
        EXPECT_EQ(c.at(20, y) != Canvas::marker, y >= 10 && y <= 19) << y;

    Canvas run(64, 48), reversed(64, 48);
    fill(run, polygon({{10.5, 2}, {20.5, 2}, {20.5, 6}, {10.5, 6}}), 4);
    for (int x = 0; x < 64; ++x)
        EXPECT_EQ(run.at(x, 3) != Canvas::marker, x >= 11 && x <= 20) << x;
    fill(reversed, polygon({{10.5, 6}, {20.5, 6}, {20.5, 2}, {10.5, 2}}), 4);  // wound the other way
    EXPECT_EQ(reversed.changed(), 0);

    // The top edges rise by 1/65536 over 50 pixels: a slope beyond 16.16.
    Canvas sliver(64, 48);
    RasterPolygon p = polygon({{5, 10.5}, {55, 10.5}, {30, 20}}, 50);
    p.vertices[0].y -= 1;
    fill(sliver, p, 3);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            EXPECT_TRUE(sliver.at(x, y) == Canvas::marker || (y >= 10 && y <= 19 && x >= 5 && x < 55)) << x << "," << y;
    EXPECT_NE(sliver.at(30, 15), Canvas::marker);
}

TEST(Rasterizer, ColourFollowsGradientsRoundedAtPixelCentres)
{
    Canvas c(64, 48);
    RasterPolygon p = polygon({{0, 0}, {60, 0}, {60, 40}, {0, 40}}, 10);
    p.dRdx = fixed(2.0);
    p.dGdy = fixed(1.25);
    p.dBdx = fixed(-0.125);
    fill(c, p, 4);
    for (int y : {0, 30})
        for (int x : {0, 13, 59}) {
            const std::uint32_t px = c.at(x, y);
            EXPECT_EQ((px >> 16) & 0xFF, static_cast<unsigned>(10 + 2 * (x + 0.5) + 0.5)) << x << "," << y;
            EXPECT_EQ((px >> 8) & 0xFF, static_cast<unsigned>(10 + 1.25 * (y + 0.5) + 0.5)) << x << "," << y;
            EXPECT_EQ(px & 0xFF, static_cast<unsigned>(10 - 0.125 * (x + 0.5) + 0.5)) << x << "," << y;
            EXPECT_EQ(px >> 24, 0u);
        }
}

TEST(Rasterizer, CutAtTheImageEdgesWithTheBytesOfTheWholePolygon)
{
    // Inside the picture the bytes equal those of the same polygon drawn
    // whole; outside it nothing changes. A writer called through its pointer
    // gets the same runs as the inlined ones.
    RasterPolygon p = polygon({{-30, -20}, {90, -10}, {70, 70}, {-20, 60}}, 30);
    p.dRdx = fixed(1.7);
    p.dGdy = fixed(-0.9);
    p.dBdx = fixed(3.7);
    Canvas cut(64, 48), called(64, 48), whole(400, 300);
    fill(cut, p, 4);
    EXPECT_EQ(cut.changed(), 64 * 48);
    p.spanWriter = [](std::uint32_t* d, int n, std::int32_t b, std::int32_t g, std::int32_t r, std::uint16_t db,
                      std::uint16_t dg, std::uint16_t dr) { referenceSpan(d, n, b, g, r, db, dg, dr, false); };
    fill(called, p, 4);
    EXPECT_EQ(called.memory, cut.memory);
    p.spanWriter = spanGouraud;
    for (RasterVertex& v : p.vertices) {
        v.x += fixed(100);
        v.y += fixed(100);
    }
    fill(whole, p, 4);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(cut.at(x, y), whole.at(x + 100, y + 100)) << x << "," << y;
}

TEST(SpanWriters, FourthByteSaturationAndScalarArithmeticOnRandomSpans)
{
    std::uint32_t added[3] = {0x5AF0F0F0u, 0x00101010u, 0xFF000000u};
    spanGouraudAdditive(added, 3, fixed(32) + 0x8000, fixed(32) + 0x8000, fixed(32) + 0x8000, 0, 0, 0);
    EXPECT_EQ(added[0], 0x5AFFFFFFu);
    EXPECT_EQ(added[1], 0x00303030u);
    EXPECT_EQ(added[2], 0xFF202020u);

    // Against the reference, which replaces the fourth byte by 0.
    std::mt19937 random(12345);
    std::vector<std::uint32_t> fast(80), slow(80);
    for (int trial = 0; trial < 4000; ++trial) {
        const int offset = static_cast<int>(random() % 5);
        const int count = trial < 40 ? 1 + trial % 9 : 1 + static_cast<int>(random() % 70);
        for (std::size_t i = 0; i < fast.size(); ++i)
            fast[i] = slow[i] = static_cast<std::uint32_t>(random());
        const auto b = static_cast<std::int32_t>(random()), g = static_cast<std::int32_t>(random()),
                   r = static_cast<std::int32_t>(random());
        const auto db = static_cast<std::uint16_t>(random()), dg = static_cast<std::uint16_t>(random()),
                   dr = static_cast<std::uint16_t>(random());
        const bool additive = trial % 2 == 1;
        (additive ? spanGouraudAdditive : spanGouraud)(fast.data() + offset, count, b, g, r, db, dg, dr);
        referenceSpan(slow.data() + offset, count, b, g, r, db, dg, dr, additive);
        ASSERT_EQ(fast, slow) << "trial " << trial << " count " << count << " offset " << offset;
    }
}

TEST(Rasterizer, InlinedWritersGiveTheRunsOfTheCalledOnesOnRandomTriangles)
{
    // Triangles wholly inside the picture, touching its edges and reaching
    // past them, with random gradients: the engine's writers (run inline,
    // with their own per-row set-up) must leave the bytes that the reference
    // writer called through its pointer leaves.
    std::mt19937 random(777);
    const auto coordinate = [&](int size) { return static_cast<std::int32_t>(random() % ((size + 16) << 16)) - (8 << 16); };
    for (int trial = 0; trial < 900; ++trial) {
        const bool additive = trial % 2 == 1;
        RasterPolygon p{};
        // Every fifth trial a small triangle (runs of a few pixels) anywhere inside.
        const bool small = trial % 5 == 4;
        const std::int32_t smallX = static_cast<std::int32_t>(random() % (68u << 16));
        const std::int32_t smallY = static_cast<std::int32_t>(random() % (28u << 16));
        for (int k = 0; k < 3; ++k) {
            const bool inside = trial % 3 != 0;
            p.vertices[k] = {small    ? smallX + static_cast<std::int32_t>(random() % (12u << 16))
                             : inside ? static_cast<std::int32_t>(random() % (80u << 16))
                                      : coordinate(80),
                             small    ? smallY + static_cast<std::int32_t>(random() % (12u << 16))
                             : inside ? static_cast<std::int32_t>(random() % (40u << 16))
                                      : coordinate(40),
                             static_cast<std::int32_t>(random() % (255u << 16)),
                             static_cast<std::int32_t>(random() % (255u << 16)),
                             static_cast<std::int32_t>(random() % (255u << 16))};
        }
        // Clockwise on the screen, so that it draws.
        const auto& v = p.vertices;
        if (static_cast<double>(v[1].x - v[0].x) * (v[2].y - v[0].y) -
                static_cast<double>(v[2].x - v[0].x) * (v[1].y - v[0].y) < 0)
            std::swap(p.vertices[1], p.vertices[2]);
        for (std::int32_t* d : {&p.dBdx, &p.dGdx, &p.dRdx, &p.dBdy, &p.dGdy, &p.dRdy})
            *d = static_cast<std::int32_t>(random() % (16u << 16)) - (8 << 16);
        Canvas inlined(80, 40, 0x40302010u), called(80, 40, 0x40302010u);
        p.spanWriter = additive ? spanGouraudAdditive : spanGouraud;
        fill(inlined, p, 3);
        p.spanWriter = additive ? [](std::uint32_t* d, int n, std::int32_t b, std::int32_t g, std::int32_t r,
                                     std::uint16_t db, std::uint16_t dg, std::uint16_t dr) {
            referenceSpan(d, n, b, g, r, db, dg, dr, true);
        }
                                : [](std::uint32_t* d, int n, std::int32_t b, std::int32_t g, std::int32_t r,
                                     std::uint16_t db, std::uint16_t dg, std::uint16_t dr) {
                                      referenceSpan(d, n, b, g, r, db, dg, dr, false);
                                  };
        fill(called, p, 3);
        ASSERT_EQ(inlined.memory, called.memory) << "trial " << trial;
    }
}
