// SSE2 intrinsics on every machine. On x86-64 these are the native
// instructions; elsewhere (64-bit ARM, WebAssembly) SIMDe maps each one to the
// local vector instructions with the same results, so the packed pixel code
// is written once and draws the same bytes everywhere.
#pragma once

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/sse2.h>

#include <cstdint>
#include <limits>

#if !defined(SIMDE_X86_SSE2_NATIVE)
// Double to 32-bit integer, truncated, as x86-64 converts: any value whose
// truncation fits (every value above -2^31 - 1 and below 2^31), else and for
// NaN -2^31. The SIMDe in Debian 12 also gives -2^31 for the values from
// 2^31 - 1 up to 2^31, where the processor gives 2^31 - 1.
inline std::int32_t truncateAsX86(double v)
{
    return v > -2147483649.0 && v < 2147483648.0 ? static_cast<std::int32_t>(v)
                                                 : std::numeric_limits<std::int32_t>::min();
}
inline int truncateLowAsX86(__m128d a)
{
    return truncateAsX86(_mm_cvtsd_f64(a));
}
inline __m128i truncatePairAsX86(__m128d a)
{
    alignas(16) double v[2];
    _mm_store_pd(v, a);
    return _mm_setr_epi32(truncateAsX86(v[0]), truncateAsX86(v[1]), 0, 0);
}
#undef _mm_cvttsd_si32
#define _mm_cvttsd_si32(a) truncateLowAsX86(a)
#undef _mm_cvttpd_epi32
#define _mm_cvttpd_epi32(a) truncatePairAsX86(a)

// Packed double minimum and maximum as x86-64 takes them: where either lane
// is NaN, the second operand. (SIMDe maps them to instructions that give
// NaN there; its float forms already follow x86-64.)
inline __m128d minPairAsX86(__m128d a, __m128d b)
{
    const __m128d first = _mm_cmplt_pd(a, b);
    return _mm_or_pd(_mm_and_pd(first, a), _mm_andnot_pd(first, b));
}
inline __m128d maxPairAsX86(__m128d a, __m128d b)
{
    const __m128d first = _mm_cmpgt_pd(a, b);
    return _mm_or_pd(_mm_and_pd(first, a), _mm_andnot_pd(first, b));
}
#undef _mm_min_pd
#define _mm_min_pd(a, b) minPairAsX86(a, b)
#undef _mm_max_pd
#define _mm_max_pd(a, b) maxPairAsX86(a, b)
#endif

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
