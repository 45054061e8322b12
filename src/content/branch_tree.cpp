#include "content/branch_tree.hpp"

#include "content/program_rand.hpp"
#include "engine/line.hpp"
#include "engine/line_blend.hpp"
#include "image/simd.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

// What fromAxisAngle works out from the angle alone, for the B bends and the
// one twist of a grow: they are the same for every parent, so the sines and
// cosines are taken once per grow instead of twice per child.
struct FanConstants {
    double bendSine[maxBranching];
    float bendCosine[maxBranching];
    float lengthFactor[maxBranching];
    double twistSine;
    float twistCosine;
};

FanConstants fanConstants(const BranchTree& tree)
{
    FanConstants fan;
    const int b = tree.branching;
    const double step = tree.spread * twoPi / (b - 1);
    for (int k = 0; k < b; ++k) {
        const double e = k - (b - 1) * 0.5;
        // The angle passes through a float, as the quaternion takes it.
        const float angle = static_cast<float>(e * step * tree.spread);
        const double half = static_cast<double>(angle) * 0.5;
        fan.bendSine[k] = std::sin(half);
        fan.bendCosine[k] = static_cast<float>(std::cos(half));
        fan.lengthFactor[k] = static_cast<float>((e * tree.lengthSkew / (b - 1) + 1.0) * tree.lengthRatio);
    }
    const float twistAngle = static_cast<float>(tree.twist * twoPi);
    const double half = static_cast<double>(twistAngle) * 0.5;
    fan.twistSine = std::sin(half);
    fan.twistCosine = static_cast<float>(std::cos(half));
    return fan;
}

// Four children at a time, in two pairs of double lanes. Every step is the
// scalar rule's own double operation in the same order, and every value the
// scalar rule keeps as a float is rounded to float here too, so the nodes
// come out bit for bit as fromAxisAngle, the quaternion product, toMatrix
// and transformPoint would make them one child at a time. The two pairs are
// independent, which keeps the long chains of divisions, roots and
// roundings of one child from stalling the next.

struct Lanes4 {
    __m128d lo, hi;  // lanes 0 and 1, lanes 2 and 3
};

// The intrinsics are named in each body rather than passed along: they
// have no address to take in unoptimised builds.
[[gnu::always_inline]] inline Lanes4 operator+(const Lanes4& a, const Lanes4& b)
{
    return {_mm_add_pd(a.lo, b.lo), _mm_add_pd(a.hi, b.hi)};
}

[[gnu::always_inline]] inline Lanes4 operator-(const Lanes4& a, const Lanes4& b)
{
    return {_mm_sub_pd(a.lo, b.lo), _mm_sub_pd(a.hi, b.hi)};
}

[[gnu::always_inline]] inline Lanes4 operator*(const Lanes4& a, const Lanes4& b)
{
    return {_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)};
}

[[gnu::always_inline]] inline Lanes4 operator/(const Lanes4& a, const Lanes4& b)
{
    return {_mm_div_pd(a.lo, b.lo), _mm_div_pd(a.hi, b.hi)};
}

// Where a is all ones (true) b, elsewhere c.
[[gnu::always_inline]] inline Lanes4 select(const Lanes4& a, const Lanes4& b, const Lanes4& c)
{
    return {_mm_or_pd(_mm_and_pd(a.lo, b.lo), _mm_andnot_pd(a.lo, c.lo)),
            _mm_or_pd(_mm_and_pd(a.hi, b.hi), _mm_andnot_pd(a.hi, c.hi))};
}

[[gnu::always_inline]] inline Lanes4 splat(double v)
{
    return {_mm_set1_pd(v), _mm_set1_pd(v)};
}

[[gnu::always_inline]] inline Lanes4 squareRoot(const Lanes4& a)
{
    return {_mm_sqrt_pd(a.lo), _mm_sqrt_pd(a.hi)};
}

// Through a float and back: the rounding of a value stored as float.
[[gnu::always_inline]] inline Lanes4 toFloat(const Lanes4& a)
{
    return {_mm_cvtps_pd(_mm_cvtpd_ps(a.lo)), _mm_cvtps_pd(_mm_cvtpd_ps(a.hi))};
}

struct Vector4x3 {
    Lanes4 x, y, z;
};

struct Quaternion4 {
    Lanes4 w, x, y, z;
};

