#include "content/branch_tree.hpp"

#include "content/program_rand.hpp"
#include "content/stroke.hpp"
#include "image/simd.hpp"

#include <cmath>
#include <cstring>
#include <numbers>

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

} // namespace

void BranchTree::draw(Image& target, const Camera& camera, Colour colour) const
{
    if (!target.pixels)
        return;
    // The branch tips projected first, two at a time, in a loop of
    // independent steps, which keeps their divisions out of the strokes' way.
    const int projected = nodeCount < tipCapacity ? nodeCount : tipCapacity;
    int pair = 0;
    for (; pair + 1 < projected; pair += 2) {
        if (!nodes[pair].isLeaf || !nodes[pair + 1].isLeaf)
            projectTips(camera, nodes[pair], nodes[pair + 1], tipScreen[pair], tipScreen[pair + 1]);
    }
    if (pair < projected && !nodes[pair].isLeaf)
        tipScreen[pair] = camera.project(transformPoint(camera.viewMatrix, nodes[pair].position + nodes[pair].direction));
    const StrokeDrawer strokes(target, colour);
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
        strokes.draw(start.x, start.y, tip.x, tip.y);
    }
}
