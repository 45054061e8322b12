#include "content/sphere_tracer.hpp"

#include <bit>
#include <cmath>

TraceSphere traceSpheres[traceSphereCount];
TraceLight traceLights[traceLightCount];
std::uint64_t tracedRayCount = 0;
std::uint64_t preparedTraceFrames = 0;
float mantissaRoot[256];

float exponentRoot[256];
double fastSqrtByBits[1 << 16];

namespace {

constexpr std::uint32_t allOthers(int i)
{
    return ((1u << traceSphereCount) - 1) & ~(1u << i);
}

} // namespace

// Every other sphere until the first preparation.
std::uint32_t shadowCandidates[traceLightCount][traceSphereCount] = {
    {allOthers(0), allOthers(1), allOthers(2), allOthers(3), allOthers(4), allOthers(5)},
    {allOthers(0), allOthers(1), allOthers(2), allOthers(3), allOthers(4), allOthers(5)},
};

void initSqrtTables()
{
    for (std::uint32_t e = 0; e < 256; ++e)
        exponentRoot[e] = std::sqrt(std::bit_cast<float>(e << 23));
    for (std::uint32_t j = 0; j < 256; ++j)
        mantissaRoot[j] = std::sqrt(std::bit_cast<float>(0x3F803FFFu + j * 0x8000u));
    for (std::uint32_t i = 0; i < (1u << 16); ++i)
        fastSqrtByBits[i] = mantissaRoot[i & 255] * exponentRoot[i >> 8];
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
    ++preparedTraceFrames;
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
