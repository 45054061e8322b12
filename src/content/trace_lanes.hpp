// The packed sphere tracer, written once for registers of any number of
// double lanes: traceSample for a group of rays at a time, one ray in each
// lane. Every float result of the single-ray tracer is formed the same way,
// the double expression and then rounded to float (round()), in the same
// order, so that each lane gives the bits traceSample gives its ray alone.
//
// A file that includes this defines, before it, its lane type Lanes: a
// struct holding the register in v, with
//   count                      the number of lanes;
//   all(x), zero(), load(p)    a double in every lane; 0; count doubles;
//   from(f), fromFloats(f)     lane k = f(k), a double or a float;
//   masks(f)                   lane k holds the 32-bit mask f(k), for with();
//   Floats, floats(x), floatsFrom(f)  the lanes as floats: a float in every
//                              lane; lane k = f(k);
// and the free functions on it: + - * / and unary -, the comparisons < >
// >= (all-ones lanes where they hold), & |, andNot(a, b) (b where a is not
// set), select(mask, yes, no), maxOf(a, b) (b where either is NaN), minOf,
// round, squareRoot, fastRoot (fastSqrt of each lane rounded to float),
// laneBits(mask) (bit k set where lane k is), with(masks, bit) (the lanes
// whose mask has the bit), store(p, v), narrow(v) and widen(floats) (to
// Floats and back), the difference of Floats, and storeFloats(out, values).
//
// Everything here lies in an unnamed namespace, so that each file that
// includes it compiles its own copy for its own instruction set and the
// linker never shares one between them.
#pragma once

#include "content/sphere_tracer.hpp"

#include <cstddef>
#include <cstdint>

namespace wide {

// traceRequests with four lanes of AVX2 (x86-64 only, where the processor
// has it): the same results.
void traceRequests(const TraceRequest* requests, int count);

} // namespace wide

