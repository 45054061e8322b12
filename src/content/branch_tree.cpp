#include "content/branch_tree.hpp"

#include "content/program_rand.hpp"
#include "engine/line.hpp"

#include <cmath>
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

double length(const Vector3& v)
{
    return std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                     static_cast<double>(v.z) * v.z);
}

// fromAxisAngle(axis, angle) with the angle's sine and cosine already known.
Quaternion rotationAbout(const Vector3& axis, double axisLength, double sine, float cosine)
{
    const double k = sine / axisLength;
    return Quaternion(cosine, static_cast<float>(axis.x * k), static_cast<float>(axis.y * k),
                      static_cast<float>(axis.z * k));
}

Vector3 rotate(const Quaternion& q, const Vector3& v)
{
    Matrix m;
    q.toMatrix(m);
    return transformPoint(m, v);
}

void growChildren(BranchNode* nodes, int parent, int branching, const FanConstants& fan)
{
    const BranchNode& p = nodes[parent];
    const double axisLength = length(p.axis);
    const Quaternion twist = rotationAbout(p.direction, length(p.direction), fan.twistSine, fan.twistCosine);
    const Vector3 tip = p.position + p.direction;
    BranchNode* child = nodes + branching * parent + 1;
    for (int k = 0; k < branching; ++k, ++child) {
        const Quaternion bend = rotationAbout(p.axis, axisLength, fan.bendSine[k], fan.bendCosine[k]);
        child->direction = rotate(bend, p.direction) * fan.lengthFactor[k];
        child->axis = rotate(twist * bend, p.axis);
        child->position = tip;
        child->isLeaf = false;
    }
}

} // namespace

int branchNodeCount(int branching, int depth)
{
    if (branching < 2 || depth < 0)
        return 0;
    return static_cast<int>((std::pow(static_cast<double>(branching), depth + 1) - 1.0) / (branching - 1));
}

void BranchTree::build()
{
    delete[] nodes;
    const bool valid = branching >= 2 && branching <= maxBranching && depth >= 0;
    nodeCount = valid ? branchNodeCount(branching, depth) : 1;
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
        for (int i = first; i <= lastGrown; ++i)
            growChildren(nodes, i, branching, fan);
        for (int i = lastGrown < first ? first : lastGrown + 1; i <= last; ++i)
            nodes[i].isLeaf = true;
        if (lastGrown < first)
            return;
        first = branching * first + 1;
        last = branching * lastGrown + branching;
    }
}

void BranchTree::draw(Image& target, const Camera& camera, Colour colour) const
{
    for (int i = 0; i < nodeCount; ++i) {
        const BranchNode& n = nodes[i];
        if (n.isLeaf)
            continue;
        const Vector3 start = camera.project(transformPoint(camera.viewMatrix, n.position));
        const Vector3 tip = camera.project(transformPoint(camera.viewMatrix, n.position + n.direction));
        drawLineAA(target, start.x, start.y, tip.x, tip.y, colour);
        drawLineAA(target, start.x + 1.0f, start.y, tip.x + 1.0f, tip.y, colour);
    }
}
