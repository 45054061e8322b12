// The tracer two rays at a time: both in the two double lanes of one
// register, every float result formed as the single-ray tracer forms it.
#include "content/sphere_tracer.hpp"

#include "image/simd.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// Two rays side by side in the two double lanes of a register. Every float
// result of the single-ray tracer is formed the same way: the double
// expression, then rounded to float (round()), so the lanes give the same
// bits as traceSample gives each ray on its own.
using Pair = __m128d;

inline Pair round(Pair v)
{
    return _mm_cvtps_pd(_mm_cvtpd_ps(v));
}
inline Pair pair(float lane0, float lane1)
{
    return _mm_set_pd(lane1, lane0);
}
inline Pair all(double v)
{
    return _mm_set1_pd(v);
}
inline Pair add(Pair a, Pair b) { return _mm_add_pd(a, b); }
inline Pair sub(Pair a, Pair b) { return _mm_sub_pd(a, b); }
inline Pair mul(Pair a, Pair b) { return _mm_mul_pd(a, b); }
inline Pair select(Pair mask, Pair yes, Pair no)
{
    return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
}
inline float lane(Pair v, int i)
{
    return static_cast<float>(i == 0 ? _mm_cvtsd_f64(v) : _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)));
}

struct PairVector {
    Pair x, y, z;
};

inline Pair dot(const PairVector& a, const PairVector& b)
{
    return add(add(mul(a.x, b.x), mul(a.y, b.y)), mul(a.z, b.z));
}
inline PairVector roundedSub(const PairVector& a, const PairVector& b)
{
    return {round(sub(a.x, b.x)), round(sub(a.y, b.y)), round(sub(a.z, b.z))};
}
// Divided by its length as Vector3::normalised does: the length rounded to
// float, one reciprocal, each product rounded.
inline PairVector normalisedPair(const PairVector& v)
{
    const Pair r = _mm_div_pd(all(1.0), round(_mm_sqrt_pd(dot(v, v))));
    return {round(mul(v.x, r)), round(mul(v.y, r)), round(mul(v.z, r))};
}

inline Pair fastSqrtPair(Pair x)
{
    const __m128i bits = _mm_castps_si128(_mm_cvtpd_ps(x));
    const float r0 = fastSqrt(std::bit_cast<float>(_mm_cvtsi128_si32(bits)));
    const float r1 = fastSqrt(std::bit_cast<float>(_mm_cvtsi128_si32(_mm_srli_si128(bits, 4))));
    return pair(r0, r1);
}

// The signs of the single-ray tracer's float results, read from the double
// before it is rounded so that a branch need not wait for the rounding.
// Rounding to float keeps the sign and only makes 0 of magnitudes up to
// 2^-150 (half the smallest float, a tie that rounds to even), so
// round(x) >= 0 exactly when x >= -2^-150, and round(x) > 0 when x > 2^-150.
inline Pair roundsToNonNegative(Pair x)
{
    return _mm_cmpge_pd(x, all(-0x1p-150));
}
inline Pair roundsToPositive(Pair x)
{
    return _mm_cmpgt_pd(x, all(0x1p-150));
}

// The crossing of the single-ray tracer for both lanes: whether there is
// one in front, and its distance. disc is not rounded yet.
inline Pair crossingPair(Pair b, Pair disc, Pair& t)
{
    const Pair zero = _mm_setzero_pd();
    const Pair reaches = roundsToNonNegative(disc);
    if (!_mm_movemask_pd(reaches))
        return zero;  // the usual case: both rays pass the sphere by
    const Pair s = fastSqrtPair(_mm_max_pd(disc, zero));  // rounds on the way
    const Pair minusB = _mm_xor_pd(b, all(-0.0));
    const Pair nearFront = _mm_cmpgt_pd(minusB, s);
    const Pair farFront = _mm_cmplt_pd(b, s);
    t = select(nearFront, round(sub(minusB, s)), round(sub(s, b)));
    return _mm_and_pd(reaches, _mm_or_pd(nearFront, farFront));
}

inline Pair pow50Pair(Pair e)
{
    const Pair e2 = mul(e, e), e4 = mul(e2, e2), e8 = mul(e4, e4), e16 = mul(e8, e8), e32 = mul(e16, e16);
    return mul(mul(e32, e16), e2);
}

// All ones in the lanes whose mask has the bit, from a table indexed by
// lane 0's bit plus twice lane 1's.
const std::uint64_t laneMaskBits[4][2] = {{0, 0}, {~0ull, 0}, {0, ~0ull}, {~0ull, ~0ull}};

