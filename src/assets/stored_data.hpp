// The assets stored inside the program, embedded from data/ at build time.
#pragma once

#include <cstddef>

// One-bit glyph sheet, 512 x 289 pixels, lowest bit first.
extern const unsigned char glyphSheetBits[];
extern const std::size_t glyphSheetBitsSize;
constexpr int glyphSheetWidth = 512;
constexpr int glyphSheetHeight = 289;

// One-bit logo, 496 x 143 pixels, lowest bit first.
extern const unsigned char logoBits[];
extern const std::size_t logoBitsSize;
constexpr int logoWidth = 496;
constexpr int logoHeight = 143;

// The soundtrack, an Extended Module (XM).
extern const unsigned char soundtrackModule[];
extern const std::size_t soundtrackModuleSize;
