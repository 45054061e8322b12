// The tracer two rays at a time: both in the two double lanes of one
// register, every float result formed as the single-ray tracer forms it.
#include "content/sphere_tracer.hpp"

#include "image/simd.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>

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

// fastSqrt of both lanes, rounded to float first: the table that
// initSqrtTables fills with the root for bits 15 to 30 of every float.
inline Pair fastSqrtPair(Pair x)
{
    const __m128i bits = _mm_castps_si128(_mm_cvtpd_ps(x));
    const __m128i index = _mm_and_si128(_mm_srli_epi32(bits, 15), _mm_set1_epi32(0xFFFF));
    const double* root0 = &fastSqrtByBits[_mm_cvtsi128_si32(index)];
    const double* root1 = &fastSqrtByBits[_mm_cvtsi128_si32(_mm_srli_si128(index, 4))];
    return _mm_loadh_pd(_mm_load_sd(root0), root1);
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
    t = round(select(nearFront, sub(minusB, s), sub(s, b)));
    return _mm_and_pd(reaches, _mm_or_pd(nearFront, farFront));
}

// Only whether there is a crossing in front. The root s is never negative,
// so -b > s implies b < s, and b < s alone decides.
inline Pair crossesPair(Pair b, Pair disc)
{
    const Pair reaches = roundsToNonNegative(disc);
    if (!_mm_movemask_pd(reaches))
        return _mm_setzero_pd();
    const Pair s = fastSqrtPair(_mm_max_pd(disc, _mm_setzero_pd()));
    return _mm_and_pd(reaches, _mm_cmplt_pd(b, s));
}

inline Pair pow50Pair(Pair e)
{
    const Pair e2 = mul(e, e), e4 = mul(e2, e2), e8 = mul(e4, e4), e16 = mul(e8, e8), e32 = mul(e16, e16);
    return mul(mul(e32, e16), e2);
}

// Two masks, one for each lane, each in both halves of its lane; lanesWith
// turns a bit of them into all ones in the lanes whose mask has it.
inline __m128i laneMasks(std::uint32_t lane0, std::uint32_t lane1)
{
    return _mm_set_epi32(static_cast<int>(lane1), static_cast<int>(lane1), static_cast<int>(lane0),
                         static_cast<int>(lane0));
}
alignas(16) const std::uint32_t bitWords[traceSphereCount][4] = {
    {1, 1, 1, 1}, {2, 2, 2, 2}, {4, 4, 4, 4}, {8, 8, 8, 8}, {16, 16, 16, 16}, {32, 32, 32, 32}};
static_assert(traceLightCount <= traceSphereCount);

inline Pair lanesWith(__m128i masks, int bit)
{
    const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(bitWords[bit]));
    return _mm_castsi128_pd(_mm_cmpeq_epi32(_mm_and_si128(masks, b), b));
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

// The rays of a chunk in pairs, their unit directions and nearest hits;
// an odd ray out is given twice.
struct RayPair {
    alignas(16) double d[3][2];
    alignas(16) double best[2];
};
RayPair rayPairs[maxTraceRequests / 2];

// The nearest sphere along each of the pair's rays, each with its own mask.
void findNearestPair(RayPair& rays, std::uint32_t mask0, std::uint32_t mask1, int nearest[2])
{
    const PairVector d{_mm_load_pd(rays.d[0]), _mm_load_pd(rays.d[1]), _mm_load_pd(rays.d[2])};
    Pair closest = all(1e20f);
    int near0 = -1, near1 = -1;
    // Neighbouring rays mostly share their masks; only masks that differ
    // need sorting out lane by lane.
    const std::uint32_t both = mask0 & mask1 & ((1u << traceSphereCount) - 1);
    const std::uint32_t either = (mask0 | mask1) & ((1u << traceSphereCount) - 1);
    const __m128i masks = laneMasks(mask0, mask1);
    for (std::uint32_t m = either; m; m &= m - 1) {
        const int i = std::countr_zero(m);
        const WideSphere& sphere = wideSpheres[i];
        const Pair b = round(dot(d, sphere.eyeOffset));
        const Pair disc = sub(mul(b, b), sphere.eyeTerm);
        Pair t = _mm_setzero_pd();
        Pair meets = crossingPair(b, disc, t);
        if (!(both >> i & 1))
            meets = _mm_and_pd(meets, lanesWith(masks, i));
        const Pair closer = _mm_and_pd(meets, _mm_cmplt_pd(t, closest));
        closest = select(closer, t, closest);
        const int lanes = _mm_movemask_pd(closer);
        near0 = lanes & 1 ? i : near0;
        near1 = lanes & 2 ? i : near1;
    }
    nearest[0] = near0;
    nearest[1] = near1;
    _mm_store_pd(rays.best, closest);
}

