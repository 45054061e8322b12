// The tracer two rays at a time, in the two double lanes of an SSE2
// register; where the processor has AVX2, the four-lane form of the same
// tracer runs instead.
#include "content/sphere_tracer.hpp"

#include "image/simd.hpp"
#include "image/wide.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace {

struct Lanes {
    __m128d v;

    static constexpr int count = 2;
    static Lanes all(double x) { return {_mm_set1_pd(x)}; }
    static Lanes zero() { return {_mm_setzero_pd()}; }
    static Lanes load(const double* p) { return {_mm_load_pd(p)}; }
    template <class F>
    static Lanes from(F lane)
    {
        return {_mm_set_pd(lane(1), lane(0))};
    }
    template <class F>
    static Lanes fromFloats(F lane)
    {
        return {_mm_set_pd(lane(1), lane(0))};
    }
    struct Floats {
        __m128 v;  // lanes 0 and 1
    };
    static Floats floats(float x) { return {_mm_set1_ps(x)}; }
    template <class F>
    static Floats floatsFrom(F lane)
    {
        return {_mm_setr_ps(lane(0), lane(1), 0.0f, 0.0f)};
    }
    // Each lane's mask in both halves of the lane.
    struct Masks {
        __m128i v;
    };
    template <class F>
    static Masks masks(F lane)
    {
        const int lane0 = static_cast<int>(lane(0)), lane1 = static_cast<int>(lane(1));
        return {_mm_set_epi32(lane1, lane1, lane0, lane0)};
    }
};

inline Lanes operator+(Lanes a, Lanes b) { return {_mm_add_pd(a.v, b.v)}; }
inline Lanes operator-(Lanes a, Lanes b) { return {_mm_sub_pd(a.v, b.v)}; }
inline Lanes operator*(Lanes a, Lanes b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Lanes operator/(Lanes a, Lanes b) { return {_mm_div_pd(a.v, b.v)}; }
inline Lanes operator-(Lanes a) { return {_mm_xor_pd(a.v, _mm_set1_pd(-0.0))}; }
inline Lanes operator<(Lanes a, Lanes b) { return {_mm_cmplt_pd(a.v, b.v)}; }
inline Lanes operator>(Lanes a, Lanes b) { return {_mm_cmpgt_pd(a.v, b.v)}; }
inline Lanes operator>=(Lanes a, Lanes b) { return {_mm_cmpge_pd(a.v, b.v)}; }
inline Lanes operator&(Lanes a, Lanes b) { return {_mm_and_pd(a.v, b.v)}; }
inline Lanes operator|(Lanes a, Lanes b) { return {_mm_or_pd(a.v, b.v)}; }
inline Lanes andNot(Lanes a, Lanes b) { return {_mm_andnot_pd(a.v, b.v)}; }
inline Lanes select(Lanes mask, Lanes yes, Lanes no) { return (mask & yes) | andNot(mask, no); }
inline Lanes maxOf(Lanes a, Lanes b) { return {_mm_max_pd(a.v, b.v)}; }
inline Lanes minOf(Lanes a, Lanes b) { return {_mm_min_pd(a.v, b.v)}; }
inline Lanes::Floats narrow(Lanes a) { return {_mm_cvtpd_ps(a.v)}; }
inline Lanes widen(Lanes::Floats a) { return {_mm_cvtps_pd(a.v)}; }
inline Lanes::Floats operator-(Lanes::Floats a, Lanes::Floats b) { return {_mm_sub_ps(a.v, b.v)}; }
inline Lanes round(Lanes a) { return widen(narrow(a)); }
inline Lanes squareRoot(Lanes a) { return {_mm_sqrt_pd(a.v)}; }
inline int laneBits(Lanes mask) { return _mm_movemask_pd(mask.v); }
inline void store(double* p, Lanes a) { _mm_store_pd(p, a.v); }

// fastSqrt of both lanes, rounded to float first: the table that
// initSqrtTables fills with the root for bits 15 to 30 of every float.
inline Lanes fastRoot(Lanes x)
{
    const __m128i bits = _mm_castps_si128(_mm_cvtpd_ps(x.v));
    const __m128i index = _mm_and_si128(_mm_srli_epi32(bits, 15), _mm_set1_epi32(0xFFFF));
    const double* root0 = &fastSqrtByBits[_mm_cvtsi128_si32(index)];
    const double* root1 = &fastSqrtByBits[_mm_cvtsi128_si32(_mm_srli_si128(index, 4))];
    return {_mm_loadh_pd(_mm_load_sd(root0), root1)};
}

alignas(16) const std::uint32_t bitWords[traceSphereCount][4] = {
    {1, 1, 1, 1}, {2, 2, 2, 2}, {4, 4, 4, 4}, {8, 8, 8, 8}, {16, 16, 16, 16}, {32, 32, 32, 32}};
static_assert(traceLightCount <= traceSphereCount);

inline Lanes with(Lanes::Masks masks, int bit)
{
    const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(bitWords[bit]));
    return {_mm_castsi128_pd(_mm_cmpeq_epi32(_mm_and_si128(masks.v, b), b))};
}

