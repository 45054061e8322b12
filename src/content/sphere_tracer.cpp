#include "content/sphere_tracer.hpp"

#include "image/simd.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

TraceSphere traceSpheres[traceSphereCount];
TraceLight traceLights[traceLightCount];
std::uint64_t tracedRayCount = 0;
float mantissaRoot[256];

namespace {

// Bit k of shadowCandidates[j][i]: sphere k could stand between light j and
// some point of sphere i. Every other sphere until the first preparation.
constexpr std::uint32_t allOthers(int i)
{
    return ((1u << traceSphereCount) - 1) & ~(1u << i);
}
std::uint32_t shadowCandidates[traceLightCount][traceSphereCount] = {
    {allOthers(0), allOthers(1), allOthers(2), allOthers(3), allOthers(4), allOthers(5)},
    {allOthers(0), allOthers(1), allOthers(2), allOthers(3), allOthers(4), allOthers(5)},
};

} // namespace
float exponentRoot[256];

void initSqrtTables()
{
    for (std::uint32_t e = 0; e < 256; ++e)
        exponentRoot[e] = std::sqrt(std::bit_cast<float>(e << 23));
    for (std::uint32_t j = 0; j < 256; ++j)
        mantissaRoot[j] = std::sqrt(std::bit_cast<float>(0x3F803FFFu + j * 0x8000u));
}

float fastSqrt(float x)
{
    const std::uint32_t b = std::bit_cast<std::uint32_t>(x);
    // The exponent index is masked so that -0 (and any negative number)
    // reads inside the table.
    return mantissaRoot[(b >> 15) & 255] * exponentRoot[(b >> 23) & 255];
}

void TraceSphere::prepare(const Vector3& eye)
{
    eyeOffset = eye - centre;
    radiusSquared = static_cast<float>(static_cast<double>(radius) * radius);
    eyeTerm = static_cast<float>(eyeOffset.dot(eyeOffset) - radiusSquared);
}

namespace {

// The crossing from the rounded b and disc, common to both intersections.
bool crossing(float b, float disc, float& t)
{
    if (disc < 0.0f)
        return false;
    const float s = fastSqrt(disc);
    if (-b > s) {
        t = -b - s;
        return true;
    }
    if (b < s) {
        t = s - b;
        return true;
    }
    return false;
}

} // namespace

bool TraceSphere::intersectFromEye(const Vector3& dir, float& t) const
{
    const float b = static_cast<float>(dir.dot(eyeOffset));
    const float disc = static_cast<float>(static_cast<double>(b) * b - eyeTerm);
    return crossing(b, disc, t);
}

bool TraceSphere::intersect(const Vector3& origin, const Vector3& dir, float& t) const
{
    const Vector3 offset = origin - centre;
    const float b = static_cast<float>(dir.dot(offset));
    const float disc = static_cast<float>(static_cast<double>(b) * b - offset.dot(offset) + radiusSquared);
    return crossing(b, disc, t);
}

Vector3 TraceSphere::normalAt(const Vector3& p) const
{
    Vector3 v = p - centre;
    v /= fastSqrt(static_cast<float>(v.dot(v)));
    return v;
}

namespace {

// Only points of sphere i that face the light need a shadow test (a light
// behind the surface adds nothing, blocked or not). Seen from the light they
// lie within the angle alpha of the direction to its centre, no farther from
// the light than the tangent length, and a shadow ray from one runs along a
// line through the light within alpha of that direction or of its opposite.
// Sphere k (angle beta) can only meet such a ray if the angle between the
// two directions lies within alpha + beta of pi (beyond the light), or within
// alpha + beta of 0 with part of the sphere inside the tangent length. Radii
// and lengths carry a margin of 2, far more than the rounding of the traced
// shadow test, so a sphere left out here is one that test would not report.
bool couldShadow(const Vector3& light, const TraceSphere& lit, const TraceSphere& blocker)
{
    constexpr double margin = 2.0, angleMargin = 1e-3;
    const Vector3 a = lit.centre - light, b = blocker.centre - light;
    const double la = std::sqrt(a.dot(a)), lb = std::sqrt(b.dot(b));
    const double ra = lit.radius + margin, rb = blocker.radius + margin;
    if (la <= ra || lb <= rb)
        return true;
    const double theta = std::asin(ra / la) + std::asin(rb / lb) + angleMargin;
    if (theta >= 1.5)
        return true;
    const double cosine = a.dot(b) / (la * lb), edge = std::cos(theta);
    if (cosine <= -edge)
        return true;
    if (cosine < edge)
        return false;
    const double reach = std::sqrt(la * la - static_cast<double>(lit.radius) * lit.radius) + margin;
    return lb - rb <= reach;
}

} // namespace

