// The AVX2 build of the fill of triangles wholly inside the image
// (rasterizer_avx2.cpp, x86-64 only), which the rasteriser and renderMesh
// take where wideVectors() holds: the same rows and runs as the 16-byte
// build, with the runs written eight pixels to a register.
#pragma once

#include "engine/rasterizer.hpp"
#include "image/simd.hpp"

#include <cstdint>

// How a triangle wholly inside the image is walked, lane by lane for up to
// four triangles. The edges of the general walk, worked out for three
// corners: from the top t the left edge runs to b = t + 2 and then on to
// a = t + 1, the right edge to a and then on to b. Whichever of a and b lies
// higher is reached first (at or above the first row centre, at once), and
// the other one is the bottom. The first rows run until the higher one is
// passed; then the edge that reached it turns along the side from a to b
// and the last rows run to the bottom.
struct TriangleWalks {
    alignas(32) std::int64_t y[4];  // the first row centre, 16.16
    alignas(32) std::int64_t leftX[4], rightX[4];    // x on the first row, with the 0.5 bias
    alignas(32) std::int64_t turnedX[2][4];          // the left and the right edge's x after the turn
    alignas(16) std::int32_t leftSlope[4], rightSlope[4], turnSlope[4];
    alignas(16) std::int32_t firstRows[4], lastRows[4];  // none at all when firstRows is 0
    alignas(16) std::int32_t turns[4];                   // 1: the left edge turns, 2: the right, 3: both
    alignas(16) std::uint32_t blue[4], green[4], red[4];  // the channels at column 0 of the first row
};

// Four triangles side by side, lane t of every register holding triangle
// t: the fields of RasterTriangle as rows.
struct TriangleRows {
    __m128i x[3], y[3], blue[3], green[3], red[3];
    __m128i dBdx, dGdx, dRdx, dBdy, dGdy, dRdy;
};

// Four triangles walked, with each one's steps dBdx .. dRdy as the fill
// loads them.
struct WalkedFour {
    TriangleWalks walks;
    alignas(16) std::int32_t steps[4][8];  // the six steps, then two spare
};

namespace wide {

void fillInsideTriangle(const RasterPolygon& polygon, const YExtremes& e, std::uint32_t* pixels, int pitch,
                        int width, bool add);

// The same for a polygon of any corner count (a triangle cut by the clipper).
void fillInsidePolygon(const RasterPolygon& polygon, int count, const YExtremes& e, std::uint32_t* pixels, int pitch,
                       int width, bool add);

// Draws count triangles in order, each as rasterizePolygon would with the
// engine's additive (add) or replacing writer; those wholly inside the
// image are set up four at a time.
void fillTriangles(const RasterTriangle* triangles, int count, std::uint32_t* pixels, int pitch, int width,
                   int height, bool add);

// Walks the four triangles of rows (they may repeat) into four. Returns
// the mask of those wholly inside width x height, the only ones that
// fillWalked may draw: rasterizePolygon draws the others.
unsigned walkRows(const TriangleRows& rows, int width, int height, WalkedFour& four);

// Draws triangle k of four, as rasterizePolygon would.
void fillWalked(const WalkedFour& four, int k, std::uint32_t* pixels, int pitch, int width, bool add);

} // namespace wide
