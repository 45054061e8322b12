// The AVX2 build of the fill of a triangle wholly inside the image
// (rasterizer_avx2.cpp, x86-64 only), which the rasteriser takes where
// wideVectors() holds: the same rows and runs as the 16-byte build, with
// the runs written eight pixels to a register.
#pragma once

#include "engine/rasterizer.hpp"

#include <cstdint>

namespace wide {

void fillInsideTriangle(const RasterPolygon& polygon, const YExtremes& e, std::uint32_t* pixels, int pitch,
                        int width, bool add);

} // namespace wide