// A ray that hits a sphere, waiting for its shading: where its direction
// and distance lie (pair and lane of rayPairs).
struct Hit {
    TraceSample* sample;
    std::uint32_t lights;
    int nearest;
    int ray;  // 2 x pair + lane
};

// What the shading of a pair of hits carries from one stage to the next.
struct Shading {
    PairVector d, p, n;
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

// The float results of both lanes laid out as in a TraceSample, from t to
// the colour, and stored into the two samples.
void storeResults(TraceSample& out0, TraceSample& out1, Pair t, const PairVector& p, const PairVector& n,
                  const Pair colour[3])
{
    static_assert(offsetof(TraceSample, hit) == offsetof(TraceSample, t) + 4 &&
                  offsetof(TraceSample, normal) == offsetof(TraceSample, t) + 16 &&
                  offsetof(TraceSample, colour) == offsetof(TraceSample, t) + 28);
    const auto floats = [](Pair v) { return _mm_cvtpd_ps(v); };
    const __m128 one = _mm_set1_ps(1.0f);
    // min(c, 1) as std::min(c, 1.0f) gives it: 1 only where 1 < c.
    const auto clamped = [&](Pair c) { return _mm_min_ps(one, floats(c)); };
    const __m128 tx = _mm_unpacklo_ps(floats(t), floats(p.x));   // t0 x0 t1 x1
    const __m128 yz = _mm_unpacklo_ps(floats(p.y), floats(p.z));  // y0 z0 y1 z1
    const __m128 nxy = _mm_unpacklo_ps(floats(n.x), floats(n.y));
    const __m128 nzr = _mm_unpacklo_ps(floats(n.z), clamped(colour[0]));
    const __m128 gb = _mm_unpacklo_ps(clamped(colour[1]), clamped(colour[2]));
    // The ten floats from t on, addressed within each whole record.
    const auto at = [](TraceSample& out, int word) {
        return reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(&out) + offsetof(TraceSample, t) + 4 * word);
    };
    // Lane 1 first: an odd one out is both lanes, and lane 0 must win.
    _mm_storeu_ps(at(out1, 0), _mm_movehl_ps(yz, tx));
    _mm_storeu_ps(at(out1, 4), _mm_movehl_ps(nzr, nxy));
    _mm_storeh_pi(reinterpret_cast<__m64*>(at(out1, 8)), gb);
    _mm_storeu_ps(at(out0, 0), _mm_movelh_ps(tx, yz));
    _mm_storeu_ps(at(out0, 4), _mm_movelh_ps(nxy, nzr));
    _mm_storel_pi(reinterpret_cast<__m64*>(at(out0, 8)), gb);
}

