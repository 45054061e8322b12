// The tracer four rays at a time, in the four double lanes of an AVX2
// register; compiled with -mavx2 on x86-64 only. It includes nothing of the
// project's own that would compile a shared inline function here, with
// AVX2, for the linker to pick for callers that run on any x86-64: only the
// tracer's declarations and fields are used, and the tracer's body is
// compiled into this file's unnamed namespace.
#include "content/sphere_tracer.hpp"

#include <immintrin.h>

#include <cstddef>

namespace {

struct Lanes {
    __m256d v;

    static constexpr int count = 4;
    static Lanes all(double x) { return {_mm256_set1_pd(x)}; }
    static Lanes zero() { return {_mm256_setzero_pd()}; }
    static Lanes load(const double* p) { return {_mm256_load_pd(p)}; }
    template <class F>
    static Lanes from(F lane)
    {
        return {_mm256_set_pd(lane(3), lane(2), lane(1), lane(0))};
    }
    template <class F>
    static Lanes fromFloats(F lane)
    {
        return {_mm256_cvtps_pd(_mm_set_ps(lane(3), lane(2), lane(1), lane(0)))};
    }
    struct Floats {
        __m128 v;
    };
    static Floats floats(float x) { return {_mm_set1_ps(x)}; }
    template <class F>
    static Floats floatsFrom(F lane)
    {
        return {_mm_set_ps(lane(3), lane(2), lane(1), lane(0))};
    }
    // Each lane's mask in the low half of the lane.
    struct Masks {
        __m256i v;
    };
    template <class F>
    static Masks masks(F lane)
    {
        return {_mm256_set_epi64x(lane(3), lane(2), lane(1), lane(0))};
    }
};

inline Lanes operator+(Lanes a, Lanes b) { return {_mm256_add_pd(a.v, b.v)}; }
inline Lanes operator-(Lanes a, Lanes b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline Lanes operator*(Lanes a, Lanes b) { return {_mm256_mul_pd(a.v, b.v)}; }
inline Lanes operator/(Lanes a, Lanes b) { return {_mm256_div_pd(a.v, b.v)}; }
inline Lanes operator-(Lanes a) { return {_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))}; }
inline Lanes operator<(Lanes a, Lanes b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LT_OS)}; }
inline Lanes operator>(Lanes a, Lanes b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GT_OS)}; }
inline Lanes operator>=(Lanes a, Lanes b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GE_OS)}; }
inline Lanes operator&(Lanes a, Lanes b) { return {_mm256_and_pd(a.v, b.v)}; }
inline Lanes operator|(Lanes a, Lanes b) { return {_mm256_or_pd(a.v, b.v)}; }
inline Lanes andNot(Lanes a, Lanes b) { return {_mm256_andnot_pd(a.v, b.v)}; }
inline Lanes select(Lanes mask, Lanes yes, Lanes no) { return {_mm256_blendv_pd(no.v, yes.v, mask.v)}; }
// Both as the 16-byte forms: the second operand where either is NaN.
inline Lanes maxOf(Lanes a, Lanes b) { return {_mm256_max_pd(a.v, b.v)}; }
inline Lanes minOf(Lanes a, Lanes b) { return {_mm256_min_pd(a.v, b.v)}; }
inline Lanes::Floats narrow(Lanes a) { return {_mm256_cvtpd_ps(a.v)}; }
inline Lanes widen(Lanes::Floats a) { return {_mm256_cvtps_pd(a.v)}; }
inline Lanes::Floats operator-(Lanes::Floats a, Lanes::Floats b) { return {_mm_sub_ps(a.v, b.v)}; }
inline Lanes round(Lanes a) { return widen(narrow(a)); }
inline Lanes squareRoot(Lanes a) { return {_mm256_sqrt_pd(a.v)}; }
inline int laneBits(Lanes mask) { return _mm256_movemask_pd(mask.v); }
inline void store(double* p, Lanes a) { _mm256_store_pd(p, a.v); }

// fastSqrt of the four lanes, rounded to float first, from the table of
// roots by bits 15 to 30.
inline Lanes fastRoot(Lanes x)
{
    const __m128i bits = _mm_castps_si128(_mm256_cvtpd_ps(x.v));
    const __m128i index = _mm_and_si128(_mm_srli_epi32(bits, 15), _mm_set1_epi32(0xFFFF));
    const __m128d low = _mm_loadh_pd(_mm_load_sd(&fastSqrtByBits[_mm_cvtsi128_si32(index)]),
                                     &fastSqrtByBits[_mm_extract_epi32(index, 1)]);
    const __m128d high = _mm_loadh_pd(_mm_load_sd(&fastSqrtByBits[_mm_extract_epi32(index, 2)]),
                                      &fastSqrtByBits[_mm_extract_epi32(index, 3)]);
    return {_mm256_insertf128_pd(_mm256_castpd128_pd256(low), high, 1)};
}

inline Lanes with(Lanes::Masks masks, int bit)
{
    const __m256i b = _mm256_set1_epi64x(std::int64_t{1} << bit);
    return {_mm256_castsi256_pd(_mm256_cmpeq_epi64(_mm256_and_si256(masks.v, b), b))};
}

// The float results of the four lanes laid out as in a TraceSample, from t
// to the colour, and stored into the four samples.
void storeFloats(TraceSample* const out[4], const Lanes::Floats values[10])
{
    static_assert(offsetof(TraceSample, hit) == offsetof(TraceSample, t) + 4 &&
                  offsetof(TraceSample, normal) == offsetof(TraceSample, t) + 16 &&
                  offsetof(TraceSample, colour) == offsetof(TraceSample, t) + 28);
    __m128 f[10];
    for (int i = 0; i < 10; ++i)
        f[i] = values[i].v;
    // Records' words 0-3 and 4-7 turned from lanes into rows; 8-9 in pairs.
    _MM_TRANSPOSE4_PS(f[0], f[1], f[2], f[3]);
    _MM_TRANSPOSE4_PS(f[4], f[5], f[6], f[7]);
    const __m128 gbLow = _mm_unpacklo_ps(f[8], f[9]);   // g0 b0 g1 b1
    const __m128 gbHigh = _mm_unpackhi_ps(f[8], f[9]);  // g2 b2 g3 b3
    const __m128 gb[4] = {gbLow, _mm_movehl_ps(gbLow, gbLow), gbHigh, _mm_movehl_ps(gbHigh, gbHigh)};
    const auto at = [](TraceSample* s, int word) {
        return reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(s) + offsetof(TraceSample, t) + 4 * word);
    };
    // The last lane first: a record filling empty lanes is also an earlier one.
    for (int k = 3; k >= 0; --k) {
        _mm_storeu_ps(at(out[k], 0), f[k]);
        _mm_storeu_ps(at(out[k], 4), f[4 + k]);
        _mm_storel_pi(reinterpret_cast<__m64*>(at(out[k], 8)), gb[k]);
    }
}

} // namespace

#include "content/trace_lanes.hpp"

void wide::traceRequests(const TraceRequest* requests, int count)
{
    traceAll<Lanes>(requests, count);
}