void prepareTraceFrame(const Vector3& eye)
{
    for (TraceSphere& sphere : traceSpheres)
        sphere.prepare(eye);
    for (int j = 0; j < traceLightCount; ++j)
        for (int i = 0; i < traceSphereCount; ++i) {
            std::uint32_t mask = 0;
            for (int k = 0; k < traceSphereCount; ++k)
                if (k != i && couldShadow(traceLights[j].position, traceSpheres[i], traceSpheres[k]))
                    mask |= 1u << k;
            shadowCandidates[j][i] = mask;
        }
}

namespace {

double pow50(double e)
{
    const double e2 = e * e, e4 = e2 * e2, e8 = e4 * e4, e16 = e8 * e8, e32 = e16 * e16;
    return e32 * e16 * e2;
}

float addTo(float sum, double term)
{
    return static_cast<float>(sum + term);
}

} // namespace

void traceSample(TraceSample& s, std::uint32_t sphereMask, std::uint32_t lightMask)
{
    if (s.sphere != -2)
        return;
    ++tracedRayCount;
    const Vector3 d = s.direction.normalised();

    float best = 1e20f;
    int nearest = -1;
    for (int i = 0; i < traceSphereCount; ++i) {
        float t;
        if ((sphereMask >> i & 1) && traceSpheres[i].intersectFromEye(d, t) && t < best) {
            best = t;
            nearest = i;
        }
    }
    s.hitMask = 0;
    s.sphere = -1;
    if (nearest < 0) {
        s.colour = {0.0f, 0.0f, 0.0f};
        return;
    }

    const TraceSphere& sphere = traceSpheres[nearest];
    s.t = best;
    s.sphere = nearest;
    s.hitMask = 1u << nearest;
    const Vector3 p(static_cast<float>(s.origin.x + static_cast<double>(d.x) * best),
                    static_cast<float>(s.origin.y + static_cast<double>(d.y) * best),
                    static_cast<float>(s.origin.z + static_cast<double>(d.z) * best));
    const Vector3 n = sphere.normalAt(p);
    s.hit = p;
    s.normal = n;
    TraceColour c{0.0f, 0.0f, 0.0f};
    s.lightMask = 0;

    for (int j = 0; j < traceLightCount; ++j) {
        if (!(lightMask >> j & 1))
            continue;
        const TraceLight& light = traceLights[j];
        const Vector3 l = (p - light.position).normalised();
        // Facing away first: the shadow does not matter there.
        const float k = static_cast<float>(-n.dot(l));
        if (k <= 0.0f)
            continue;
        const Vector3 toLight(-l.x, -l.y, -l.z);
        bool blocked = false;
        for (std::uint32_t c = shadowCandidates[j][nearest]; c && !blocked; c &= c - 1) {
            float t;
            blocked = traceSpheres[std::countr_zero(c)].intersect(p, toLight, t);
        }
        if (blocked)
            continue;
        s.lightMask |= 1u << j;
        c.red = addTo(c.red, static_cast<double>(sphere.colour.red) * light.colour.red * k);
        c.green = addTo(c.green, static_cast<double>(sphere.colour.green) * light.colour.green * k);
        c.blue = addTo(c.blue, static_cast<double>(sphere.colour.blue) * light.colour.blue * k);

        const double k2 = -2.0 * k;
        const Vector3 r(static_cast<float>(k2 * n.x - l.x), static_cast<float>(k2 * n.y - l.y),
                        static_cast<float>(k2 * n.z - l.z));
        const float e = static_cast<float>(r.dot(d));
        if (e >= 0.0f) {
            const double highlight = 0.8 * pow50(e);
            c.red = addTo(c.red, highlight);
            c.green = addTo(c.green, highlight);
            c.blue = addTo(c.blue, highlight);
        }
    }
    s.colour = {std::fmin(c.red, 1.0f), std::fmin(c.green, 1.0f), std::fmin(c.blue, 1.0f)};
}

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
inline PairVector broadcast(const Vector3& v)
{
    return {all(v.x), all(v.y), all(v.z)};
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

// The crossing of the single-ray tracer for both lanes: whether there is
// one in front, and its distance.
inline Pair crossingPair(Pair b, Pair disc, Pair& t)
{
    const Pair zero = _mm_setzero_pd();
    const Pair reaches = _mm_cmpge_pd(disc, zero);
    if (!_mm_movemask_pd(reaches))
        return zero;  // the usual case: both rays pass the sphere by
    const Pair s = fastSqrtPair(_mm_max_pd(disc, zero));
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

inline Pair lanesWithBit(std::uint32_t mask0, std::uint32_t mask1, int bit)
{
    return _mm_castsi128_pd(_mm_set_epi64x(mask1 >> bit & 1 ? -1 : 0, mask0 >> bit & 1 ? -1 : 0));
}

// The nearest sphere along each of two rays, each with its own mask; the
// directions are normalised on the way. A ray may be given twice.
void findNearestPair(const TraceSample& s0, const TraceSample& s1, const std::uint32_t sphereMask[2], Vector3 d[2],
                     float best[2], int nearest[2])
{
    const PairVector dir = normalisedPair({pair(s0.direction.x, s1.direction.x),
                                           pair(s0.direction.y, s1.direction.y),
                                           pair(s0.direction.z, s1.direction.z)});
    Pair closest = all(1e20f);
    nearest[0] = nearest[1] = -1;
    for (std::uint32_t m = (sphereMask[0] | sphereMask[1]) & ((1u << traceSphereCount) - 1); m; m &= m - 1) {
        const int i = std::countr_zero(m);
        const TraceSphere& sphere = traceSpheres[i];
        const Pair b = round(dot(dir, broadcast(sphere.eyeOffset)));
        const Pair disc = round(sub(mul(b, b), all(sphere.eyeTerm)));
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
    for (int ln = 0; ln < 2; ++ln) {
        d[ln] = Vector3(lane(dir.x, ln), lane(dir.y, ln), lane(dir.z, ln));
        best[ln] = lane(closest, ln);
    }
}

// A ray that hits a sphere, waiting for its shading.
struct Hit {
    TraceSample* sample;
    std::uint32_t lights;
    Vector3 d;  // normalised direction
    float best;
    int nearest;
};

// Shades two hits; the second may be the first again, and is then not written.
void shadePair(const Hit& h0, const Hit& h1, bool writeSecond)
{
    const Hit* const h[2] = {&h0, &h1};
    const std::uint32_t lightMask[2] = {h0.lights, h1.lights};
    const PairVector d{pair(h0.d.x, h1.d.x), pair(h0.d.y, h1.d.y), pair(h0.d.z, h1.d.z)};
    const Pair best = pair(h0.best, h1.best);
    const TraceSample& s0 = *h0.sample;
    const TraceSample& s1 = *h1.sample;
    const TraceSphere& a = traceSpheres[h0.nearest];
    const TraceSphere& b = traceSpheres[h1.nearest];
    const PairVector origin{pair(s0.origin.x, s1.origin.x), pair(s0.origin.y, s1.origin.y),
                            pair(s0.origin.z, s1.origin.z)};
    const PairVector p{round(add(origin.x, mul(d.x, best))), round(add(origin.y, mul(d.y, best))),
                       round(add(origin.z, mul(d.z, best)))};
    const PairVector centre{pair(a.centre.x, b.centre.x), pair(a.centre.y, b.centre.y), pair(a.centre.z, b.centre.z)};
    PairVector n = roundedSub(p, centre);
    const Pair inverse = _mm_div_pd(all(1.0), fastSqrtPair(round(dot(n, n))));
    n = {round(mul(n.x, inverse)), round(mul(n.y, inverse)), round(mul(n.z, inverse))};
    const Pair sphereColour[3] = {pair(a.colour.red, b.colour.red), pair(a.colour.green, b.colour.green),
                                  pair(a.colour.blue, b.colour.blue)};
    Pair colour[3] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
    std::uint32_t lit[2] = {0, 0};

    for (int j = 0; j < traceLightCount; ++j) {
        if (!((lightMask[0] | lightMask[1]) >> j & 1))
            continue;
        const TraceLight& light = traceLights[j];
        const PairVector l = normalisedPair(roundedSub(p, broadcast(light.position)));
        // Facing away first: the shadow does not matter there.
        const Pair k = round(_mm_xor_pd(dot(n, l), all(-0.0)));
        Pair lightOn = _mm_and_pd(lanesWithBit(lightMask[0], lightMask[1], j), _mm_cmpgt_pd(k, _mm_setzero_pd()));
        int on = _mm_movemask_pd(lightOn);
        if (!on)
            continue;
        const PairVector toLight{_mm_xor_pd(l.x, all(-0.0)), _mm_xor_pd(l.y, all(-0.0)), _mm_xor_pd(l.z, all(-0.0))};
        const std::uint32_t candidates[2] = {on & 1 ? shadowCandidates[j][h0.nearest] : 0,
                                             on & 2 ? shadowCandidates[j][h1.nearest] : 0};
        for (std::uint32_t c = candidates[0] | candidates[1]; c; c &= c - 1) {
            const int blockerIndex = std::countr_zero(c);
            const TraceSphere& blocker = traceSpheres[blockerIndex];
            const PairVector offset = roundedSub(p, broadcast(blocker.centre));
            const Pair bk = round(dot(toLight, offset));
            const Pair disc = round(add(sub(mul(bk, bk), dot(offset, offset)), all(blocker.radiusSquared)));
            Pair t = _mm_setzero_pd();
            const Pair meets = crossingPair(bk, disc, t);
            lightOn = _mm_andnot_pd(_mm_and_pd(meets, lanesWithBit(candidates[0], candidates[1], blockerIndex)),
                                    lightOn);
            on = _mm_movemask_pd(lightOn);
            if (!on)
                break;
        }
        if (!on)
            continue;
        if (on & 1)
            lit[0] |= 1u << j;
        if (on & 2)
            lit[1] |= 1u << j;
        const Pair lightColour[3] = {all(light.colour.red), all(light.colour.green), all(light.colour.blue)};
        for (int ch = 0; ch < 3; ++ch)
            colour[ch] = select(lightOn, round(add(colour[ch], mul(mul(sphereColour[ch], lightColour[ch]), k))),
                                colour[ch]);
        const Pair k2 = mul(all(-2.0), k);
        const PairVector r{round(sub(mul(k2, n.x), l.x)), round(sub(mul(k2, n.y), l.y)), round(sub(mul(k2, n.z), l.z))};
        const Pair e = round(dot(r, d));
        const Pair shine = _mm_and_pd(lightOn, _mm_cmpge_pd(e, _mm_setzero_pd()));
        if (_mm_movemask_pd(shine)) {
            const Pair highlight = mul(all(0.8), pow50Pair(e));
            for (Pair& c : colour)
                c = select(shine, round(add(c, highlight)), c);
        }
    }

    for (int ln = 0; ln < (writeSecond ? 2 : 1); ++ln) {
        TraceSample& out = *h[ln]->sample;
        out.t = h[ln]->best;
        out.sphere = h[ln]->nearest;
        out.hitMask = 1u << h[ln]->nearest;
        out.hit = Vector3(lane(p.x, ln), lane(p.y, ln), lane(p.z, ln));
        out.normal = Vector3(lane(n.x, ln), lane(n.y, ln), lane(n.z, ln));
        out.lightMask = lit[ln];
        const auto clamp = [&](Pair c) { return std::min(lane(c, ln), 1.0f); };
        out.colour = {clamp(colour[0]), clamp(colour[1]), clamp(colour[2])};
    }
}

} // namespace

namespace {

// Rays waiting to be traced, each with the masks of the block that made it.
struct PendingRay {
    TraceSample* sample;
    std::uint32_t spheres, lights;
};

constexpr int maxRays = 320;

// All the rays first find their spheres, two at a time; then the rays that
// hit are shaded, two at a time, so that few lanes idle on rays that missed.
void traceRays(const PendingRay* rays, int count)
{
    const PendingRay* untraced[maxRays];
    int n = 0;
    for (int i = 0; i < count && n < maxRays; ++i)
        if (rays[i].sample->sphere == -2)
            untraced[n++] = &rays[i];
    Hit hits[maxRays];
    int hitCount = 0;
    for (int i = 0; i < n; i += 2) {
        const PendingRay& a = *untraced[i];
        const PendingRay& b = *untraced[i + 1 < n ? i + 1 : i];
        const std::uint32_t spheres[2] = {a.spheres, b.spheres};
        Vector3 d[2];
        float best[2];
        int nearest[2];
        findNearestPair(*a.sample, *b.sample, spheres, d, best, nearest);
        for (int ln = 0; ln < (i + 1 < n ? 2 : 1); ++ln) {
            const PendingRay& ray = ln == 0 ? a : b;
            ++tracedRayCount;
            TraceSample& s = *ray.sample;
            s.hitMask = 0;
            s.sphere = -1;
            if (nearest[ln] < 0)
                s.colour = {0.0f, 0.0f, 0.0f};
            else
                hits[hitCount++] = {ray.sample, ray.lights, d[ln], best[ln], nearest[ln]};
        }
    }
    for (int i = 0; i < hitCount; i += 2)
        shadePair(hits[i], hits[i + 1 < hitCount ? i + 1 : i], i + 1 < hitCount);
}

} // namespace

void traceSamples(TraceSample* const* samples, int count, std::uint32_t sphereMask, std::uint32_t lightMask)
{
    constexpr int chunk = 64;
    PendingRay rays[chunk];
    for (int start = 0; start < count; start += chunk) {
        const int n = std::min(chunk, count - start);
        for (int i = 0; i < n; ++i)
            rays[i] = {samples[start + i], sphereMask, lightMask};
        traceRays(rays, n);
    }
}

Colour packColour(const TraceColour& c)
{
    const auto byte = [](float v) { return static_cast<Colour>(static_cast<int>(255.0 * v)); };
    return byte(c.red) << 16 | byte(c.green) << 8 | byte(c.blue);
}

namespace {

std::uint32_t* pixelAt(Image& image, int x, int y)
{
    return image.row(y) + x;
}

Colour average(Colour a, Colour b)
{
    return ((a & 0xFEFEFEu) + (b & 0xFEFEFEu)) >> 1;
}

// corner + offset: a copy of the corner's record with the offset added to
// its direction, waiting to be traced with the block's masks.
TraceSample startSample(const TraceSample& corner, const Vector3& offset)
{
    TraceSample s = corner;
    s.direction = s.direction + offset;
    s.sphere = -2;
    return s;
}

} // namespace

namespace {

void fillFromColours(Image& image, int x, int y, int level, const float* tl, const float* tr, const float* bl,
                     const float* br)
{
    const int size = 1 << level;
    const double k = 255.0 * size;
    int left[3], leftStep[3], right[3], rightStep[3];
    for (int ch = 0; ch < 3; ++ch) {
        left[ch] = static_cast<int>(k * tl[ch]);
        leftStep[ch] = static_cast<int>(255.0 * bl[ch] - 255.0 * tl[ch]);
        right[ch] = static_cast<int>(k * tr[ch]);
        rightStep[ch] = static_cast<int>(255.0 * br[ch] - 255.0 * tr[ch]);
    }
    for (int row = 0; row < size; ++row) {
        std::uint32_t* p = pixelAt(image, x, y + row);
        int v[3], step[3];
        for (int ch = 0; ch < 3; ++ch) {
            v[ch] = left[ch] << level;
            step[ch] = right[ch] - left[ch];
        }
        for (int i = 0; i < size; ++i) {
            p[i] = static_cast<Colour>(v[0] >> 2 * level) << 16 | static_cast<Colour>(v[1] >> 2 * level) << 8 |
                   static_cast<Colour>(v[2] >> 2 * level);
            for (int ch = 0; ch < 3; ++ch)
                v[ch] += step[ch];
        }
        for (int ch = 0; ch < 3; ++ch) {
            left[ch] += leftStep[ch];
            right[ch] += rightStep[ch];
        }
    }
}

} // namespace

void fillBlock(Image& image, int x, int y, int level, const TraceSample corners[4])
{
    fillFromColours(image, x, y, level, &corners[0].colour.red, &corners[1].colour.red, &corners[2].colour.red,
                    &corners[3].colour.red);
}

namespace {

// Blocks of one level are refined side by side, so that the rays they need
// at each step can be traced two at a time. Which rays a block traces, and
// with which masks, does not depend on the other blocks: the pictures are
// those of refining one block after another.
struct Block {
    int x, y;
    const TraceSample* c[4];  // top-left, top-right, bottom-left, bottom-right
    std::uint32_t m, lm;
    bool uniform;
    bool refined;
    // Level 1: right, down and across; larger blocks: the centre and the
    // top, left, right and bottom midpoints.
    TraceSample q, t, lmid, rmid, bmid;
};

constexpr int maxBlocks = 64;
static_assert(5 * maxBlocks <= maxRays, "a level of blocks traces at most five rays each");

// Only the position and the corners: the samples are written before use.
void place(Block& b, int x, int y, const TraceSample* tl, const TraceSample* tr, const TraceSample* bl,
           const TraceSample* br)
{
    b.x = x;
    b.y = y;
    b.c[0] = tl;
    b.c[1] = tr;
    b.c[2] = bl;
    b.c[3] = br;
}

void refineGroup(Image& image, Block* blocks, int count, int level, const Vector3& dx, const Vector3& dy);

void classify(Block& b)
{
    const TraceSample& tl = *b.c[0];
    const TraceSample& tr = *b.c[1];
    const TraceSample& bl = *b.c[2];
    const TraceSample& br = *b.c[3];
    b.m = tl.hitMask | tr.hitMask | bl.hitMask | br.hitMask;
    b.lm = tl.lightMask | tr.lightMask | bl.lightMask | br.lightMask;
    b.uniform = (tl.hitMask & tr.hitMask & bl.hitMask & br.hitMask) != 0 && tl.lightMask == tr.lightMask &&
                tl.lightMask == bl.lightMask && tl.lightMask == br.lightMask;
}

void drawSmallBlocks(Image& image, Block* blocks, int count, const Vector3& dx, const Vector3& dy)
{
    const Vector3 hx = dx * 0.5f, hy = dy * 0.5f, hxy = hx + hy;
    PendingRay rays[3 * maxBlocks];
    int pending = 0;
    for (int i = 0; i < count; ++i) {
        Block& b = blocks[i];
        if (b.m == 0 || b.uniform)
            continue;
        b.t = startSample(*b.c[0], hx);
        b.lmid = startSample(*b.c[0], hy);
        b.q = startSample(*b.c[0], hxy);
        rays[pending++] = {&b.t, b.m, b.lm};
        rays[pending++] = {&b.lmid, b.m, b.lm};
        rays[pending++] = {&b.q, b.m, b.lm};
    }
    if (pending > 0)
        traceRays(rays, pending);
    for (int i = 0; i < count; ++i) {
        const Block& b = blocks[i];
        if (b.m == 0)
            continue;
        std::uint32_t* top = pixelAt(image, b.x, b.y);
        std::uint32_t* bottom = pixelAt(image, b.x, b.y + 1);
        const Colour first = packColour(b.c[0]->colour);
        top[0] = first;
        if (b.uniform) {
            top[1] = average(first, packColour(b.c[1]->colour));
            bottom[0] = average(first, packColour(b.c[2]->colour));
            bottom[1] = average(first, packColour(b.c[3]->colour));
        } else {
            top[1] = packColour(b.t.colour);
            bottom[0] = packColour(b.lmid.colour);
            bottom[1] = packColour(b.q.colour);
        }
    }
}

void refineGroup(Image& image, Block* blocks, int count, int level, const Vector3& dx, const Vector3& dy)
{
    for (int i = 0; i < count; ++i)
        classify(blocks[i]);
    if (level == 1) {
        drawSmallBlocks(image, blocks, count, dx, dy);
        return;
    }
    const Vector3 hx = dx * 0.5f, hy = dy * 0.5f, hxy = hx + hy;
    PendingRay rays[5 * maxBlocks];

    // The centre decides whether a uniform block is filled; the midpoints
    // are needed when it is not. A mixed block needs all five at once.
    int pending = 0;
    for (int i = 0; i < count; ++i) {
        Block& b = blocks[i];
        b.refined = false;
        if (b.m == 0)
            continue;
        b.q = startSample(*b.c[0], hxy);
        rays[pending++] = {&b.q, b.m, b.lm};
        if (!b.uniform) {
            b.t = startSample(*b.c[0], hx);
            b.lmid = startSample(*b.c[0], hy);
            b.rmid = startSample(*b.c[1], hy);
            b.bmid = startSample(*b.c[2], hx);
            rays[pending++] = {&b.t, b.m, b.lm};
            rays[pending++] = {&b.lmid, b.m, b.lm};
            rays[pending++] = {&b.rmid, b.m, b.lm};
            rays[pending++] = {&b.bmid, b.m, b.lm};
        }
    }
    if (pending > 0)
        traceRays(rays, pending);

    pending = 0;
    for (int i = 0; i < count; ++i) {
        Block& b = blocks[i];
        if (b.m == 0)
            continue;
        b.refined = true;
        if (!b.uniform)
            continue;
        const TraceSample& tl = *b.c[0];
        const TraceSample& tr = *b.c[1];
        const TraceSample& bl = *b.c[2];
        const TraceSample& br = *b.c[3];
        if (std::fabs((static_cast<double>(tl.colour.green) + br.colour.green) / 2 - b.q.colour.green) <= 0.02 &&
            std::fabs((static_cast<double>(tr.colour.blue) + bl.colour.blue) / 2 - b.q.colour.blue) <= 0.02) {
            fillFromColours(image, b.x, b.y, level, &tl.colour.red, &tr.colour.red, &bl.colour.red, &br.colour.red);
            b.refined = false;
            continue;
        }
        b.t = startSample(tl, hx);
        b.lmid = startSample(tl, hy);
        b.rmid = startSample(tr, hy);
        b.bmid = startSample(bl, hx);
        rays[pending++] = {&b.t, b.m, b.lm};
        rays[pending++] = {&b.lmid, b.m, b.lm};
        rays[pending++] = {&b.rmid, b.m, b.lm};
        rays[pending++] = {&b.bmid, b.m, b.lm};
    }
    if (pending > 0)
        traceRays(rays, pending);

    // The quarters of every refined block, at most maxBlocks at a time.
    const int h = 1 << (level - 1);
    Block quarters[maxBlocks];
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const Block& b = blocks[i];
        if (!b.refined)
            continue;
        place(quarters[n++], b.x, b.y, b.c[0], &b.t, &b.lmid, &b.q);
        place(quarters[n++], b.x + h, b.y, &b.t, b.c[1], &b.q, &b.rmid);
        place(quarters[n++], b.x, b.y + h, &b.lmid, &b.q, b.c[2], &b.bmid);
        place(quarters[n++], b.x + h, b.y + h, &b.q, &b.rmid, &b.bmid, b.c[3]);
        if (n == maxBlocks) {
            refineGroup(image, quarters, n, level - 1, hx, hy);
            n = 0;
        }
    }
    if (n)
        refineGroup(image, quarters, n, level - 1, hx, hy);
}

} // namespace

void subdivideBlocks(Image& image, const BlockCorners* blocks, int count, int level, Vector3 dx, Vector3 dy)
{
    Block group[maxBlocks];
    for (int start = 0; start < count; start += maxBlocks) {
        const int n = std::min(maxBlocks, count - start);
        for (int i = 0; i < n; ++i) {
            const BlockCorners& b = blocks[start + i];
            place(group[i], b.x, b.y, b.corners[0], b.corners[1], b.corners[2], b.corners[3]);
        }
        refineGroup(image, group, n, level, dx, dy);
    }
}

void subdivideBlock(Image& image, int x, int y, int level, const TraceSample corners[4], Vector3 dx, Vector3 dy)
{
    const BlockCorners block{x, y, {&corners[0], &corners[1], &corners[2], &corners[3]}};
    subdivideBlocks(image, &block, 1, level, dx, dy);
}