template <typename Get>
[[gnu::always_inline]] inline Lanes4 gather(const int (&index)[4], Get get)
{
    return {_mm_set_pd(get(index[1]), get(index[0])), _mm_set_pd(get(index[3]), get(index[2]))};
}

[[gnu::always_inline]] inline Lanes4 squaredLength(const Vector4x3& v)
{
    return v.x * v.x + v.y * v.y + v.z * v.z;
}

// Quaternion::fromAxisAngle with the half angle's sine and float cosine known.
[[gnu::always_inline]] inline Quaternion4 rotationAbout(const Vector4x3& axis, const Lanes4& sine,
                                                        const Lanes4& cosine)
{
    const Lanes4 k = sine / squareRoot(squaredLength(axis));
    return {cosine, toFloat(axis.x * k), toFloat(axis.y * k), toFloat(axis.z * k)};
}

// The Hamilton product a·b.
[[gnu::always_inline]] inline Quaternion4 product(const Quaternion4& a, const Quaternion4& b)
{
    return {toFloat(a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z),
            toFloat(a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y),
            toFloat(a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z),
            toFloat(a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x)};
}

// transformPoint(toMatrix(q), v): the matrix entries rounded to float, the
// zero translation added last (it turns a sum of -0 into +0).
[[gnu::always_inline]] inline Vector4x3 rotate(const Quaternion4& q, const Vector4x3& v)
{
    const Lanes4 n = q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z;
    const Lanes4 zero = splat(0.0), one = splat(1.0);
    // s = n == 0 ? 1 : 2 / n
    const Lanes4 quotient = splat(2.0) / n;
    const Lanes4 isZero = {_mm_cmpeq_pd(n.lo, zero.lo), _mm_cmpeq_pd(n.hi, zero.hi)};
    const Lanes4 s = select(isZero, one, quotient);
    const Lanes4 xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const Lanes4 xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const Lanes4 wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    const Lanes4 m0 = toFloat(one - s * (yy + zz)), m1 = toFloat(s * (xy - wz)), m2 = toFloat(s * (xz + wy));
    const Lanes4 m3 = toFloat(s * (xy + wz)), m4 = toFloat(one - s * (xx + zz)), m5 = toFloat(s * (yz - wx));
    const Lanes4 m6 = toFloat(s * (xz - wy)), m7 = toFloat(s * (yz + wx)), m8 = toFloat(one - s * (xx + yy));
    return {toFloat(v.x * m0 + v.y * m3 + v.z * m6 + zero), toFloat(v.x * m1 + v.y * m4 + v.z * m7 + zero),
            toFloat(v.x * m2 + v.y * m5 + v.z * m8 + zero)};
}

[[gnu::always_inline]] inline float lane(const Lanes4& a, int i)
{
    const __m128d pair = i < 2 ? a.lo : a.hi;
    return static_cast<float>(_mm_cvtsd_f64(i % 2 == 0 ? pair : _mm_unpackhi_pd(pair, pair)));
}

