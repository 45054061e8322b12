#include "content/sphere_tracer.hpp"

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
    return mantissaRoot[(b >> 15) & 255] * exponentRoot[b >> 23];
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

// Seen from the light, the points of sphere i lie within the angle alpha of
// the direction to its centre, and every shadow ray from such a point runs
// along a line through the light within alpha of that direction or of its
// opposite. Sphere k (angle beta) can only meet such a line if the angle
// between the two directions lies within alpha + beta of 0 or of pi. Both
// radii are taken 2 larger than they are, far more than the rounding of
// the traced shadow test, so a sphere left out here is one that test would
// never report.
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
    return std::fabs(a.dot(b) / (la * lb)) >= std::cos(theta);
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
        const Vector3 toLight(-l.x, -l.y, -l.z);
        bool blocked = false;
        for (std::uint32_t c = shadowCandidates[j][nearest]; c && !blocked; c &= c - 1) {
            float t;
            blocked = traceSpheres[std::countr_zero(c)].intersect(p, toLight, t);
        }
        if (blocked)
            continue;
        const float k = static_cast<float>(-n.dot(l));
        if (k <= 0.0f)
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
// its direction, traced with the block's masks.
TraceSample offsetSample(const TraceSample& corner, const Vector3& offset, std::uint32_t m, std::uint32_t lm)
{
    TraceSample s = corner;
    s.direction = s.direction + offset;
    s.sphere = -2;
    traceSample(s, m, lm);
    return s;
}

} // namespace

void fillBlock(Image& image, int x, int y, int level, const TraceSample corners[4])
{
    const int size = 1 << level;
    const double k = 255.0 * size;
    const float* tl = &corners[0].colour.red;
    const float* tr = &corners[1].colour.red;
    const float* bl = &corners[2].colour.red;
    const float* br = &corners[3].colour.red;
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

namespace {

// The recursion works on pointers to the corners, so that no record is
// copied; new samples live in this call's frame while its quarters run.
void refine(Image& image, int x, int y, int level, const TraceSample* const c[4], const Vector3& dx,
            const Vector3& dy)
{
    const TraceSample& tl = *c[0];
    const TraceSample& tr = *c[1];
    const TraceSample& bl = *c[2];
    const TraceSample& br = *c[3];
    const std::uint32_t m = tl.hitMask | tr.hitMask | bl.hitMask | br.hitMask;
    if (m == 0)
        return;
    const std::uint32_t lm = tl.lightMask | tr.lightMask | bl.lightMask | br.lightMask;
    const bool uniform = (tl.hitMask & tr.hitMask & bl.hitMask & br.hitMask) != 0 &&
                         tl.lightMask == tr.lightMask && tl.lightMask == bl.lightMask &&
                         tl.lightMask == br.lightMask;
    const Vector3 hx = dx * 0.5f;
    const Vector3 hy = dy * 0.5f;
    const Vector3 hxy = hx + hy;

    if (level == 1) {
        std::uint32_t* top = pixelAt(image, x, y);
        std::uint32_t* bottom = pixelAt(image, x, y + 1);
        const Colour first = packColour(tl.colour);
        top[0] = first;
        if (uniform) {
            top[1] = average(first, packColour(tr.colour));
            bottom[0] = average(first, packColour(bl.colour));
            bottom[1] = average(first, packColour(br.colour));
        } else {
            top[1] = packColour(offsetSample(tl, hx, m, lm).colour);
            bottom[0] = packColour(offsetSample(tl, hy, m, lm).colour);
            bottom[1] = packColour(offsetSample(tl, hxy, m, lm).colour);
        }
        return;
    }

    const TraceSample q = offsetSample(tl, hxy, m, lm);
    if (uniform && std::fabs((static_cast<double>(tl.colour.green) + br.colour.green) / 2 - q.colour.green) <= 0.02 &&
        std::fabs((static_cast<double>(tr.colour.blue) + bl.colour.blue) / 2 - q.colour.blue) <= 0.02) {
        const TraceSample corners[4] = {tl, tr, bl, br};
        fillBlock(image, x, y, level, corners);
        return;
    }
    const int h = 1 << (level - 1);
    const TraceSample t = offsetSample(tl, hx, m, lm);
    const TraceSample lmid = offsetSample(tl, hy, m, lm);
    const TraceSample* const a[4] = {&tl, &t, &lmid, &q};
    refine(image, x, y, level - 1, a, hx, hy);
    const TraceSample rmid = offsetSample(tr, hy, m, lm);
    const TraceSample* const b[4] = {&t, &tr, &q, &rmid};
    refine(image, x + h, y, level - 1, b, hx, hy);
    const TraceSample bmid = offsetSample(bl, hx, m, lm);
    const TraceSample* const d[4] = {&lmid, &q, &bl, &bmid};
    refine(image, x, y + h, level - 1, d, hx, hy);
    const TraceSample* const e[4] = {&q, &rmid, &bmid, &br};
    refine(image, x + h, y + h, level - 1, e, hx, hy);
}

} // namespace

void subdivideBlock(Image& image, int x, int y, int level, const TraceSample corners[4], Vector3 dx, Vector3 dy)
{
    const TraceSample* const c[4] = {&corners[0], &corners[1], &corners[2], &corners[3]};
    refine(image, x, y, level, c, dx, dy);
}
