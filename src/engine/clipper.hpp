// Sutherland-Hodgman clipping against the near plane z = 1 and the four
// sides of the view pyramid |x| <= z, |y| <= z, in that order.
#pragma once

#include <bit>
#include <initializer_list>

struct ClipVertex {
    float x, y, z;         // pre-scaled view space
    float spare0, spare1;  // not used by the lit pipeline
    float red, green, blue;  // 0..255
};

// Writes into out the vertex at parameter t on the segment from a to b.
using ClipInterpolator = void (*)(const ClipVertex& a, const ClipVertex& b, float t, ClipVertex& out);

// Plane functions, inside where f <= 0 (a point on a plane is inside), in
// the order the clipper takes them: near z = 1, right, left, top, bottom.
inline float nearPlane(const ClipVertex& v) { return 1.0f - v.z; }
inline float rightPlane(const ClipVertex& v) { return v.x - v.z; }
inline float leftPlane(const ClipVertex& v) { return -v.x - v.z; }
inline float topPlane(const ClipVertex& v) { return v.y - v.z; }
inline float bottomPlane(const ClipVertex& v) { return -v.y - v.z; }

// True when clipPolygon would pass this vertex through every plane.
inline bool insideAllPlanes(const ClipVertex& v)
{
    return nearPlane(v) <= 0.0f && rightPlane(v) <= 0.0f && leftPlane(v) <= 0.0f && topPlane(v) <= 0.0f &&
           bottomPlane(v) <= 0.0f;
}

// True when clipPolygon would drop the polygon at a plane it reaches uncut:
// the vertices pass every plane before it whole and all lie outside it.
// (A polygon cut first is left to the clipper, whose rounding decides.)
inline bool clippedAway(const ClipVertex* v, int count)
{
    using Plane = float (*)(const ClipVertex&);
    for (const Plane plane : {nearPlane, rightPlane, leftPlane, topPlane, bottomPlane}) {
        int inside = 0;
        for (int i = 0; i < count; ++i)
            inside += plane(v[i]) <= 0.0f;
        if (inside == 0)
            return true;
        if (inside < count)
            return false;
    }
    return false;
}

// Bit k set when the vertex lies outside plane k in the clipper's order
// (near, right, left, top, bottom), as the plane functions decide; 0 when
// insideAllPlanes.
inline unsigned outsidePlanes(const ClipVertex& v)
{
    return static_cast<unsigned>(!(nearPlane(v) <= 0.0f)) | static_cast<unsigned>(!(rightPlane(v) <= 0.0f)) << 1 |
           static_cast<unsigned>(!(leftPlane(v) <= 0.0f)) << 2 | static_cast<unsigned>(!(topPlane(v) <= 0.0f)) << 3 |
           static_cast<unsigned>(!(bottomPlane(v) <= 0.0f)) << 4;
}

// clippedAway for a triangle, from the outsidePlanes of its corners: the
// first plane that any corner lies outside decides, dropping the triangle
// when all three lie outside it.
inline bool clippedAway(unsigned a, unsigned b, unsigned c)
{
    const unsigned some = a | b | c;
    return some != 0 && ((a & b & c) >> std::countr_zero(some) & 1u) != 0;
}

// Room a clip array needs: a triangle gains at most half its vertex count
// per plane (3, 4, 6, 9, 13, 19).
inline constexpr int clipCapacity = 20;

// Returns the clipped vertex count and points out at the array holding them
// (vertices itself when nothing was cut); 0, with out unset, when the
// polygon lies wholly outside a plane. vertices needs room for clipCapacity
// entries: later passes use it as scratch. The result stays valid until the
// next call.
int clipPolygon(ClipVertex* vertices, int count, ClipInterpolator interpolator, ClipVertex*& out);

// Position linear in t; colours weighted by z so that they stay on the
// screen-space colour plane of the unclipped triangle. Spares not written.
void interpolateLitVertex(const ClipVertex& a, const ClipVertex& b, float t, ClipVertex& out);