// Grows children first .. last, all of one level; without axes when they
// are not wanted. The lanes past the end of a last short group repeat its
// first child and are not stored.
template <bool withAxes>
void growRun(BranchNode* nodes, int first, int last, int branching, const FanConstants& fan)
{
    const Lanes4 twistSine = splat(fan.twistSine), twistCosine = splat(fan.twistCosine);
    int parent = (first - 1) / branching;
    int k = first - 1 - parent * branching;
    for (int c = first; c <= last; c += 4) {
        const int count = last - c + 1 < 4 ? last - c + 1 : 4;
        int parents[4], ks[4];
        for (int i = 0; i < 4; ++i) {
            parents[i] = i < count ? parent : parents[0];
            ks[i] = i < count ? k : ks[0];
            if (++k == branching) {
                k = 0;
                ++parent;
            }
        }
        const Vector4x3 axis = {gather(parents, [&](int p) { return nodes[p].axis.x; }),
                                gather(parents, [&](int p) { return nodes[p].axis.y; }),
                                gather(parents, [&](int p) { return nodes[p].axis.z; })};
        const Vector4x3 direction = {gather(parents, [&](int p) { return nodes[p].direction.x; }),
                                     gather(parents, [&](int p) { return nodes[p].direction.y; }),
                                     gather(parents, [&](int p) { return nodes[p].direction.z; })};
        const Quaternion4 bend = rotationAbout(axis, gather(ks, [&](int i) { return fan.bendSine[i]; }),
                                               gather(ks, [&](int i) { return static_cast<double>(fan.bendCosine[i]); }));
        const Vector4x3 turned = rotate(bend, direction);
        const Lanes4 factor = gather(ks, [&](int i) { return static_cast<double>(fan.lengthFactor[i]); });
        const Vector4x3 childDirection = {turned.x * factor, turned.y * factor, turned.z * factor};
        const auto store = [&](int i) {
            BranchNode& child = nodes[c + i];
            const BranchNode& p = nodes[parents[i]];
            child.direction = Vector3(lane(childDirection.x, i), lane(childDirection.y, i), lane(childDirection.z, i));
            child.position = p.position + p.direction;
            child.isLeaf = false;
        };
        // A whole group with constant lanes, so no lane is picked at run time.
        if (count == 4) {
            store(0), store(1), store(2), store(3);
        } else {
            for (int i = 0; i < count; ++i)
                store(i);
        }
        if constexpr (withAxes) {
            const Quaternion4 twist = rotationAbout(direction, twistSine, twistCosine);
            const Vector4x3 childAxis = rotate(product(twist, bend), axis);
            const auto storeAxis = [&](int i) {
                nodes[c + i].axis = Vector3(lane(childAxis.x, i), lane(childAxis.y, i), lane(childAxis.z, i));
            };
            if (count == 4) {
                storeAxis(0), storeAxis(1), storeAxis(2), storeAxis(3);
            } else {
                for (int i = 0; i < count; ++i)
                    storeAxis(i);
            }
        }
    }
}

} // namespace

int branchNodeCount(int branching, int depth)
{
    if (branching < 2 || depth < 0)
        return 0;
    const double count = (std::pow(static_cast<double>(branching), depth + 1) - 1.0) / (branching - 1);
    return count <= maxBranchNodes ? static_cast<int>(count) : 0;
}

void BranchTree::build()
{
    delete[] nodes;
    const int count = branching <= maxBranching ? branchNodeCount(branching, depth) : 0;
    const bool valid = count > 0;
    nodeCount = valid ? count : 1;
    nodes = new BranchNode[nodeCount];
    BranchNode& root = nodes[0];
    root.position = rootPosition;
    root.direction = Vector3(0.0f, static_cast<float>(15 + programRand() % 10), 0.0f);
    root.axis = unitZ;
    root.isLeaf = !valid;
    if (valid)
        grow(0, depth);
}

void BranchTree::grow(int parent, int levels)
{
    growLevels(parent, levels, true);
}

void BranchTree::growForDrawing(int parent, int levels)
{
    growLevels(parent, levels, false);
}

void BranchTree::growLevels(int parent, int levels, bool leafShapes)
{
    if (!nodes || parent < 0 || parent >= nodeCount || branching < 2 || branching > maxBranching)
        return;
    const FanConstants fan = fanConstants(*this);
    // Every child depends only on its parent, so the descendants are grown a
    // level at a time: each level is one run of consecutive nodes.
    int first = parent, last = parent;
    for (int level = 0;; ++level) {
        // Nodes whose children would not fit become leaves; they form the
        // end of the run, since the children's places grow with the index.
        const int room = nodeCount - 1 - branching;
        int lastGrown = level < levels && room >= 0 ? room / branching : first - 1;
        if (lastGrown > last)
            lastGrown = last;
        if (lastGrown >= first) {
            const int firstChild = branching * first + 1, lastChild = branching * lastGrown + branching;
            // For drawing, the axes of the last branches (which only shape
            // the leaves) and the leaves' shapes are not needed.
            if (leafShapes || level + 2 < levels) {
                growRun<true>(nodes, firstChild, lastChild, branching, fan);
            } else if (level + 2 == levels) {
                growRun<false>(nodes, firstChild, lastChild, branching, fan);
            } else {
                for (int p = first; p <= lastGrown; ++p) {
                    const Vector3 tip = nodes[p].position + nodes[p].direction;
                    for (int c = branching * p + 1; c <= branching * p + branching; ++c)
                        nodes[c].position = tip;
                }
            }
        }
        for (int i = lastGrown < first ? first : lastGrown + 1; i <= last; ++i)
            nodes[i].isLeaf = true;
        if (lastGrown < first)
            return;
        first = branching * first + 1;
        last = branching * lastGrown + branching;
    }
}