namespace {

template <class L>
struct LaneVector {
    L x, y, z;
};

template <class L>
L dot(const LaneVector<L>& a, const LaneVector<L>& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

template <class F>
struct FloatVector {
    F x, y, z;
};

// a - b rounded to float, for floats a and b: the double difference
// rounded is the float difference, which needs no rounding of its own.
template <class L>
LaneVector<L> difference(const FloatVector<typename L::Floats>& a, const FloatVector<typename L::Floats>& b)
{
    return {widen(a.x - b.x), widen(a.y - b.y), widen(a.z - b.z)};
}

// Divided by its length as Vector3::normalised does: the length rounded to
// float, one reciprocal, each product rounded.
template <class L>
LaneVector<L> normalised(const LaneVector<L>& v)
{
    const L r = L::all(1.0) / round(squareRoot(dot(v, v)));
    return {round(v.x * r), round(v.y * r), round(v.z * r)};
}

// The signs of the single-ray tracer's float results, read from the double
// before it is rounded so that a branch need not wait for the rounding.
// Rounding to float keeps the sign and only makes 0 of magnitudes up to
// 2^-150 (half the smallest float, a tie that rounds to even), so
// round(x) >= 0 exactly when x >= -2^-150, and round(x) > 0 when x > 2^-150.
template <class L>
L roundsToNonNegative(L x)
{
    return x >= L::all(-0x1p-150);
}
template <class L>
L roundsToPositive(L x)
{
    return x > L::all(0x1p-150);
}

// The crossing of the single-ray tracer in every lane: whether there is
// one in front, and its distance. disc is not rounded yet. No branch on
// whether any lane reaches the sphere: for rays from the eye that is hard
// to foretell, and the rest costs less than a wrong guess.
template <class L>
L crossing(L b, L disc, L& t)
{
    const L reaches = roundsToNonNegative(disc);
    const L s = fastRoot(maxOf(disc, L::zero()));  // rounds on the way
    const L minusB = -b;
    const L nearFront = minusB > s;
    const L farFront = b < s;
    t = round(select(nearFront, minusB - s, s - b));
    return reaches & (nearFront | farFront);
}

// Only whether there is a crossing in front. The root s is never negative,
// so -b > s implies b < s, and b < s alone decides.
template <class L>
L crosses(L b, L disc)
{
    const L reaches = roundsToNonNegative(disc);
    if (!laneBits(reaches))
        return L::zero();
    const L s = fastRoot(maxOf(disc, L::zero()));
    return reaches & (b < s);
}

template <class L>
L pow50(L e)
{
    const L e2 = e * e, e4 = e2 * e2, e8 = e4 * e4, e16 = e8 * e8, e32 = e16 * e16;
    return e32 * e16 * e2;
}

// The spheres and lights spread over the lanes once per prepared frame, so
// that the lanes are loaded rather than converted ray by ray. Every value
// is a float, widened to double or not, so nothing changes.
template <class L>
struct WideSphere {
    LaneVector<L> eyeOffset;  // every lane alike
    L eyeTerm;
    FloatVector<typename L::Floats> centreAll;
    L radiusSquared;
    float centre[3];
    double colour[3];
};
template <class L>
struct WideLight {
    FloatVector<typename L::Floats> position;
    L colour[3];
};

// The rays of a chunk in groups, a register's lanes each: their unit
// directions (x, y, z), the distances to their nearest hits and the index
// of the sphere hit (-1 none). The last ray of a short group fills its
// empty lanes.
template <class L>
struct RayGroup {
    alignas(32) double lanes[5][L::count];
};

// A ray that hits a sphere, waiting for its shading.
struct Hit {
    TraceSample* sample;
    const double* ray;  // its lane of the group's direction x; the other rows every count doubles on
    std::uint32_t lights;
    int nearest;
};

// What the shading of a group of hits carries from one stage to the next:
// the direction, the distance and hit point (as floats) and the normal
// (also as floats).
template <class L>
struct Shading {
    LaneVector<L> d, n;
    typename L::Floats t;
    FloatVector<typename L::Floats> p, nFloats;
    LaneVector<L> l[traceLightCount];  // from the light to the hit point, unit length
    L k[traceLightCount];              // the diffuse factor
    L on[traceLightCount];             // lanes the light reaches
};

template <class L>
struct Workspace {
    WideSphere<L> spheres[traceSphereCount];
    WideLight<L> lights[traceLightCount];
    RayGroup<L> rays[maxTraceRequests / L::count];
    Shading<L> shading[maxTraceRequests / L::count];
};
template <class L>
Workspace<L> workspace;
// The preparedTraceFrames the workspace's world was widened for: none yet.
template <class L>
std::uint64_t widenedFrame = ~std::uint64_t{0};

template <class L>
void widenWorld()
{
    Workspace<L>& w = workspace<L>;
    for (int i = 0; i < traceSphereCount; ++i) {
        const TraceSphere& sphere = traceSpheres[i];
        WideSphere<L>& s = w.spheres[i];
        s.eyeOffset = {L::all(sphere.eyeOffset.x), L::all(sphere.eyeOffset.y), L::all(sphere.eyeOffset.z)};
        s.eyeTerm = L::all(sphere.eyeTerm);
        s.centreAll = {L::floats(sphere.centre.x), L::floats(sphere.centre.y), L::floats(sphere.centre.z)};
        s.radiusSquared = L::all(sphere.radiusSquared);
        s.centre[0] = sphere.centre.x;
        s.centre[1] = sphere.centre.y;
        s.centre[2] = sphere.centre.z;
        s.colour[0] = sphere.colour.red;
        s.colour[1] = sphere.colour.green;
        s.colour[2] = sphere.colour.blue;
    }
    for (int j = 0; j < traceLightCount; ++j) {
        const TraceLight& light = traceLights[j];
        w.lights[j].position = {L::floats(light.position.x), L::floats(light.position.y),
                                L::floats(light.position.z)};
        w.lights[j].colour[0] = L::all(light.colour.red);
        w.lights[j].colour[1] = L::all(light.colour.green);
        w.lights[j].colour[2] = L::all(light.colour.blue);
    }
}

// The nearest sphere along each ray of the group, each with its own mask.
template <class L>
void findNearest(RayGroup<L>& rays, const std::uint32_t* masks)
{
    constexpr int n = L::count;
    const LaneVector<L> d{L::load(rays.lanes[0]), L::load(rays.lanes[1]), L::load(rays.lanes[2])};
    L closest = L::all(1e20f), nearestLanes = L::all(-1.0);
    std::uint32_t some = 0;
    for (int k = 0; k < n; ++k)
        some |= masks[k];
    some &= (1u << traceSphereCount) - 1;
    const auto laneMasks = L::masks([&](int k) { return masks[k]; });
    for (std::uint32_t m = some; m; m &= m - 1) {
        const int i = __builtin_ctz(m);
        const WideSphere<L>& sphere = workspace<L>.spheres[i];
        const L b = round(dot(d, sphere.eyeOffset));
        const L disc = b * b - sphere.eyeTerm;
        L t = L::zero();
        const L meets = crossing(b, disc, t) & with(laneMasks, i);
        const L closer = meets & (t < closest);
        closest = select(closer, t, closest);
        nearestLanes = select(closer, L::all(i), nearestLanes);
    }
    store(rays.lanes[3], closest);
    store(rays.lanes[4], nearestLanes);
}

// Shades the hits a group at a time, in stages over all of them (hits
// past count, up to a whole group, repeat the last one): the
// geometry, the lights, the shadows, then the colours. Each stage's loop is
// short and its groups independent, so the work of many groups overlaps;
// the arithmetic is that of the single-ray tracer, and a light that does
// not reach a lane leaves it as it is.
template <class L>
void shadeHits(const Hit* hits, int count)
{
    constexpr int n = L::count;
    Workspace<L>& w = workspace<L>;
    const int groups = (count + n - 1) / n;
    for (int i = 0; i < groups; ++i) {
        const Hit* h = hits + n * i;
        Shading<L>& sh = w.shading[i];
        // Row c of the hit's ray: direction x, y, z, distance.
        const auto ray = [&](int c) { return L::from([&](int k) { return h[k].ray[c * n]; }); };
        const LaneVector<L> d{ray(0), ray(1), ray(2)};
        const L best = ray(3);
        const LaneVector<L> origin{L::fromFloats([&](int k) { return h[k].sample->origin.x; }),
                                   L::fromFloats([&](int k) { return h[k].sample->origin.y; }),
                                   L::fromFloats([&](int k) { return h[k].sample->origin.z; })};
        const FloatVector<typename L::Floats> p{narrow(origin.x + d.x * best), narrow(origin.y + d.y * best),
                                                narrow(origin.z + d.z * best)};
        const auto centre = [&](int c) {
            return L::floatsFrom([&](int k) { return w.spheres[h[k].nearest].centre[c]; });
        };
        const LaneVector<L> v = difference<L>(p, {centre(0), centre(1), centre(2)});
        const L inverse = L::all(1.0) / fastRoot(round(dot(v, v)));
        sh.nFloats = {narrow(v.x * inverse), narrow(v.y * inverse), narrow(v.z * inverse)};
        sh.n = {widen(sh.nFloats.x), widen(sh.nFloats.y), widen(sh.nFloats.z)};
        sh.d = d;
        sh.t = narrow(best);
        sh.p = p;
    }

    for (int i = 0; i < groups; ++i) {
        const Hit* h = hits + n * i;
        Shading<L>& sh = w.shading[i];
        const auto lights = L::masks([&](int k) { return h[k].lights; });
        std::uint32_t some = 0;
        for (int k = 0; k < n; ++k)
            some |= h[k].lights;
        for (int j = 0; j < traceLightCount; ++j) {
            if (!(some >> j & 1)) {
                sh.on[j] = L::zero();  // no lane looks at this light
                continue;
            }
            const LaneVector<L> l = normalised(difference<L>(sh.p, w.lights[j].position));
            // Facing away first: the shadow does not matter there.
            const L facing = -dot(sh.n, l);
            sh.l[j] = l;
            sh.k[j] = round(facing);
            sh.on[j] = with(lights, j) & roundsToPositive(facing);
        }
    }

    for (int i = 0; i < groups; ++i) {
        const Hit* h = hits + n * i;
        Shading<L>& sh = w.shading[i];
        for (int j = 0; j < traceLightCount; ++j) {
            L lightOn = sh.on[j];
            const int on = laneBits(lightOn);
            if (!on)
                continue;
            const LaneVector<L>& l = sh.l[j];
            const LaneVector<L> toLight{-l.x, -l.y, -l.z};
            std::uint32_t candidates[n];
            std::uint32_t some = 0;
            for (int k = 0; k < n; ++k) {
                candidates[k] = shadowCandidates[j][h[k].nearest] & (0u - (on >> k & 1));
                some |= candidates[k];
            }
            const auto laneCandidates = L::masks([&](int k) { return candidates[k]; });
            for (std::uint32_t c = some; c; c &= c - 1) {
                const int blockerIndex = __builtin_ctz(c);
                const WideSphere<L>& blocker = w.spheres[blockerIndex];
                const LaneVector<L> offset = difference<L>(sh.p, blocker.centreAll);
                const L bk = round(dot(toLight, offset));
                const L disc = bk * bk - dot(offset, offset) + blocker.radiusSquared;
                lightOn = andNot(crosses(bk, disc) & with(laneCandidates, blockerIndex), lightOn);
                if (!laneBits(lightOn))
                    break;
            }
            sh.on[j] = lightOn;
        }
    }

    for (int i = 0; i < groups; ++i) {
        const Hit* h = hits + n * i;
        const Shading<L>& sh = w.shading[i];
        const LaneVector<L>& d = sh.d;
        const LaneVector<L>& normal = sh.n;
        L colour[3] = {L::zero(), L::zero(), L::zero()};
        L sphereColour[3];
        for (int ch = 0; ch < 3; ++ch)
            sphereColour[ch] = L::from([&](int k) { return w.spheres[h[k].nearest].colour[ch]; });
        std::uint32_t lit[n] = {};
        for (int j = 0; j < traceLightCount; ++j) {
            const L lightOn = sh.on[j];
            const int on = laneBits(lightOn);
            if (!on)
                continue;
            for (int k = 0; k < n; ++k)
                lit[k] |= static_cast<std::uint32_t>(on >> k & 1) << j;
            const L k = sh.k[j];
            const LaneVector<L>& l = sh.l[j];
            // A lane the light does not reach adds 0, which leaves its sum
            // as it is: the sums are never -0 (they start at +0 and only
            // grow) nor anything but floats. The product of the two
            // colours, floats, is exact.
            for (int ch = 0; ch < 3; ++ch)
                colour[ch] = round(colour[ch] + (lightOn & (sphereColour[ch] * w.lights[j].colour[ch] * k)));
            const L k2 = L::all(-2.0) * k;
            const LaneVector<L> r{round(k2 * normal.x - l.x), round(k2 * normal.y - l.y),
                                  round(k2 * normal.z - l.z)};
            const L along = dot(r, d);
            const L shine = lightOn & roundsToNonNegative(along);
            if (laneBits(shine)) {
                const L highlight = shine & (L::all(0.8) * pow50(round(along)));
                for (L& c : colour)
                    c = round(c + highlight);
            }
        }
        // min(c, 1) as std::fmin(c, 1.0f) gives it: 1 only where 1 < c.
        const L one = L::all(1.0);
        const typename L::Floats values[10] = {
            sh.t,
            sh.p.x, sh.p.y, sh.p.z, sh.nFloats.x, sh.nFloats.y, sh.nFloats.z,
            narrow(minOf(one, colour[0])), narrow(minOf(one, colour[1])), narrow(minOf(one, colour[2]))};
        TraceSample* out[n];
        for (int k = 0; k < n; ++k)
            out[k] = h[k].sample;
        storeFloats(out, values);
        // The last lane first: a hit filling empty lanes is also an earlier
        // lane, which must have the last word.
        for (int k = n - 1; k >= 0; --k) {
            out[k]->sphere = h[k].nearest;
            out[k]->hitMask = 1u << h[k].nearest;
            out[k]->lightMask = lit[k];
        }
    }
}

// All the rays first get their unit directions, a group at a time; then
// they find their spheres; then the rays that hit are shaded, a group at a
// time, so that few lanes idle on rays that missed. Each step runs over
// the whole chunk before the next, so that the long chains of square roots
// and divisions of many groups are under way together.
template <class L>
void traceChunk(const TraceRequest* requests, int count)
{
    constexpr int n = L::count;
    Workspace<L>& w = workspace<L>;
    const TraceRequest* untraced[maxTraceRequests + n - 1];
    int untracedCount = 0;
    for (int i = 0; i < count; ++i)
        if (requests[i].sample->sphere == -2)
            untraced[untracedCount++] = &requests[i];
    if (untracedCount == 0)
        return;
    const int groups = (untracedCount + n - 1) / n;
    // The last ray fills the lanes past it.
    for (int j = untracedCount; j < n * groups; ++j)
        untraced[j] = untraced[untracedCount - 1];
    const auto member = [&](int i, int k) -> const TraceRequest& { return *untraced[n * i + k]; };
    for (int i = 0; i < groups; ++i) {
        const LaneVector<L> d = normalised(LaneVector<L>{
            L::fromFloats([&](int k) { return member(i, k).sample->direction.x; }),
            L::fromFloats([&](int k) { return member(i, k).sample->direction.y; }),
            L::fromFloats([&](int k) { return member(i, k).sample->direction.z; })});
        store(w.rays[i].lanes[0], d.x);
        store(w.rays[i].lanes[1], d.y);
        store(w.rays[i].lanes[2], d.z);
    }
    for (int i = 0; i < groups; ++i) {
        std::uint32_t masks[n];
        for (int k = 0; k < n; ++k)
            masks[k] = member(i, k).spheres;
        findNearest(w.rays[i], masks);
    }
    // Every ray as a miss first; a hit is then written over by shadeHits.
    Hit hits[maxTraceRequests + n - 1];
    int hitCount = 0;
    for (int j = 0; j < untracedCount; ++j) {
        const TraceRequest& request = *untraced[j];
        TraceSample& s = *request.sample;
        s.hitMask = 0;
        s.sphere = -1;
        s.colour = {0.0f, 0.0f, 0.0f};
        const double* ray = &w.rays[j / n].lanes[0][j % n];
        const int nearest = static_cast<int>(ray[4 * n]);
        hits[hitCount] = {request.sample, ray, request.lights, nearest};
        hitCount += nearest >= 0;
    }
    tracedRayCount += static_cast<std::uint64_t>(untracedCount);
    if (hitCount == 0)
        return;
    for (int j = hitCount; j % n != 0; ++j)
        hits[j] = hits[hitCount - 1];
    shadeHits<L>(hits, hitCount);
}

// The requests in chunks of at most maxTraceRequests.
template <class L>
void traceAll(const TraceRequest* requests, int count)
{
    if (widenedFrame<L> != preparedTraceFrames) {
        widenWorld<L>();
        widenedFrame<L> = preparedTraceFrames;
    }
    for (int start = 0; start < count; start += maxTraceRequests)
        traceChunk<L>(requests + start, count - start < maxTraceRequests ? count - start : maxTraceRequests);
}

} // namespace
