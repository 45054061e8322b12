// The AVX2 build of the fill of triangles wholly inside the image
// (rasterizer_avx2.cpp, x86-64 only), which the rasteriser and renderMesh
// take where wideVectors() holds: the same rows and runs as the 16-byte
// build, with the runs written eight pixels to a register.
#pragma once

#include "engine/rasterizer.hpp"

#include <cstdint>

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

} // namespace wide
