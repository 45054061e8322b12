#include "content/branch_tree.hpp"

#include "content/program_rand.hpp"
#include "engine/line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace {

// The growth rule written out directly, one child at a time with the
// engine's quaternion functions, depth first.
void growReference(BranchTree& t, int p, int n)
{
    BranchNode& parent = t.nodes[p];
    if (n <= 0) {
        parent.isLeaf = true;
        return;
    }
    const int b = t.branching;
    const double step = t.spread * 2.0 * std::numbers::pi / (b - 1);
    for (int k = 0; k < b; ++k) {
        const int c = b * p + 1 + k;
        const double e = k - (b - 1) * 0.5;
        const Quaternion q1 = Quaternion::fromAxisAngle(parent.axis.x, parent.axis.y, parent.axis.z,
                                                        static_cast<float>(e * step * t.spread));
        Quaternion q2 = Quaternion::fromAxisAngle(parent.direction.x, parent.direction.y, parent.direction.z,
                                                  static_cast<float>(t.twist * 2.0 * std::numbers::pi));
        q2 *= q1;
        Matrix m;
        q1.toMatrix(m);
        BranchNode& child = t.nodes[c];
        child.direction = transformPoint(m, parent.direction) *
                          static_cast<float>((e * t.lengthSkew / (b - 1) + 1.0) * t.lengthRatio);
        q2.toMatrix(m);
        child.axis = transformPoint(m, parent.axis);
        child.position = parent.position + parent.direction;
        child.isLeaf = false;
        growReference(t, c, n - 1);
    }
}

bool sameNode(const BranchNode& a, const BranchNode& b)
{
    return std::memcmp(&a.position, &b.position, sizeof(Vector3)) == 0 &&
           std::memcmp(&a.direction, &b.direction, sizeof(Vector3)) == 0 &&
           std::memcmp(&a.axis, &b.axis, sizeof(Vector3)) == 0 && a.isLeaf == b.isLeaf;
}

void buildTree(BranchTree& t, int branching, int depth, float skew, float ratio, float spread, float twist)
{
    t.branching = branching;
    t.depth = depth;
    t.lengthSkew = skew;
    t.lengthRatio = ratio;
    t.spread = spread;
    t.twist = twist;
    t.build();
}

Camera treeCamera(float angle)
{
    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(300.0f, 250.0f, 320.0f, 160.0f);
    camera.position.value = Vector3(160.0f * std::cos(angle), 50.0f, 160.0f * std::sin(angle));
    camera.updateView();
    return camera;
}

} // namespace

TEST(BranchTree, NodeCountsAndTheRootFromOneRandomValue)
{
    EXPECT_EQ(branchNodeCount(2, 6), 127);
    EXPECT_EQ(branchNodeCount(2, 7), 255);
    EXPECT_EQ(branchNodeCount(3, 6), 1093);
    EXPECT_EQ(branchNodeCount(3, 7), 3280);
    EXPECT_EQ(branchNodeCount(3, 0), 1);
    EXPECT_EQ(branchNodeCount(3, 40), 0);  // far beyond what an int counts

    // The first two values are 41 and 18467: roots of 16 and 22 units.
    resetProgramRand();
    BranchTree t;
    t.rootPosition = Vector3(1.0f, 2.0f, 3.0f);
    buildTree(t, 3, 7, 0.1f, 0.8f, 0.5f, 0.2f);
    EXPECT_EQ(t.nodeCount, 3280);
    EXPECT_EQ(t.nodes[0].direction.y, 16.0f);
    EXPECT_EQ(t.nodes[0].position.z, 3.0f);
    // Exactly the last level is leaves.
    for (int i = 0; i < t.nodeCount; ++i)
        ASSERT_EQ(t.nodes[i].isLeaf, i >= 1093) << i;

    // Rebuilding replaces the nodes; depth 0 is a lone root that draws nothing.
    buildTree(t, 2, 0, 0.1f, 0.8f, 0.5f, 0.2f);
    EXPECT_EQ(t.nodeCount, 1);
    EXPECT_EQ(t.nodes[0].direction.y, 22.0f);
    EXPECT_TRUE(t.nodes[0].isLeaf);
    Image canvas(64, 64);
    std::vector<std::uint32_t> before(canvas.pixels, canvas.pixels + 64 * 64);
    t.draw(canvas, treeCamera(0.3f), 0xFFFFFF);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), canvas.pixels));

    // Parameters the counting formula cannot take give a lone leaf too.
    for (const int branching : {1, 3, 17}) {
        buildTree(t, branching, branching == 3 ? 40 : 5, 0.0f, 1.0f, 0.5f, 0.0f);
        EXPECT_EQ(t.nodeCount, 1) << branching;
        EXPECT_TRUE(t.nodes[0].isLeaf) << branching;
    }
}

