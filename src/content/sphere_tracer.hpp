// A ray tracer for a handful of coloured spheres under point lights, with
// shadows and a white highlight. To keep it affordable a picture is traced
// only at the corners of coarse blocks; a block is refined where its corners
// disagree and otherwise filled by integer interpolation.
#pragma once

#include "engine/vector.hpp"
#include "image/image.hpp"

#include <bit>
#include <cstdint>

struct TraceColour {
    float red, green, blue;  // 0..1
};

struct TraceSphere {
    Vector3 centre;
    TraceColour colour;
    float radius;
    // Cached for the current eye by prepare().
    Vector3 eyeOffset;    // eye - centre
    float radiusSquared;
    float eyeTerm;        // |eyeOffset|^2 - radiusSquared

    void prepare(const Vector3& eye);
    // A ray from the prepared eye; dir is of unit length. t is the distance
    // to the nearer crossing in front of the eye (the farther one from inside).
    bool intersectFromEye(const Vector3& dir, float& t) const;
    // The same for a ray from anywhere.
    bool intersect(const Vector3& origin, const Vector3& dir, float& t) const;
    Vector3 normalAt(const Vector3& p) const;
};

struct TraceLight {
    Vector3 position;
    TraceColour colour;
};

// One traced ray: 19 words.
struct TraceSample {
    std::uint32_t hitMask;    // 1 << sphere hit, or 0
    std::uint32_t lightMask;  // bit j: light j lit the hit point
    Vector3 origin;
    Vector3 direction;        // not necessarily of unit length
    std::int32_t sphere;      // -2 not yet traced, -1 nothing hit, else the sphere
    float t;                  // distance along the normalised direction
    Vector3 hit;
    Vector3 normal;
    TraceColour colour;
};
static_assert(sizeof(TraceSample) == 19 * 4);

// The world the tracer sees, set up by the scene that uses it.
constexpr int traceSphereCount = 6;
constexpr int traceLightCount = 2;
extern TraceSphere traceSpheres[traceSphereCount];
extern TraceLight traceLights[traceLightCount];

// Prepares every sphere for the eye and works out, for each light and each
// sphere that can be hit, which other spheres could ever shadow it. Call it
// after changing the eye, the lights or the spheres (colours too) and
// before tracing.
void prepareTraceFrame(const Vector3& eye);

// How many times prepareTraceFrame has run: the packed tracer widens the
// spheres and lights once for each.
extern std::uint64_t preparedTraceFrames;

// Bit k of shadowCandidates[j][i]: sphere k could shadow light j on some
// point of sphere i that faces it; written by prepareTraceFrame.
extern std::uint32_t shadowCandidates[traceLightCount][traceSphereCount];

// Rays actually traced since the program started (samples already traced
// are not counted again); for measuring the refinement.
extern std::uint64_t tracedRayCount;

// The square root from two 256-entry tables: one for the exponent, one for
// the top eight bits of the mantissa (taken at the middle of each interval).
// Relative error below 1/1000 for normal numbers; 0 and denormals give 0.
extern float mantissaRoot[256];
extern float exponentRoot[256];
void initSqrtTables();
// fastSqrt by bits 15 to 30 of its argument (the two indices together, the
// sign dropped), widened to double: the same roots in one load, for the
// packed tracer. Filled by initSqrtTables.
extern double fastSqrtByBits[1 << 16];
// x >= 0; the exponent index is masked so that -0 (or a negative number)
// still reads inside the table.
inline float fastSqrt(float x)
{
    const std::uint32_t b = std::bit_cast<std::uint32_t>(x);
    return mantissaRoot[(b >> 15) & 255] * exponentRoot[(b >> 23) & 255];
}

// Traces s if it is not traced yet (sphere == -2), looking only at the
// spheres and lights whose bits are set; every sphere can cast a shadow.
void traceSample(TraceSample& s, std::uint32_t sphereMask, std::uint32_t lightMask);

// traceSample for each request's sample with the request's masks, two rays
// at a time in packed lanes: the same results bit for bit. Samples already
// traced are left alone; a sample may appear only once.
struct TraceRequest {
    TraceSample* sample;
    std::uint32_t spheres, lights;
};
constexpr int maxTraceRequests = 320;  // paired together at most
void traceRequests(const TraceRequest* requests, int count);
// The same with one pair of masks for all, any number of samples.
void traceSamples(TraceSample* const* samples, int count, std::uint32_t sphereMask, std::uint32_t lightMask);

// 0x00RRGGBB, each channel trunc(255 * c).
inline Colour packColour(const TraceColour& c)
{
    const auto byte = [](float v) { return static_cast<Colour>(static_cast<int>(255.0 * v)); };
    return byte(c.red) << 16 | byte(c.green) << 8 | byte(c.blue);
}

// Draws the 2^level square block whose top-left pixel is (x, y); the block
// lies inside the image. corners (top-left, top-right, bottom-left,
// bottom-right) are traced; dx and dy change the ray direction across the
// whole block. A block that no corner sees a sphere from is left as it is.
void subdivideBlock(Image& image, int x, int y, int level, const TraceSample corners[4], Vector3 dx, Vector3 dy);

// subdivideBlock for many blocks of one size at once, with the same
// pictures; the corners are only read. Blocks given one after another that
// share an edge (and its corner samples) trace its midpoint once. Given a
// clear colour, the blocks and parts of blocks that no corner sees a sphere
// from are filled with it instead of being left alone, so that every pixel
// of the blocks is written once: the same picture as clearing them first.
struct BlockCorners {
    int x, y;
    const TraceSample* corners[4];
};
void subdivideBlocks(Image& image, const BlockCorners* blocks, int count, int level, Vector3 dx, Vector3 dy,
                     const Colour* clear = nullptr);

// The filling of a uniform block: each channel interpolated between the
// corners in integers, rows from the left and right edges. Colours 0..1,
// as traced.
void fillBlock(Image& image, int x, int y, int level, const TraceSample corners[4]);