inline Pair lanesWithBit(std::uint32_t mask0, std::uint32_t mask1, int bit)
{
    const unsigned index = (mask0 >> bit & 1) | (mask1 >> bit & 1) << 1;
    return _mm_loadu_pd(reinterpret_cast<const double*>(laneMaskBits[index]));
}

// Two doubles from anywhere into the lanes of a pair.
inline Pair gather(const double& lane0, const double& lane1)
{
    return _mm_loadh_pd(_mm_load_sd(&lane0), &lane1);
}

// The spheres and lights widened to doubles once per batch of rays, so that
// the lanes are loaded rather than converted from floats ray by ray. Every
// value is a float or an exact product of two floats, so nothing changes.
struct WideSphere {
    PairVector eyeOffset;  // both lanes alike
    Pair eyeTerm;
    PairVector centreBoth;
    Pair radiusSquared;
    double centre[3];
    double diffuse[traceLightCount][3];  // sphere colour x light colour
};
struct WideLight {
    PairVector position;
};
WideSphere wideSpheres[traceSphereCount];
WideLight wideLights[traceLightCount];

void widenWorld()
{
    for (int i = 0; i < traceSphereCount; ++i) {
        const TraceSphere& sphere = traceSpheres[i];
        WideSphere& w = wideSpheres[i];
        w.eyeOffset = {all(sphere.eyeOffset.x), all(sphere.eyeOffset.y), all(sphere.eyeOffset.z)};
        w.eyeTerm = all(sphere.eyeTerm);
        w.centreBoth = {all(sphere.centre.x), all(sphere.centre.y), all(sphere.centre.z)};
        w.radiusSquared = all(sphere.radiusSquared);
        w.centre[0] = sphere.centre.x;
        w.centre[1] = sphere.centre.y;
        w.centre[2] = sphere.centre.z;
        const float* colour = &sphere.colour.red;
        for (int j = 0; j < traceLightCount; ++j) {
            const float* light = &traceLights[j].colour.red;
            for (int ch = 0; ch < 3; ++ch)
                w.diffuse[j][ch] = static_cast<double>(colour[ch]) * light[ch];
        }
    }
    for (int j = 0; j < traceLightCount; ++j) {
        const Vector3& p = traceLights[j].position;
        wideLights[j].position = {all(p.x), all(p.y), all(p.z)};
    }
}

// The nearest sphere along each of two rays, each with its own mask; the
// directions are normalised on the way. A ray may be given twice.
void findNearestPair(const TraceSample& s0, const TraceSample& s1, const std::uint32_t sphereMask[2],
                     PairVector& dir, Pair& closest, int nearest[2])
{
    dir = normalisedPair({pair(s0.direction.x, s1.direction.x), pair(s0.direction.y, s1.direction.y),
                          pair(s0.direction.z, s1.direction.z)});
    closest = all(1e20f);
    nearest[0] = nearest[1] = -1;
    for (std::uint32_t m = (sphereMask[0] | sphereMask[1]) & ((1u << traceSphereCount) - 1); m; m &= m - 1) {
        const int i = std::countr_zero(m);
        const WideSphere& sphere = wideSpheres[i];
        const Pair b = round(dot(dir, sphere.eyeOffset));
        const Pair disc = sub(mul(b, b), sphere.eyeTerm);
        Pair t = _mm_setzero_pd();
        const Pair meets = crossingPair(b, disc, t);
        const Pair closer =
            _mm_and_pd(_mm_and_pd(meets, lanesWithBit(sphereMask[0], sphereMask[1], i)), _mm_cmplt_pd(t, closest));
        closest = select(closer, t, closest);
        const int lanes = _mm_movemask_pd(closer);
        if (lanes & 1)
            nearest[0] = i;
        if (lanes & 2)
            nearest[1] = i;
    }
}

// A ray that hits a sphere, waiting for its shading; the direction (of
// unit length), the distance and the origin already widened.
struct Hit {
    TraceSample* sample;
    std::uint32_t lights;
    int nearest;
    double d[3];
    double best;
    double origin[3];
};

// What the shading of a pair of hits carries from one stage to the next.
struct Shading {
    PairVector p, n;
    PairVector l[traceLightCount];  // from the light to the hit point, unit length
    Pair k[traceLightCount];        // the diffuse factor
    Pair on[traceLightCount];       // lanes the light reaches
};
Shading shading[maxTraceRequests / 2];

// The two hits of pair i; an odd one out is given twice.
inline const Hit& secondOf(const Hit* hits, int count, int i)
{
    return hits[2 * i + 1 < count ? 2 * i + 1 : 2 * i];
}

