// The two span writers of the Gouraud rasteriser. Each channel is a 16-bit
// 8.8 value (start >> 8) whose high byte is the pixel's byte; it steps by its
// increment per pixel, wrapping at 16 bits. The fourth colour byte is 0.
#pragma once

#include <cstdint>

// dest: first pixel; count >= 1; starts in 16.16 with the 0.5 rounding bias
// already added; steps are the x gradients shifted right by 8 (8.8).
using SpanWriter = void (*)(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green,
                            std::int32_t red, std::uint16_t blueStep, std::uint16_t greenStep,
                            std::uint16_t redStep);

// Stores the colour (fourth byte 0).
void spanGouraud(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                 std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep);

// Adds the colour byte by byte, saturating at 255; the fourth byte keeps its value.
void spanGouraudAdditive(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                         std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep);
