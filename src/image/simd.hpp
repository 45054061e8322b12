// SSE2 intrinsics on every machine. On x86-64 these are the native
// instructions; elsewhere (64-bit ARM, WebAssembly) SIMDe maps each one to the
// local vector instructions with the same results, so the packed pixel code
// is written once and draws the same bytes everywhere.
#pragma once

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/sse2.h>

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
// The SIMDe in Debian 12 computes these one lane at a time on WebAssembly;
// the widening multiplies and the bitmask instruction give the same results
// in a few instructions.
inline __m128i wasmMulhiEpu16(__m128i a, __m128i b)
{
    const v128_t low = wasm_u32x4_extmul_low_u16x8(a, b);
    const v128_t high = wasm_u32x4_extmul_high_u16x8(a, b);
    return wasm_i16x8_shuffle(low, high, 1, 3, 5, 7, 9, 11, 13, 15);
}
inline __m128i wasmMulhiEpi16(__m128i a, __m128i b)
{
    const v128_t low = wasm_i32x4_extmul_low_i16x8(a, b);
    const v128_t high = wasm_i32x4_extmul_high_i16x8(a, b);
    return wasm_i16x8_shuffle(low, high, 1, 3, 5, 7, 9, 11, 13, 15);
}
inline int wasmMovemaskEpi8(__m128i a)
{
    return static_cast<int>(wasm_i8x16_bitmask(a));
}
#undef _mm_mulhi_epu16
#define _mm_mulhi_epu16(a, b) wasmMulhiEpu16(a, b)
#undef _mm_mulhi_epi16
#define _mm_mulhi_epi16(a, b) wasmMulhiEpi16(a, b)
#undef _mm_movemask_epi8
#define _mm_movemask_epi8(a) wasmMovemaskEpi8(a)
#endif