// Shades the hits two at a time, in three stages over all of them: the
// geometry, the shadows, then the colours. The first and last have no
// branches, so the work of neighbouring pairs overlaps; the arithmetic is
// that of the single-ray tracer, and a light that does not reach a lane
// leaves it as it is.
void shadeHits(const Hit* hits, int count)
{
    const int pairs = (count + 1) / 2;
    const Pair zero = _mm_setzero_pd(), minus = all(-0.0);
    for (int i = 0; i < pairs; ++i) {
        const Hit& h0 = hits[2 * i];
        const Hit& h1 = secondOf(hits, count, i);
        Shading& sh = shading[i];
        const PairVector d{gather(h0.d[0], h1.d[0]), gather(h0.d[1], h1.d[1]), gather(h0.d[2], h1.d[2])};
        const Pair best = gather(h0.best, h1.best);
        const WideSphere& a = wideSpheres[h0.nearest];
        const WideSphere& b = wideSpheres[h1.nearest];
        const PairVector origin{gather(h0.origin[0], h1.origin[0]), gather(h0.origin[1], h1.origin[1]),
                                gather(h0.origin[2], h1.origin[2])};
        const PairVector p{round(add(origin.x, mul(d.x, best))), round(add(origin.y, mul(d.y, best))),
                           round(add(origin.z, mul(d.z, best)))};
        const PairVector centre{gather(a.centre[0], b.centre[0]), gather(a.centre[1], b.centre[1]),
                                gather(a.centre[2], b.centre[2])};
        PairVector n = roundedSub(p, centre);
        const Pair inverse = _mm_div_pd(all(1.0), fastSqrtPair(round(dot(n, n))));
        n = {round(mul(n.x, inverse)), round(mul(n.y, inverse)), round(mul(n.z, inverse))};
        sh.p = p;
        sh.n = n;
        for (int j = 0; j < traceLightCount; ++j) {
            if (!((h0.lights | h1.lights) >> j & 1)) {
                sh.on[j] = zero;  // neither lane looks at this light
                continue;
            }
            const PairVector l = normalisedPair(roundedSub(p, wideLights[j].position));
            // Facing away first: the shadow does not matter there.
            const Pair facing = _mm_xor_pd(dot(n, l), minus);
            sh.l[j] = l;
            sh.k[j] = round(facing);
            sh.on[j] = _mm_and_pd(lanesWithBit(h0.lights, h1.lights, j), roundsToPositive(facing));
        }
    }

    for (int i = 0; i < pairs; ++i) {
        const Hit& h0 = hits[2 * i];
        const Hit& h1 = secondOf(hits, count, i);
        Shading& sh = shading[i];
        for (int j = 0; j < traceLightCount; ++j) {
            Pair lightOn = sh.on[j];
            int on = _mm_movemask_pd(lightOn);
            if (!on)
                continue;
            const PairVector& l = sh.l[j];
            const PairVector toLight{_mm_xor_pd(l.x, minus), _mm_xor_pd(l.y, minus), _mm_xor_pd(l.z, minus)};
            const std::uint32_t candidates[2] = {on & 1 ? shadowCandidates[j][h0.nearest] : 0,
                                                 on & 2 ? shadowCandidates[j][h1.nearest] : 0};
            for (std::uint32_t c = candidates[0] | candidates[1]; c; c &= c - 1) {
                const int blockerIndex = std::countr_zero(c);
                const WideSphere& blocker = wideSpheres[blockerIndex];
                const PairVector offset = roundedSub(sh.p, blocker.centreBoth);
                const Pair bk = round(dot(toLight, offset));
                const Pair disc = add(sub(mul(bk, bk), dot(offset, offset)), blocker.radiusSquared);
                Pair t = zero;
                const Pair meets = crossingPair(bk, disc, t);
                lightOn = _mm_andnot_pd(_mm_and_pd(meets, lanesWithBit(candidates[0], candidates[1], blockerIndex)),
                                        lightOn);
                if (!_mm_movemask_pd(lightOn))
                    break;
            }
            sh.on[j] = lightOn;
        }
    }

    for (int i = 0; i < pairs; ++i) {
        const Hit& h0 = hits[2 * i];
        const Hit& h1 = secondOf(hits, count, i);
        const Shading& sh = shading[i];
        const WideSphere& a = wideSpheres[h0.nearest];
        const WideSphere& b = wideSpheres[h1.nearest];
        const PairVector d{gather(h0.d[0], h1.d[0]), gather(h0.d[1], h1.d[1]), gather(h0.d[2], h1.d[2])};
        const PairVector& n = sh.n;
        Pair colour[3] = {zero, zero, zero};
        std::uint32_t lit[2] = {0, 0};
        for (int j = 0; j < traceLightCount; ++j) {
            const Pair lightOn = sh.on[j];
            const int on = _mm_movemask_pd(lightOn);
            if (!on)
                continue;
            lit[0] |= static_cast<std::uint32_t>(on & 1) << j;
            lit[1] |= static_cast<std::uint32_t>(on >> 1) << j;
            const Pair k = sh.k[j];
            const PairVector& l = sh.l[j];
            for (int ch = 0; ch < 3; ++ch)
                colour[ch] = select(lightOn, round(add(colour[ch], mul(gather(a.diffuse[j][ch], b.diffuse[j][ch]), k))),
                                    colour[ch]);
            const Pair k2 = mul(all(-2.0), k);
            const PairVector r{round(sub(mul(k2, n.x), l.x)), round(sub(mul(k2, n.y), l.y)),
                               round(sub(mul(k2, n.z), l.z))};
            const Pair along = dot(r, d);
            const Pair shine = _mm_and_pd(lightOn, roundsToNonNegative(along));
            if (_mm_movemask_pd(shine)) {
                const Pair highlight = mul(all(0.8), pow50Pair(round(along)));
                for (Pair& c : colour)
                    c = select(shine, round(add(c, highlight)), c);
            }
        }
        const Hit* const h[2] = {&h0, &h1};
        for (int ln = 0; ln < (2 * i + 1 < count ? 2 : 1); ++ln) {
            TraceSample& out = *h[ln]->sample;
            out.t = static_cast<float>(h[ln]->best);
            out.sphere = h[ln]->nearest;
            out.hitMask = 1u << h[ln]->nearest;
            out.hit = Vector3(lane(sh.p.x, ln), lane(sh.p.y, ln), lane(sh.p.z, ln));
            out.normal = Vector3(lane(n.x, ln), lane(n.y, ln), lane(n.z, ln));
            out.lightMask = lit[ln];
            const auto clamp = [&](Pair c) { return std::min(lane(c, ln), 1.0f); };
            out.colour = {clamp(colour[0]), clamp(colour[1]), clamp(colour[2])};
        }
    }
}

} // namespace

