// Clipper, scan conversion and span writers.
#include "checks.hpp"
#include "engine/clipper.hpp"
#include "engine/rasterizer.hpp"
#include "engine/span.hpp"
#include "engine/wide_fill.hpp"
#include "../wide_forms.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
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

// The scan conversion done plainly, row by row with 64-bit divisions and
// each pixel's lanes worked out on their own; pixels outside the picture
// are skipped. Over-steep slopes are held to the 32-bit range as the
// rasteriser holds them.
void referenceFill(Canvas& c, const RasterPolygon& p, int count, bool additive)
{
    const RasterVertex* v = p.vertices;
    int top = 0, bottom = 0;
    for (int i = 1; i < count; ++i) {
        top = v[i].y < v[top].y ? i : top;
        bottom = v[i].y > v[bottom].y ? i : bottom;
    }
    const RasterVertex& t = v[top];
    std::int64_t y = ((static_cast<std::int64_t>(t.y) + 0x7FFF) & ~std::int64_t{0xFFFF}) + 0x8000;
    const std::int32_t dx[3] = {p.dBdx, p.dGdx, p.dRdx}, dy[3] = {p.dBdy, p.dGdy, p.dRdy};
    const std::int32_t topValue[3] = {t.blue, t.green, t.red};
    std::uint32_t rowValue[3];
    for (int k = 0; k < 3; ++k)
        rowValue[k] = static_cast<std::uint32_t>(topValue[k]) +
                      static_cast<std::uint32_t>((static_cast<std::int64_t>(dy[k]) * (y - t.y)) >> 16);
    struct Side {
        int start, next, direction;
        std::int64_t x = 0, slope = 0;
    };
    Side sides[2] = {{top, top, -1}, {top, top, +1}};
    for (Side& s : sides)
        s.next = (s.start + s.direction + count) % count;
    for (bool first = true; y < v[bottom].y; first = false) {
        for (Side& s : sides) {
            if (!first && y < v[s.next].y)
                continue;
            for (int guard = 0; y >= v[s.next].y && guard < count; ++guard) {
                s.start = s.next;
                s.next = (s.next + s.direction + count) % count;
            }
            const RasterVertex &a = v[s.start], &b = v[s.next];
            s.slope = b.y > a.y ? std::clamp<std::int64_t>((static_cast<std::int64_t>(b.x) - a.x) * 65536 / (b.y - a.y),
                                                           -0x7FFFFFFF, 0x7FFFFFFF)
                                : 0;
            s.x = a.x + 0x8000 + ((s.slope * (y - a.y)) >> 16);
        }
        const std::int64_t row = y >> 16, x0 = sides[0].x >> 16, x1 = sides[1].x >> 16;
        const std::int64_t off = (sides[0].x & ~std::int64_t{0xFFFF}) - t.x + 0x8000;
        for (std::int64_t x = x0; x < x1; ++x) {
            if (x < 0 || x >= c.image.width || row < 0 || row >= c.image.height)
                continue;
            std::uint32_t& pixel = c.memory[static_cast<std::size_t>(row * c.pitchPixels + x)];
            std::uint32_t out = additive ? pixel & 0xFF000000u : 0;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t start = rowValue[k] + static_cast<std::uint32_t>((dx[k] * off) >> 16) + 0x8000u;
                const auto lane = static_cast<std::uint16_t>((start >> 8) + (x - x0) * static_cast<std::uint16_t>(dx[k] >> 8));
                const unsigned value = (lane >> 8) + (additive ? (pixel >> (8 * k)) & 0xFF : 0);
                out |= std::min(value, 255u) << (8 * k);
            }
            pixel = out;
        }
        for (Side& s : sides)
            s.x += s.slope;
        for (int k = 0; k < 3; ++k)
            rowValue[k] += static_cast<std::uint32_t>(dy[k]);
        y += 0x10000;
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
        // The per-corner plane bits decide as the per-triangle test does.
        const unsigned planes[3] = {outsidePlanes(v[0]), outsidePlanes(v[1]), outsidePlanes(v[2])};
        ASSERT_EQ(clippedAway(planes[0], planes[1], planes[2]), clippedAway(v, 3)) << "triangle " << n;
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(planes[k] == 0, insideAllPlanes(v[k])) << "triangle " << n;
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
    EXPECT_FALSE(clippedAway(outsidePlanes(cut[0]), outsidePlanes(cut[1]), outsidePlanes(cut[2])));
    // On a plane counts as inside; NaN as outside every plane.
    EXPECT_EQ(outsidePlanes(vertex(5, -5, 5)), 0u);
    EXPECT_EQ(outsidePlanes(vertex(0, 0, std::numeric_limits<float>::quiet_NaN())), 31u);
    EXPECT_EQ(outsidePlanes(vertex(-6, 7, 0.5f)), 1u | 4u | 8u);
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

TEST(Rasterizer, MatchesAPlainScanlineFillOnRandomPolygons)
{
    forEachForm([](bool wide) {
        // Triangles and quadrilaterals of every size and both windings (the
        // other one draws nothing), steep, flat and nearly flat sides, inside
        // the picture and reaching past it, with both writers.
        std::mt19937 random(4242);
        for (int trial = 0; trial < 4000; ++trial) {
            const bool additive = trial % 2 == 0;
            const int count = trial % 4 == 3 ? 4 : 3;
            const std::int32_t size = trial % 3 == 0 ? (6 << 16) : trial % 3 == 1 ? (40 << 16) : (110 << 16);
            const std::int32_t cx = static_cast<std::int32_t>(random() % (100u << 16)) - (10 << 16);
            const std::int32_t cy = static_cast<std::int32_t>(random() % (50u << 16)) - (5 << 16);
            RasterPolygon p{};
            // Corners at rising angles round a centre: convex, clockwise on the screen.
            double angle = static_cast<double>(random() % 1000) / 1000.0;
            for (int k = 0; k < count; ++k) {
                angle += 0.3 + static_cast<double>(random() % 1000) / 1000.0 * (6.0 / count - 0.3);
                const double r = static_cast<double>(random() % (static_cast<std::uint32_t>(size) + 1));
                p.vertices[k] = {cx + static_cast<std::int32_t>(r * std::cos(angle)),
                                 cy + static_cast<std::int32_t>(r * std::sin(angle)),
                                 static_cast<std::int32_t>(random() % (255u << 16)),
                                 static_cast<std::int32_t>(random() % (255u << 16)),
                                 static_cast<std::int32_t>(random() % (255u << 16))};
            }
            if (trial % 7 == 5)  // the other winding
                std::reverse(p.vertices, p.vertices + count);
            if (trial % 11 == 2 && count == 3)  // a flat side
                p.vertices[1].y = p.vertices[0].y;
            if (trial % 13 == 6) {  // a nearly flat side across a row centre, steeper than 16.16 can hold
                const std::int32_t centre = (p.vertices[0].y & ~0xFFFF) + 0x8000;
                const bool down = trial % 2 == 0;
                p.vertices[down ? 0 : 1].y = centre - 1 - static_cast<std::int32_t>(random() % 100);
                p.vertices[down ? 1 : 0].y = centre + static_cast<std::int32_t>(random() % 100);
            }
            for (std::int32_t* d : {&p.dBdx, &p.dGdx, &p.dRdx, &p.dBdy, &p.dGdy, &p.dRdy})
                *d = static_cast<std::int32_t>(random() % (16u << 16)) - (8 << 16);
            p.spanWriter = additive ? spanGouraudAdditive : spanGouraud;
            Canvas drawn(80, 40, 0x40302010u), expected(80, 40, 0x40302010u);
            fill(drawn, p, count);
            referenceFill(expected, p, count, additive);
            ASSERT_EQ(drawn.memory, expected.memory) << (wide ? "wide, " : "") << "trial " << trial;
        }
    });
}

TEST(Rasterizer, TrianglesWithCornersOnAndBesideRowCentresMatchThePlainFill)
{
    forEachForm([](bool wide) {
        // Corners exactly on a row centre, one unit above or below it, sharing
        // a row with another corner (flat tops and bottoms, a middle corner
        // before the first row centre): every order of the three corners and
        // both windings, wholly inside the picture and reaching past it.
        std::mt19937 random(99);
        const std::int32_t offsets[] = {-0x8000, -1, 0, 1, 0x7FFF};
        int drawnTriangles = 0;
        for (int trial = 0; trial < 3000; ++trial) {
            RasterPolygon p{};
            const bool inside = trial % 4 != 0;
            for (int k = 0; k < 3; ++k) {
                const std::int32_t row = static_cast<std::int32_t>(random() % (inside ? 38u : 48u)) - (inside ? -1 : 4);
                const std::int32_t column = static_cast<std::int32_t>(random() % (inside ? 78u << 16 : 96u << 16));
                p.vertices[k] = {inside ? column + (1 << 16) : column - (8 << 16),
                                 (row << 16) + 0x8000 + offsets[random() % 5],
                                 static_cast<std::int32_t>(random() % (255u << 16)),
                                 static_cast<std::int32_t>(random() % (255u << 16)),
                                 static_cast<std::int32_t>(random() % (255u << 16))};
            }
            if (trial % 3 == 1)  // two corners on one row
                p.vertices[(trial / 3) % 3].y = p.vertices[(trial / 3 + 1) % 3].y;
            for (std::int32_t* d : {&p.dBdx, &p.dGdx, &p.dRdx, &p.dBdy, &p.dGdy, &p.dRdy})
                *d = static_cast<std::int32_t>(random() % (16u << 16)) - (8 << 16);
            const bool additive = trial % 2 == 0;
            p.spanWriter = additive ? spanGouraudAdditive : spanGouraud;
            Canvas drawn(80, 40, 0x40302010u), expected(80, 40, 0x40302010u);
            fill(drawn, p, 3);
            referenceFill(expected, p, 3, additive);
            ASSERT_EQ(drawn.memory, expected.memory) << (wide ? "wide, " : "") << "trial " << trial;
            drawnTriangles += drawn.memory != Canvas(80, 40, 0x40302010u).memory;
        }
        EXPECT_GT(drawnTriangles, 1000);  // the comparisons were not all of empty pictures
    });
}

TEST(Rasterizer, TrianglesSetUpFourAtATimeDrawWhatTheyDrawOneByOne)
{
    const bool before = wideVectors();
    if (!useWideVectors(true))
        GTEST_SKIP() << "no AVX2 here: triangles are only drawn one by one";
    // Runs of one to nine triangles (groups of four, full and not) drawn in
    // order, overlapping, so that replacing shows any change of order:
    // small and large, inside the picture and reaching past it, corners on
    // and beside row centres, flat and single-row triangles, both windings.
    std::mt19937 random(2024);
    const std::int32_t offsets[] = {-0x8000, -1, 0, 1, 0x7FFF, 0x1234};
    for (int trial = 0; trial < 1500; ++trial) {
        const bool additive = trial % 2 == 0;
        const int count = 1 + trial % 9;
        RasterTriangle triangles[9];
        for (int i = 0; i < count; ++i) {
            RasterTriangle& t = triangles[i];
            const int kind = static_cast<int>(random() % 6);
            const std::int32_t span = kind == 0 ? 6 : kind == 1 ? 90 : 30;
            const std::int32_t cx = static_cast<std::int32_t>(random() % 80u), cy = static_cast<std::int32_t>(random() % 40u);
            for (RasterVertex& v : t.vertices) {
                const auto near = [&](std::int32_t c) {
                    return c + static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(2 * span + 1)) - span;
                };
                v = {(near(cx) << 16) + offsets[random() % 6], (near(cy) << 16) + 0x8000 + offsets[random() % 6],
                     static_cast<std::int32_t>(random() % (255u << 16)), static_cast<std::int32_t>(random() % (255u << 16)),
                     static_cast<std::int32_t>(random() % (255u << 16))};
            }
            if (kind == 3)  // a flat side
                t.vertices[1].y = t.vertices[0].y;
            if (kind == 4)  // all on one row
                t.vertices[2].y = t.vertices[1].y = t.vertices[0].y;
            for (std::int32_t* d : {&t.dBdx, &t.dGdx, &t.dRdx, &t.dBdy, &t.dGdy, &t.dRdy})
                *d = static_cast<std::int32_t>(random() % (16u << 16)) - (8 << 16);
        }
        Canvas drawn(80, 40, 0x40302010u), expected(80, 40, 0x40302010u);
        wide::fillTriangles(triangles, count, drawn.image.pixels, drawn.image.pitch, drawn.image.width,
                            drawn.image.height, additive);
        for (int i = 0; i < count; ++i) {
            RasterPolygon p{};
            std::copy(triangles[i].vertices, triangles[i].vertices + 3, p.vertices);
            std::copy(&triangles[i].dBdx, &triangles[i].dBdx + 6, &p.dBdx);
            referenceFill(expected, p, 3, additive);
        }
        ASSERT_EQ(drawn.memory, expected.memory) << "trial " << trial;
    }
    useWideVectors(before);
}