// Shades the hits two at a time, in stages over all of them: the
// geometry, the lights, the shadows, then the colours. Each stage's loop is
// short and its pairs independent, so the work of many pairs overlaps; the
// arithmetic is that of the single-ray tracer, and a light that does not
// reach a lane leaves it as it is.
void shadeHits(const Hit* hits, int count)
{
    const int pairs = (count + 1) / 2;
    const Pair zero = _mm_setzero_pd(), minus = all(-0.0);
    for (int i = 0; i < pairs; ++i) {
        const Hit& h0 = hits[2 * i];
        const Hit& h1 = secondOf(hits, count, i);
        Shading& sh = shading[i];
        const RayPair& r0 = rayPairs[h0.ray / 2];
        const RayPair& r1 = rayPairs[h1.ray / 2];
        const int l0 = h0.ray & 1, l1 = h1.ray & 1;
        const PairVector d{gather(r0.d[0][l0], r1.d[0][l1]), gather(r0.d[1][l0], r1.d[1][l1]),
                           gather(r0.d[2][l0], r1.d[2][l1])};
        const Pair best = gather(r0.best[l0], r1.best[l1]);
        const WideSphere& a = wideSpheres[h0.nearest];
        const WideSphere& b = wideSpheres[h1.nearest];
        const Vector3& o0 = h0.sample->origin;
        const Vector3& o1 = h1.sample->origin;
        const PairVector origin{pair(o0.x, o1.x), pair(o0.y, o1.y), pair(o0.z, o1.z)};
        const PairVector p{round(add(origin.x, mul(d.x, best))), round(add(origin.y, mul(d.y, best))),
                           round(add(origin.z, mul(d.z, best)))};
        const PairVector centre{gather(a.centre[0], b.centre[0]), gather(a.centre[1], b.centre[1]),
                                gather(a.centre[2], b.centre[2])};
        PairVector n = roundedSub(p, centre);
        const Pair inverse = _mm_div_pd(all(1.0), fastSqrtPair(round(dot(n, n))));
        n = {round(mul(n.x, inverse)), round(mul(n.y, inverse)), round(mul(n.z, inverse))};
        sh.d = d;
        sh.p = p;
        sh.n = n;
    }

    for (int i = 0; i < pairs; ++i) {
        const Hit& h0 = hits[2 * i];
        const Hit& h1 = secondOf(hits, count, i);
        Shading& sh = shading[i];
        const __m128i lights = laneMasks(h0.lights, h1.lights);
        for (int j = 0; j < traceLightCount; ++j) {
            if (!((h0.lights | h1.lights) >> j & 1)) {
                sh.on[j] = zero;  // neither lane looks at this light
                continue;
            }
            const PairVector l = normalisedPair(roundedSub(sh.p, wideLights[j].position));
            // Facing away first: the shadow does not matter there.
            const Pair facing = _mm_xor_pd(dot(sh.n, l), minus);
            sh.l[j] = l;
            sh.k[j] = round(facing);
            sh.on[j] = _mm_and_pd(lanesWith(lights, j), roundsToPositive(facing));
        }
    }

    for (int i = 0; i < pairs; ++i) {
        const Hit& h0 = hits[2 * i];
        const Hit& h1 = secondOf(hits, count, i);
        Shading& sh = shading[i];
        for (int j = 0; j < traceLightCount; ++j) {
            Pair lightOn = sh.on[j];
            const int on = _mm_movemask_pd(lightOn);
            if (!on)
                continue;
            const PairVector& l = sh.l[j];
            const PairVector toLight{_mm_xor_pd(l.x, minus), _mm_xor_pd(l.y, minus), _mm_xor_pd(l.z, minus)};
            const std::uint32_t candidates0 = on & 1 ? shadowCandidates[j][h0.nearest] : 0;
            const std::uint32_t candidates1 = on & 2 ? shadowCandidates[j][h1.nearest] : 0;
            const __m128i candidates = laneMasks(candidates0, candidates1);
            const std::uint32_t both = candidates0 & candidates1;
            for (std::uint32_t c = candidates0 | candidates1; c; c &= c - 1) {
                const int blockerIndex = std::countr_zero(c);
                const WideSphere& blocker = wideSpheres[blockerIndex];
                const PairVector offset = roundedSub(sh.p, blocker.centreBoth);
                const Pair bk = round(dot(toLight, offset));
                const Pair disc = add(sub(mul(bk, bk), dot(offset, offset)), blocker.radiusSquared);
                Pair meets = crossesPair(bk, disc);
                if (!(both >> blockerIndex & 1))
                    meets = _mm_and_pd(meets, lanesWith(candidates, blockerIndex));
                lightOn = _mm_andnot_pd(meets, lightOn);
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
        const PairVector& d = sh.d;
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
            // A lane the light does not reach adds 0, which leaves its sum
            // as it is: the sums are never -0 (they start at +0 and only
            // grow) nor anything but floats.
            for (int ch = 0; ch < 3; ++ch)
                colour[ch] =
                    round(add(colour[ch], _mm_and_pd(lightOn, mul(gather(a.diffuse[j][ch], b.diffuse[j][ch]), k))));
            const Pair k2 = mul(all(-2.0), k);
            const PairVector r{round(sub(mul(k2, n.x), l.x)), round(sub(mul(k2, n.y), l.y)),
                               round(sub(mul(k2, n.z), l.z))};
            const Pair along = dot(r, d);
            const Pair shine = _mm_and_pd(lightOn, roundsToNonNegative(along));
            if (_mm_movemask_pd(shine)) {
                const Pair highlight = _mm_and_pd(shine, mul(all(0.8), pow50Pair(round(along))));
                for (Pair& c : colour)
                    c = round(add(c, highlight));
            }
        }
        TraceSample& out0 = *h0.sample;
        TraceSample& out1 = *h1.sample;
        const Pair best = gather(rayPairs[h0.ray / 2].best[h0.ray & 1], rayPairs[h1.ray / 2].best[h1.ray & 1]);
        storeResults(out0, out1, best, sh.p, n, colour);
        out1.sphere = h1.nearest;
        out1.hitMask = 1u << h1.nearest;
        out1.lightMask = lit[1];
        out0.sphere = h0.nearest;
        out0.hitMask = 1u << h0.nearest;
        out0.lightMask = lit[0];
    }
}

// All the rays first get their unit directions, two at a time; then they
// find their spheres; then the rays that hit are shaded, two at a time, so
// that few lanes idle on rays that missed. Each step runs over the whole
// chunk before the next, so that the long chains of square roots and
// divisions of many pairs are under way together.
void traceChunk(const TraceRequest* rays, int count)
{
    const TraceRequest* untraced[maxTraceRequests];
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (rays[i].sample->sphere == -2)
            untraced[n++] = &rays[i];
    const int pairs = (n + 1) / 2;
    for (int i = 0; i < pairs; ++i) {
        const TraceSample& s0 = *untraced[2 * i]->sample;
        const TraceSample& s1 = *untraced[2 * i + 1 < n ? 2 * i + 1 : 2 * i]->sample;
        const PairVector d = normalisedPair({pair(s0.direction.x, s1.direction.x),
                                             pair(s0.direction.y, s1.direction.y),
                                             pair(s0.direction.z, s1.direction.z)});
        _mm_store_pd(rayPairs[i].d[0], d.x);
        _mm_store_pd(rayPairs[i].d[1], d.y);
        _mm_store_pd(rayPairs[i].d[2], d.z);
    }
    Hit hits[maxTraceRequests];
    int hitCount = 0;
    for (int i = 0; i < pairs; ++i) {
        const TraceRequest& a = *untraced[2 * i];
        const TraceRequest& b = *untraced[2 * i + 1 < n ? 2 * i + 1 : 2 * i];
        int nearest[2];
        findNearestPair(rayPairs[i], a.spheres, b.spheres, nearest);
        for (int ln = 0; ln < (2 * i + 1 < n ? 2 : 1); ++ln) {
            const TraceRequest& ray = ln == 0 ? a : b;
            ++tracedRayCount;
            TraceSample& s = *ray.sample;
            s.hitMask = 0;
            s.sphere = -1;
            if (nearest[ln] < 0) {
                s.colour = {0.0f, 0.0f, 0.0f};
                continue;
            }
            hits[hitCount++] = {ray.sample, ray.lights, nearest[ln], 2 * i + ln};
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
