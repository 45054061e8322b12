// Scanline fill of a convex screen polygon in 16.16 fixed point, with the
// three colour channels interpolated linearly in screen space.
#pragma once

#include "engine/span.hpp"

#include <cstdint>

// 16.16 fixed point: screen position and channel values 0..255.
struct RasterVertex {
    std::int32_t x, y;
    std::int32_t blue, green, red;
};

// A triangle clipped by five planes has at most 3 + 5 vertices.
inline constexpr int rasterCapacity = 8;

struct RasterPolygon {
    RasterVertex vertices[rasterCapacity];  // clockwise on the screen (y down)
    SpanWriter spanWriter;
    std::int32_t dBdx, dGdx, dRdx;  // per pixel step in x, 16.16
    std::int32_t dBdy, dGdy, dRdy;  // per pixel step in y, 16.16
};

// A triangle, as renderMesh hands its triangles to the rasteriser in
// batches: the corners and the steps of RasterPolygon.
struct RasterTriangle {
    RasterVertex vertices[3];  // clockwise on the screen (y down)
    std::int32_t dBdx, dGdx, dRdx;
    std::int32_t dBdy, dGdy, dRdy;
};

struct YExtremes {
    int top;     // first vertex with the smallest y
    int bottom;  // first vertex with the largest y
};

YExtremes findYExtremes(const RasterPolygon& polygon, int count);

// Fills the polygon (3 <= count <= rasterCapacity; other counts draw
// nothing). Rows and pixels outside width x height are not touched; within
// it every pixel gets exactly the bytes the unbounded fill would give it.
// A polygon wound the other way round draws nothing.
void rasterizePolygon(const RasterPolygon& polygon, int count, std::uint32_t* pixels, int pitch, int width, int height);