TEST(BranchTree, MiddleChildGoesStraightAndNoSpreadPointsAllOneWay)
{
    BranchTree t;
    buildTree(t, 3, 3, 0.2f, 0.8f, 0.6f, 0.15f);
    for (int p = 0; p < 13; ++p) {
        const BranchNode& parent = t.nodes[p];
        const BranchNode& middle = t.nodes[3 * p + 2];
        EXPECT_NEAR(middle.direction.x, parent.direction.x * 0.8f, 1e-4f) << p;
        EXPECT_NEAR(middle.direction.y, parent.direction.y * 0.8f, 1e-4f) << p;
        EXPECT_NEAR(middle.direction.z, parent.direction.z * 0.8f, 1e-4f) << p;
        // The outer two are bent to either side by the same angle.
        const BranchNode& first = t.nodes[3 * p + 1];
        const BranchNode& last = t.nodes[3 * p + 3];
        const double cosFirst = first.direction.dot(parent.direction) / (first.direction.length() * parent.direction.length());
        const double cosLast = last.direction.dot(parent.direction) / (last.direction.length() * parent.direction.length());
        EXPECT_NEAR(cosFirst, cosLast, 1e-5) << p;
        EXPECT_LT(cosFirst, 0.99) << p;
        EXPECT_NEAR(first.direction.length() / last.direction.length(), 0.9 / 1.1, 1e-5) << p;
        // The twist turns the axis about the parent's direction, keeping it square to it.
        EXPECT_NEAR(middle.axis.dot(parent.direction), parent.axis.dot(parent.direction), 1e-3) << p;
        EXPECT_GT((middle.axis - parent.axis).length(), 0.5f) << p;
    }

    buildTree(t, 3, 2, 0.3f, 0.7f, 0.0f, 0.3f);
    for (int p = 0; p < 4; ++p)
        for (int k = 1; k <= 3; ++k) {
            const Vector3 d = t.nodes[3 * p + k].direction.normalised();
            const Vector3 u = t.nodes[p].direction.normalised();
            EXPECT_NEAR(d.dot(u), 1.0, 1e-6) << p << " " << k;
        }
}

TEST(BranchTree, GrowMatchesTheDirectRuleBitForBit)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int trial = 0; trial < 12; ++trial) {
        const int branching = 2 + trial % 3;
        const int depth = branching == 4 ? 4 : 6;
        BranchTree fast, plain;
        resetProgramRand();
        buildTree(fast, branching, depth, 0.3f * unit(random) - 0.15f, 0.6f + 0.3f * unit(random),
                  unit(random), 3.0f * unit(random) - 1.5f);
        resetProgramRand();
        buildTree(plain, branching, depth, fast.lengthSkew, fast.lengthRatio, fast.spread, fast.twist);
        // A frame's new spread and twist, grown over the previous shape.
        fast.spread = plain.spread = 0.8f * unit(random);
        fast.twist = plain.twist = unit(random) - 0.5f;
        fast.grow(0, depth);
        growReference(plain, 0, depth);
        for (int i = 0; i < fast.nodeCount; ++i)
            ASSERT_TRUE(sameNode(fast.nodes[i], plain.nodes[i])) << "trial " << trial << " node " << i;

        // Regrown for drawing only: the positions, the marks and the
        // branches' directions are those of the full growth.
        BranchTree drawn;
        resetProgramRand();
        buildTree(drawn, branching, depth, fast.lengthSkew, fast.lengthRatio, fast.spread, fast.twist);
        drawn.spread = fast.spread;
        drawn.twist = fast.twist;
        drawn.growForDrawing(0, depth);
        for (int i = 0; i < fast.nodeCount; ++i) {
            const BranchNode& a = drawn.nodes[i];
            const BranchNode& b = fast.nodes[i];
            ASSERT_EQ(a.isLeaf, b.isLeaf) << i;
            ASSERT_EQ(std::memcmp(&a.position, &b.position, sizeof(Vector3)), 0) << i;
            if (!b.isLeaf) {
                ASSERT_EQ(std::memcmp(&a.direction, &b.direction, sizeof(Vector3)), 0) << i;
            }
        }

        // Part of the tree from an inner node, fewer levels.
        fast.spread = plain.spread = 0.3f;
        fast.grow(2, 2);
        growReference(plain, 2, 2);
        for (int i = 0; i < fast.nodeCount; ++i)
            ASSERT_TRUE(sameNode(fast.nodes[i], plain.nodes[i])) << "trial " << trial << " node " << i;
    }
}