namespace {

// Screen points of the branch tips of the tree being drawn, by node.
constexpr int tipCapacity = 4096;
Vector3 tipScreen[tipCapacity];

// camera.project(transformPoint(viewMatrix, position + direction)) of two
// nodes in the two lanes of double pairs, with the scalar form's roundings:
// the tip and the view point as floats, the screen scale's product with a
// view coordinate as a float (float times float), the rest in double.
void projectTips(const Camera& camera, const BranchNode& a, const BranchNode& b, Vector3& tipA, Vector3& tipB)
{
    const Vector3 ta = a.position + a.direction, tb = b.position + b.direction;
    const __m128d x = _mm_set_pd(tb.x, ta.x), y = _mm_set_pd(tb.y, ta.y), z = _mm_set_pd(tb.z, ta.z);
    const float* m = camera.viewMatrix.m;
    const auto entry = [](float v) { return _mm_set1_pd(v); };
    const auto row = [&](int c) {
        const __m128d sum = _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, entry(m[c])), _mm_mul_pd(y, entry(m[c + 3]))),
                                       _mm_mul_pd(z, entry(m[c + 6])));
        return _mm_cvtps_pd(_mm_cvtpd_ps(_mm_add_pd(sum, entry(m[c + 9]))));
    };
    const __m128d vx = row(0), vy = row(1), vz = row(2);
    const __m128d w = _mm_div_pd(_mm_set1_pd(1.0), vz);
    const __m128d sx = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(entry(camera.scaleX), vx)));
    const __m128d sy = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(entry(camera.scaleY), vy)));
    const __m128 screenX = _mm_cvtpd_ps(_mm_add_pd(entry(camera.centerX), _mm_mul_pd(sx, w)));
    const __m128 screenY = _mm_cvtpd_ps(_mm_sub_pd(entry(camera.centerY), _mm_mul_pd(sy, w)));
    const __m128 inverse = _mm_cvtpd_ps(w);
    const auto second = [](__m128 v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, 1)); };
    tipA = Vector3(_mm_cvtss_f32(screenX), _mm_cvtss_f32(screenY), _mm_cvtss_f32(inverse));
    tipB = Vector3(second(screenX), second(screenY), second(inverse));
}

bool sameBits(const Vector3& a, const Vector3& b)
{
    return std::memcmp(&a, &b, sizeof(Vector3)) == 0;
}

// drawLineAA's walk for a line that needs no clipping and whose every pixel
// pair lies inside the image: the same steps and blends, without the checks.
struct LineWalk {
    bool across;  // mostly horizontal: one pair per column, else one per row
    int n;        // columns (across), or rows - 1
    int column;   // first column (across)
    int row;      // first row (not across)
    int step;     // column step, 1 or -1 (across)
    std::int32_t fixed, fixedStep;  // y (across) or x, in 1/32768 pixel
};