// The float results of both lanes laid out as in a TraceSample, from t to
// the colour, and stored into the two samples.
void storeFloats(TraceSample* const out[2], const Lanes::Floats values[10])
{
    static_assert(offsetof(TraceSample, hit) == offsetof(TraceSample, t) + 4 &&
                  offsetof(TraceSample, normal) == offsetof(TraceSample, t) + 16 &&
                  offsetof(TraceSample, colour) == offsetof(TraceSample, t) + 28);
    const auto floats = [&](int i) { return values[i].v; };
    const __m128 tx = _mm_unpacklo_ps(floats(0), floats(1));  // t0 x0 t1 x1
    const __m128 yz = _mm_unpacklo_ps(floats(2), floats(3));  // y0 z0 y1 z1
    const __m128 nxy = _mm_unpacklo_ps(floats(4), floats(5));
    const __m128 nzr = _mm_unpacklo_ps(floats(6), floats(7));
    const __m128 gb = _mm_unpacklo_ps(floats(8), floats(9));
    // The ten floats from t on, addressed within each whole record.
    const auto at = [](TraceSample* s, int word) {
        return reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(s) + offsetof(TraceSample, t) + 4 * word);
    };
    _mm_storeu_ps(at(out[1], 0), _mm_movehl_ps(yz, tx));
    _mm_storeu_ps(at(out[1], 4), _mm_movehl_ps(nzr, nxy));
    _mm_storeh_pi(reinterpret_cast<__m64*>(at(out[1], 8)), gb);
    _mm_storeu_ps(at(out[0], 0), _mm_movelh_ps(tx, yz));
    _mm_storeu_ps(at(out[0], 4), _mm_movelh_ps(nxy, nzr));
    _mm_storel_pi(reinterpret_cast<__m64*>(at(out[0], 8)), gb);
}

} // namespace

#include "content/trace_lanes.hpp"

void traceRequests(const TraceRequest* requests, int count)
{
    if (wideVectors())
        wide::traceRequests(requests, count);
    else
        traceAll<Lanes>(requests, count);
}

void traceSamples(TraceSample* const* samples, int count, std::uint32_t sphereMask, std::uint32_t lightMask)
{
    TraceRequest rays[maxTraceRequests];
    for (int start = 0; start < count; start += maxTraceRequests) {
        const int n = std::min(maxTraceRequests, count - start);
        for (int i = 0; i < n; ++i)
            rays[i] = {samples[start + i], sphereMask, lightMask};
        traceRequests(rays, n);
    }
}

#if !defined(MORVANE_WIDE_VECTORS)
// Never called: wideVectors() is false where the four-lane form is not built.
void wide::traceRequests(const TraceRequest*, int)
{
    std::abort();
}
#endif