TEST(BranchTree, GrowKeepsTheRootAndDoesNotDependOnTheOldNodes)
{
    BranchTree t;
    buildTree(t, 3, 6, 0.1f, 0.8f, 0.5f, 0.2f);
    t.nodes[0].position = Vector3(4.0f, -3.0f, 2.0f);
    t.nodes[0].axis = Vector3(0.3f, 0.0f, 1.0f);
    const BranchNode root = t.nodes[0];
    t.spread = 0.7f;
    t.grow(0, 6);
    std::vector<BranchNode> once(t.nodes, t.nodes + t.nodeCount);
    for (int i = 1; i < t.nodeCount; ++i)
        t.nodes[i] = BranchNode{Vector3(9, 9, 9), Vector3(-1, 5, 2), Vector3(7, 0, 0), i % 2 == 0};
    t.grow(0, 6);
    EXPECT_TRUE(sameNode(t.nodes[0], root));
    for (int i = 0; i < t.nodeCount; ++i)
        ASSERT_TRUE(sameNode(t.nodes[i], once[i])) << i;

    // More levels than the array holds: the last level stays leaves and
    // nothing is written past the end (the sanitiser build checks).
    t.grow(0, 9);
    for (int i = 0; i < t.nodeCount; ++i)
        ASSERT_TRUE(sameNode(t.nodes[i], once[i])) << i;
    // A parent outside the tree changes nothing.
    t.grow(t.nodeCount, 2);
    t.grow(-1, 2);
    for (int i = 0; i < t.nodeCount; ++i)
        ASSERT_TRUE(sameNode(t.nodes[i], once[i])) << i;
}

TEST(BranchTree, DrawsEachBranchAsTwoLinesOneColumnApart)
{
    BranchTree t;
    buildTree(t, 3, 5, 0.1f, 0.85f, 0.45f, 0.25f);
    // Whole trees, trees across every edge, and a clip rectangle inside the image.
    const float centres[][2] = {{300, 250}, {10, 300}, {630, 250}, {320, 90}, {250, 400}};
    for (int view = 0; view < 6; ++view) {
        Camera camera = treeCamera(1.1f + view);
        camera.setViewport(centres[view % 5][0], centres[view % 5][1], 320.0f, 160.0f);
        Image drawn(640, 320), expected(640, 320);
        if (view == 5) {
            for (Image* image : {&drawn, &expected}) {
                image->clipLeft = 200.5f;
                image->clipTop = 100.0f;
                image->clipRight = 420.0f;
                image->clipBottom = 230.25f;
            }
        }
        std::fill_n(drawn.pixels, 640 * 320, 0x00102030u);
        std::fill_n(expected.pixels, 640 * 320, 0x00102030u);
        t.draw(drawn, camera, 0x5E4E3E);
        int branches = 0;
        for (int i = 0; i < t.nodeCount; ++i) {
            const BranchNode& n = t.nodes[i];
            if (n.isLeaf)
                continue;
            ++branches;
            const Vector3 a = camera.project(transformPoint(camera.viewMatrix, n.position));
            const Vector3 b = camera.project(transformPoint(camera.viewMatrix, n.position + n.direction));
            drawLineAA(expected, a.x, a.y, b.x, b.y, 0x5E4E3E);
            drawLineAA(expected, a.x + 1.0f, a.y, b.x + 1.0f, b.y, 0x5E4E3E);
        }
        EXPECT_EQ(branches, 121);
        EXPECT_TRUE(std::equal(drawn.pixels, drawn.pixels + 640 * 320, expected.pixels)) << "view " << view;
        EXPECT_GT(std::count_if(drawn.pixels, drawn.pixels + 640 * 320, [](std::uint32_t p) { return p != 0x00102030u; }),
                  50) << "view " << view;
    }
}