namespace {

// All the rays first find their spheres, two at a time; then the rays that
// hit are shaded, two at a time, so that few lanes idle on rays that missed.
void traceChunk(const TraceRequest* rays, int count)
{
    const TraceRequest* untraced[maxTraceRequests];
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (rays[i].sample->sphere == -2)
            untraced[n++] = &rays[i];
    Hit hits[maxTraceRequests];
    int hitCount = 0;
    for (int i = 0; i < n; i += 2) {
        const TraceRequest& a = *untraced[i];
        const TraceRequest& b = *untraced[i + 1 < n ? i + 1 : i];
        const std::uint32_t spheres[2] = {a.spheres, b.spheres};
        PairVector dir;
        Pair closest;
        int nearest[2];
        findNearestPair(*a.sample, *b.sample, spheres, dir, closest, nearest);
        alignas(16) double lanes[4][2];
        if (nearest[0] >= 0 || nearest[1] >= 0) {
            _mm_store_pd(lanes[0], dir.x);
            _mm_store_pd(lanes[1], dir.y);
            _mm_store_pd(lanes[2], dir.z);
            _mm_store_pd(lanes[3], closest);
        }
        for (int ln = 0; ln < (i + 1 < n ? 2 : 1); ++ln) {
            const TraceRequest& ray = ln == 0 ? a : b;
            ++tracedRayCount;
            TraceSample& s = *ray.sample;
            s.hitMask = 0;
            s.sphere = -1;
            if (nearest[ln] < 0) {
                s.colour = {0.0f, 0.0f, 0.0f};
                continue;
            }
            Hit& hit = hits[hitCount++];
            hit = {ray.sample, ray.lights, nearest[ln], {lanes[0][ln], lanes[1][ln], lanes[2][ln]}, lanes[3][ln],
                   {s.origin.x, s.origin.y, s.origin.z}};
        }
    }
    shadeHits(hits, hitCount);
}

} // namespace

void traceRequests(const TraceRequest* requests, int count)
{
    widenWorld();
    for (int start = 0; start < count; start += maxTraceRequests)
        traceChunk(requests + start, std::min(maxTraceRequests, count - start));
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
