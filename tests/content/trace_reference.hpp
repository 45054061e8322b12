// The tracer in its plainest form, one step after another, for comparing
// the faster one with: every sphere is tried as a shadow caster.
#pragma once

#include "content/sphere_tracer.hpp"

#include <cmath>

namespace reference {

inline void traceSample(TraceSample& s, std::uint32_t sphereMask, std::uint32_t lightMask)
{
    if (s.sphere != -2)
        return;
    const Vector3 d = s.direction.normalised();
    float best = 1e20f, t;
    int nearest = -1;
    for (int i = 0; i < traceSphereCount; ++i)
        if ((sphereMask >> i & 1) && traceSpheres[i].intersectFromEye(d, t) && t < best) {
            best = t;
            nearest = i;
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
    s.hit = Vector3(static_cast<float>(s.origin.x + static_cast<double>(d.x) * best),
                    static_cast<float>(s.origin.y + static_cast<double>(d.y) * best),
                    static_cast<float>(s.origin.z + static_cast<double>(d.z) * best));
    s.normal = sphere.normalAt(s.hit);
    s.lightMask = 0;
    float c[3] = {0.0f, 0.0f, 0.0f};
    const float* sc = &sphere.colour.red;
    for (int j = 0; j < traceLightCount; ++j) {
        if (!(lightMask >> j & 1))
            continue;
        const Vector3 l = (s.hit - traceLights[j].position).normalised();
        bool blocked = false;
        for (int k = 0; k < traceSphereCount; ++k)
            if (k != nearest && traceSpheres[k].intersect(s.hit, Vector3(-l.x, -l.y, -l.z), t))
                blocked = true;
        const float k = static_cast<float>(-s.normal.dot(l));
        if (blocked || k <= 0.0f)
            continue;
        s.lightMask |= 1u << j;
        const float* lc = &traceLights[j].colour.red;
        for (int ch = 0; ch < 3; ++ch)
            c[ch] = static_cast<float>(c[ch] + static_cast<double>(sc[ch]) * lc[ch] * k);
        const Vector3 r(static_cast<float>(-2.0 * k * s.normal.x - l.x), static_cast<float>(-2.0 * k * s.normal.y - l.y),
                        static_cast<float>(-2.0 * k * s.normal.z - l.z));
        const float e = static_cast<float>(r.dot(d));
        if (e >= 0.0f) {
            // e^50 by squaring: e^32 e^16 e^2.
            double p[6] = {e};
            for (int i = 1; i < 6; ++i)
                p[i] = p[i - 1] * p[i - 1];
            for (float& channel : c)
                channel = static_cast<float>(channel + 0.8 * (p[5] * p[4] * p[1]));
        }
    }
    s.colour = {std::min(c[0], 1.0f), std::min(c[1], 1.0f), std::min(c[2], 1.0f)};
}

inline TraceSample offsetSample(const TraceSample& corner, const Vector3& offset, std::uint32_t m, std::uint32_t lm)
{
    TraceSample s = corner;
    s.direction = s.direction + offset;
    s.sphere = -2;
    reference::traceSample(s, m, lm);
    return s;
}

// Each channel interpolated in integers, one pixel and channel at a time.
inline void fillBlock(Image& image, int x, int y, int level, const TraceSample c[4])
{
    const int size = 1 << level;
    const float* tl = &c[0].colour.red;
    const float* tr = &c[1].colour.red;
    const float* bl = &c[2].colour.red;
    const float* br = &c[3].colour.red;
    int left[3], leftStep[3], right[3], rightStep[3];
    for (int ch = 0; ch < 3; ++ch) {
        left[ch] = static_cast<int>(255.0 * size * tl[ch]);
        leftStep[ch] = static_cast<int>(255.0 * bl[ch] - 255.0 * tl[ch]);
        right[ch] = static_cast<int>(255.0 * size * tr[ch]);
        rightStep[ch] = static_cast<int>(255.0 * br[ch] - 255.0 * tr[ch]);
    }
    for (int row = 0; row < size; ++row) {
        for (int i = 0; i < size; ++i) {
            Colour p = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const int v = (left[ch] << level) + i * (right[ch] - left[ch]);
                p = p << 8 | static_cast<Colour>(v >> 2 * level);
            }
            image.row(y + row)[x + i] = p;
        }
        for (int ch = 0; ch < 3; ++ch) {
            left[ch] += leftStep[ch];
            right[ch] += rightStep[ch];
        }
    }
}

inline Colour average(Colour a, Colour b)
{
    return ((a & 0xFEFEFEu) + (b & 0xFEFEFEu)) >> 1;
}

inline void subdivideBlock(Image& image, int x, int y, int level, const TraceSample* c, Vector3 dx, Vector3 dy)
{
    const std::uint32_t m = c[0].hitMask | c[1].hitMask | c[2].hitMask | c[3].hitMask;
    if (m == 0)
        return;
    const std::uint32_t lm = c[0].lightMask | c[1].lightMask | c[2].lightMask | c[3].lightMask;
    const bool uniform = (c[0].hitMask & c[1].hitMask & c[2].hitMask & c[3].hitMask) && c[0].lightMask == c[1].lightMask &&
                         c[0].lightMask == c[2].lightMask && c[0].lightMask == c[3].lightMask;
    const Vector3 hx = dx * 0.5f, hy = dy * 0.5f;
    if (level == 1) {
        image.row(y)[x] = packColour(c[0].colour);
        if (uniform) {
            image.row(y)[x + 1] = average(image.row(y)[x], packColour(c[1].colour));
            image.row(y + 1)[x] = average(image.row(y)[x], packColour(c[2].colour));
            image.row(y + 1)[x + 1] = average(image.row(y)[x], packColour(c[3].colour));
        } else {
            image.row(y)[x + 1] = packColour(offsetSample(c[0], hx, m, lm).colour);
            image.row(y + 1)[x] = packColour(offsetSample(c[0], hy, m, lm).colour);
            image.row(y + 1)[x + 1] = packColour(offsetSample(c[0], hx + hy, m, lm).colour);
        }
        return;
    }
    const TraceSample q = offsetSample(c[0], hx + hy, m, lm);
    if (uniform && std::fabs((c[0].colour.green + static_cast<double>(c[3].colour.green)) / 2 - q.colour.green) <= 0.02 &&
        std::fabs((c[1].colour.blue + static_cast<double>(c[2].colour.blue)) / 2 - q.colour.blue) <= 0.02) {
        reference::fillBlock(image, x, y, level, c);
        return;
    }
    const int h = 1 << (level - 1);
    const TraceSample t = offsetSample(c[0], hx, m, lm), lmid = offsetSample(c[0], hy, m, lm);
    const TraceSample a[4] = {c[0], t, lmid, q};
    reference::subdivideBlock(image, x, y, level - 1, a, hx, hy);
    const TraceSample rmid = offsetSample(c[1], hy, m, lm);
    const TraceSample b[4] = {t, c[1], q, rmid};
    reference::subdivideBlock(image, x + h, y, level - 1, b, hx, hy);
    const TraceSample bmid = offsetSample(c[2], hx, m, lm);
    const TraceSample d[4] = {lmid, q, c[2], bmid};
    reference::subdivideBlock(image, x, y + h, level - 1, d, hx, hy);
    const TraceSample e[4] = {q, rmid, bmid, c[3]};
    reference::subdivideBlock(image, x + h, y + h, level - 1, e, hx, hy);
}

} // namespace reference