LineWalk planLine(float x0, float y0, float x1, float y1)
{
    if (y1 < y0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const double cdx = static_cast<double>(x1) - x0;
    const double cdy = static_cast<double>(y1) - y0;
    const double adx = std::fabs(cdx);
    const double ady = std::fabs(cdy);
    LineWalk w{};
    w.across = adx > ady;
    if (w.across) {
        w.n = static_cast<int>(adx + 0.5);
        w.column = static_cast<int>(x0);
        w.step = x1 >= x0 ? 1 : -1;
        w.fixed = static_cast<std::int32_t>(y0 * 32768.0);
        w.fixedStep = static_cast<std::int32_t>(cdy / adx * 32768.0);
    } else {
        w.n = static_cast<int>(ady + 0.5);
        w.row = static_cast<int>(y0);
        w.fixed = static_cast<std::int32_t>(x0 * 32768.0);
        w.fixedStep = ady > 0.0 ? static_cast<std::int32_t>(cdx / ady * 32768.0) : 0;
    }
    return w;
}

// One step of a walk: the pair below (across) or right of the point.
[[gnu::always_inline]] inline void stepAcross(Image& target, int column, std::int32_t y, const PairBlender& blend)
{
    blend(target.row(y >> 15) + column, target.row((y >> 15) + 1) + column, y & 0x7FFF);
}

[[gnu::always_inline]] inline void stepDown(Image& target, int row, std::int32_t x, const PairBlender& blend)
{
    std::uint32_t* pixel = target.row(row) + (x >> 15);
    blend(pixel, pixel + 1, x & 0x7FFF);
}

// The pairs of both lines in one row, (p, p + 1) and then (p + 1, p + 2),
// with the same weights, as stepDown twice: a blended channel never exceeds
// 255, so p + 1 can take its second blend in 16-bit lanes without being
// packed and stored in between.
[[gnu::always_inline]] inline void stepDownTwice(Image& target, int row, std::int32_t x, const PairBlender& blend)
{
    std::uint32_t* pixel = target.row(row) + (x >> 15);
    const std::int32_t f = x & 0x7FFF;
    const __m128i zero = _mm_setzero_si128();
    const __m128i noFourth = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    // 32767 - f is 32767 XOR f for 15-bit f: the left pixel's colour weight
    // in the low four lanes, f in the high four.
    const __m128i fs = _mm_set1_epi32(f | f << 16);
    const __m128i weight = _mm_xor_si128(fs, _mm_set_epi16(0, 0, 0, 0, 32767, 32767, 32767, 32767));
    const __m128i keep = _mm_xor_si128(weight, _mm_set1_epi16(32767));
    const __m128i paint = _mm_mulhi_epi16(blend.paint2, weight);
    __m128i pair = _mm_and_si128(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel)), zero),
                                 noFourth);
    const __m128i first = _mm_add_epi16(_mm_mulhi_epi16(_mm_add_epi16(pair, pair), keep), paint);
    const __m128i third = _mm_and_si128(
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(pixel[2])), zero), noFourth);
    pair = _mm_unpacklo_epi64(_mm_srli_si128(first, 8), third);
    const __m128i second = _mm_add_epi16(_mm_mulhi_epi16(_mm_add_epi16(pair, pair), keep), paint);
    const __m128i packed = _mm_packus_epi16(first, second);
    pixel[0] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pixel + 1), _mm_srli_si128(packed, 8));
}

// Both lines' pairs of one column step: (column, row) and (column + 1, row)
// take colour weight 32767 - f, the two pixels below take f. The four
// pixels are distinct, so the two blends of the step may go together.
[[gnu::always_inline]] inline void stepAcrossTwice(Image& target, int column, std::int32_t y,
                                                   const PairBlender& blend)
{
    std::uint32_t* top = target.row(y >> 15) + column;
    std::uint32_t* bottom = target.row((y >> 15) + 1) + column;
    const std::int32_t f = y & 0x7FFF;
    const __m128i zero = _mm_setzero_si128();
    const __m128i noFourth = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    const __m128i fs = _mm_set1_epi32(f | f << 16);
    const __m128i rest = _mm_xor_si128(fs, _mm_set1_epi16(32767));
    // Pixel by pixel: the right one was stored by the step before as part
    // of a wider store, which a load of the same width could not take over.
    const auto pairAt = [](const std::uint32_t* p) {
        return _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(p[0])), _mm_cvtsi32_si128(static_cast<int>(p[1])));
    };
    __m128i upper = _mm_and_si128(_mm_unpacklo_epi8(pairAt(top), zero), noFourth);
    __m128i lower = _mm_and_si128(_mm_unpacklo_epi8(pairAt(bottom), zero), noFourth);
    upper = _mm_add_epi16(_mm_mulhi_epi16(_mm_add_epi16(upper, upper), fs), _mm_mulhi_epi16(blend.paint2, rest));
    lower = _mm_add_epi16(_mm_mulhi_epi16(_mm_add_epi16(lower, lower), rest), _mm_mulhi_epi16(blend.paint2, fs));
    const __m128i packed = _mm_packus_epi16(upper, lower);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(top), packed);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bottom), _mm_unpackhi_epi64(packed, packed));
}

void walkLine(Image& target, const LineWalk& w, const PairBlender& blend)
{
    std::int32_t f = w.fixed;
    if (w.across) {
        for (int i = 0, column = w.column; i < w.n; ++i, column += w.step, f += w.fixedStep)
            stepAcross(target, column, f, blend);
    } else {
        for (int i = 0, row = w.row; i <= w.n; ++i, ++row, f += w.fixedStep)
            stepDown(target, row, f, blend);
    }
}

