#include "engine/clipper.hpp"

#include <utility>

namespace {

ClipVertex ownBuffer[clipCapacity];

// One plane's pass: the polygon in input (count vertices) cut by the plane
// into spare; returns the new count, 0 when nothing is left, or -1 when the
// polygon lies wholly inside (input stays as it is). The plane is a template
// argument so that it is worked out inline, not called per vertex.
template <float plane(const ClipVertex&)>
int clipAgainst(const ClipVertex* input, int count, ClipInterpolator interpolator, ClipVertex* spare)
{
    float f[clipCapacity];
    int inside = 0;
    for (int i = 0; i < count; ++i) {
        f[i] = plane(input[i]);
        inside += f[i] <= 0.0f;
    }
    if (inside == 0)
        return 0;
    if (inside == count)
        return -1;
    int n = 0;
    int prev = count - 1;
    for (int cur = 0; cur < count; prev = cur, ++cur) {
        const bool prevIn = f[prev] <= 0.0f;
        const bool curIn = f[cur] <= 0.0f;
        // Only a polygon that is not convex (numerically) can outgrow the
        // storage; it is dropped rather than written past the end.
        if (n + (prevIn != curIn) + curIn > clipCapacity)
            return 0;
        if (prevIn != curIn) {
            const float t = static_cast<float>(static_cast<double>(f[prev]) / (static_cast<double>(f[prev]) - f[cur]));
            interpolator(input[prev], input[cur], t, spare[n++]);
        }
        if (curIn)
            spare[n++] = input[cur];
    }
    return n;
}

} // namespace

int clipPolygon(ClipVertex* vertices, int count, ClipInterpolator interpolator, ClipVertex*& out)
{
    ClipVertex* input = vertices;
    ClipVertex* spare = ownBuffer;
    if (count <= 0 || count > clipCapacity)
        return 0;
    const auto pass = [&](auto clip) {
        const int n = clip(input, count, interpolator, spare);
        if (n < 0)
            return true;
        std::swap(input, spare);
        count = n;
        return n > 0;
    };
    if (!pass(clipAgainst<nearPlane>) || !pass(clipAgainst<rightPlane>) || !pass(clipAgainst<leftPlane>) ||
        !pass(clipAgainst<topPlane>) || !pass(clipAgainst<bottomPlane>))
        return 0;
    out = input;
    return count;
}

void interpolateLitVertex(const ClipVertex& a, const ClipVertex& b, float t, ClipVertex& out)
{
    const double td = t;
    out.x = static_cast<float>(a.x + (static_cast<double>(b.x) - a.x) * td);
    out.y = static_cast<float>(a.y + (static_cast<double>(b.y) - a.y) * td);
    out.z = static_cast<float>(a.z + (static_cast<double>(b.z) - a.z) * td);
    const double az = a.z, bz = b.z, z = out.z;
    out.red = static_cast<float>((a.red * az + (b.red * bz - a.red * az) * td) / z);
    out.green = static_cast<float>((a.green * az + (b.green * bz - a.green * az) * td) / z);
    out.blue = static_cast<float>((a.blue * az + (b.blue * bz - a.blue * az) * td) / z);
}
