// Wide forms of a few loops that run over whole frames: AVX2, 32 bytes a
// step, built on x86-64 only and used where the processor has AVX2. Each
// gives exactly the bytes of the 16-byte form beside its caller, which every
// other machine runs; tests compare the two on this machine.
#pragma once

#include <cstdint>

// Whether the callers take the wide forms now.
bool wideVectors();

// Turns the wide forms off, or back on where they are built and the
// processor has AVX2, so that tests and benchmarks can run both; returns
// whether they are used from now on.
bool useWideVectors(bool on);

namespace wide {

// The row light's c = min(255, ((c * mul) >> 8) + add) on blue, green and
// red, the fourth byte cleared, for count pixels from p.
void tintRow(std::uint32_t* p, int count, int mul, int add);

// addImageScaled's d = min(255, d + ((s * a) >> 15)) on every byte, for a
// factor a in 1..32767 and count pixels of s onto d.
void addScaledRow(const std::uint32_t* s, std::uint32_t* d, int count, int a);

// blurLines' forward and backward steps along sixteen lines of count
// pixels side by side (count a multiple of 4; lines may repeat), with the
// coefficients of blue, green, red and the fourth byte.
void blurSixteenRows(std::uint8_t* const* line, int count, const short coefficients[4]);

// blurLines with every coefficient 16383 along eight lines of count
// pixels side by side (count a multiple of 4; lines may repeat), on the
// bytes as the 16-byte form does it for four.
void blurLeastEightRows(std::uint8_t* const* line, int count);

} // namespace wide