// Both lines of a stroke, the second one pixel right of the first. Mostly
// the second's walk is the first's moved one column, and both are walked
// together; each pixel still takes the first line's blend before the
// second's, as when the lines are drawn one after the other.
void walkStroke(Image& target, float x0, float y0, float x1, float y1, const PairBlender& blend)
{
    const LineWalk a = planLine(x0, y0, x1, y1);
    // With both x exactly one more (and positive, as inside the bounds), the
    // second line has the same differences, so the same kind and number of
    // steps, its start one column (or 32768 fixed-point units) further.
    const bool moved = static_cast<double>(x0 + 1.0f) - x0 == 1.0 && static_cast<double>(x1 + 1.0f) - x1 == 1.0;
    if (!moved) {
        walkLine(target, a, blend);
        walkLine(target, planLine(x0 + 1.0f, y0, x1 + 1.0f, y1), blend);
        return;
    }
    std::int32_t f = a.fixed;
    if (!a.across) {
        // The second line's pair shares the first's right pixel, in the same row.
        for (int i = 0, row = a.row; i <= a.n; ++i, ++row, f += a.fixedStep)
            stepDownTwice(target, row, f, blend);
    } else {
        // Within one line no pixel is blended twice, so its steps may go in
        // any order; across the lines, the second's column c + 1 must come
        // after the first's step there. Walking from right to left keeps it so.
        const int last = a.n - 1;
        if (a.step < 0) {
            for (int i = 0; i <= last; ++i, f += a.fixedStep)
                stepAcrossTwice(target, a.column - i, f, blend);
        } else {
            f += last * a.fixedStep;
            for (int i = last; i >= 0; --i, f -= a.fixedStep)
                stepAcrossTwice(target, a.column + i, f, blend);
        }
    }
}

// Where the end points of both lines of a stroke may lie for walkLine: one
// pixel inside the clip rectangle (itself held inside the image), and two
// more on the right for the second line. The walks then keep to the end
// points' rows and columns, give or take half a pixel, and the second pixel
// of a pair one further.
struct WalkBounds {
    float left, top, right, bottom;

    explicit WalkBounds(const Image& image)
        : left(std::max(image.clipLeft, 0.0f) + 1.0f), top(std::max(image.clipTop, 0.0f) + 1.0f),
          right(std::min(image.clipRight, static_cast<float>(image.width - 1)) - 3.0f),
          bottom(std::min(image.clipBottom, static_cast<float>(image.height - 1)) - 2.0f)
    {
    }

    // False for NaN.
    bool holds(float x, float y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

} // namespace

void BranchTree::draw(Image& target, const Camera& camera, Colour colour) const
{
    if (!target.pixels)
        return;
    // The branch tips projected first, two at a time, in a loop of
    // independent steps, which keeps their divisions out of the strokes' way.
    const int projected = nodeCount < tipCapacity ? nodeCount : tipCapacity;
    int i = 0;
    for (; i + 1 < projected; i += 2) {
        if (!nodes[i].isLeaf || !nodes[i + 1].isLeaf)
            projectTips(camera, nodes[i], nodes[i + 1], tipScreen[i], tipScreen[i + 1]);
    }
    if (i < projected && !nodes[i].isLeaf)
        tipScreen[i] = camera.project(transformPoint(camera.viewMatrix, nodes[i].position + nodes[i].direction));
    const WalkBounds bounds(target);
    const PairBlender blend(colour);
    // p is node i's parent: the children of p are branching·p + 1 onwards.
    for (int i = 0, p = 0, k = -2; i < nodeCount; ++i) {
        if (++k == branching) {
            k = 0;
            ++p;
        }
        const BranchNode& n = nodes[i];
        if (n.isLeaf)
            continue;
        // A branch starts where its parent ends, whose tip is projected
        // already; the same point gives the same screen point.
        const bool atParentTip = i > 0 && p < projected && !nodes[p].isLeaf &&
                                 sameBits(n.position, nodes[p].position + nodes[p].direction);
        const Vector3 start = atParentTip ? tipScreen[p] : camera.project(transformPoint(camera.viewMatrix, n.position));
        const Vector3 tip = i < projected ? tipScreen[i]
                                          : camera.project(transformPoint(camera.viewMatrix, n.position + n.direction));
        if (bounds.holds(start.x, start.y) && bounds.holds(tip.x, tip.y)) {
            walkStroke(target, start.x, start.y, tip.x, tip.y, blend);
        } else {
            drawLineAA(target, start.x, start.y, tip.x, tip.y, colour);
            drawLineAA(target, start.x + 1.0f, start.y, tip.x + 1.0f, tip.y, colour);
        }
    }
}
