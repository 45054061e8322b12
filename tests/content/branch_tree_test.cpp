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
    EXPECT_EQ(branchNodeCount(3, 40), 0);  // far beyond what an int counts

    // The first two values are 41 and 18467: roots of 16 and 22 units.
    resetProgramRand();
    BranchTree t;
    buildTree(t, 3, 7, 0.1f, 0.8f, 0.5f, 0.2f);
    EXPECT_EQ(t.nodes[0].direction.y, 16.0f);
    for (int i = 0; i < t.nodeCount; ++i)
        ASSERT_EQ(t.nodes[i].isLeaf, i >= 1093) << i;

    // Rebuilt with depth 0: a lone root leaf that draws nothing. So are
    // parameters the count cannot take.
    buildTree(t, 2, 0, 0.1f, 0.8f, 0.5f, 0.2f);
    EXPECT_EQ(t.nodes[0].direction.y, 22.0f);
    Image canvas(64, 64);
    std::fill_n(canvas.pixels, 64 * 64, 0u);
    t.draw(canvas, treeCamera(0.3f), 0xFFFFFF);
    EXPECT_EQ(std::count(canvas.pixels, canvas.pixels + 64 * 64, 0u), 64 * 64);
    for (const int depth : {0, 40})
        for (const int branching : {1, 3, 17}) {
            buildTree(t, branching, depth, 0.0f, 1.0f, 0.5f, 0.0f);
            EXPECT_TRUE(t.nodeCount == 1 && t.nodes[0].isLeaf) << branching << " " << depth;
        }
}

TEST(BranchTree, MiddleChildGoesStraightAndNoSpreadPointsAllOneWay)
{
    BranchTree t;
    buildTree(t, 3, 3, 0.2f, 0.8f, 0.6f, 0.15f);
    for (int p = 0; p < 13; ++p) {
        const BranchNode& parent = t.nodes[p];
        const BranchNode& first = t.nodes[3 * p + 1];
        const BranchNode& middle = t.nodes[3 * p + 2];
        const BranchNode& last = t.nodes[3 * p + 3];
        EXPECT_LT((middle.direction - parent.direction * 0.8f).length(), 1e-4f) << p;
        // The outer two bend to either side, 0.9 and 1.1 times as long; the
        // axis turns about the parent's direction.
        EXPECT_NEAR(first.direction.dot(parent.direction) / first.direction.length(),
                    last.direction.dot(parent.direction) / last.direction.length(), 1e-4) << p;
        EXPECT_NEAR(first.direction.length() / last.direction.length(), 0.9 / 1.1, 1e-5) << p;
        EXPECT_NEAR(middle.axis.dot(parent.direction), parent.axis.dot(parent.direction), 1e-3) << p;
        EXPECT_GT((middle.axis - parent.axis).length(), 0.5f) << p;
    }

    buildTree(t, 3, 2, 0.3f, 0.7f, 0.0f, 0.3f);
    for (int c = 1; c < 13; ++c) {
        const double along = t.nodes[c].direction.normalised().dot(t.nodes[(c - 1) / 3].direction.normalised());
        EXPECT_NEAR(along, 1.0, 1e-6) << c;
    }
}

TEST(BranchTree, GrowMatchesTheDirectRuleBitForBit)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int trial = 0; trial < 12; ++trial) {
        const int branching = 2 + trial % 3;
        const int depth = branching == 4 ? 4 : 6;
        BranchTree fast, plain, drawn;
        for (BranchTree* t : {&fast, &plain, &drawn}) {
            resetProgramRand();
            buildTree(*t, branching, depth, 0.1f * trial - 0.5f, 0.8f, 0.5f, 0.3f * trial - 1.5f);
        }
        // A frame's new spread and twist, grown over the previous shape.
        const float spread = 0.8f * unit(random), twist = unit(random) - 0.5f;
        for (BranchTree* t : {&fast, &plain, &drawn}) {
            t->spread = spread;
            t->twist = twist;
        }
        fast.grow(0, depth);
        growReference(plain, 0, depth);
        drawn.growForDrawing(0, depth);
        for (int i = 0; i < fast.nodeCount; ++i) {
            ASSERT_TRUE(sameNode(fast.nodes[i], plain.nodes[i])) << "trial " << trial << " node " << i;
            // Drawing needs the positions, the marks and the branches' directions.
            const BranchNode& d = drawn.nodes[i];
            ASSERT_EQ(d.isLeaf, fast.nodes[i].isLeaf) << i;
            ASSERT_EQ(std::memcmp(&d.position, &fast.nodes[i].position, sizeof(Vector3)), 0) << i;
            ASSERT_TRUE(d.isLeaf || std::memcmp(&d.direction, &fast.nodes[i].direction, sizeof(Vector3)) == 0) << i;
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
    t.nodes[0].axis = Vector3(0.3f, 0.0f, 1.0f);
    t.grow(0, 6);
    const std::vector<BranchNode> once(t.nodes, t.nodes + t.nodeCount);
    for (int i = 1; i < t.nodeCount; ++i)
        t.nodes[i] = BranchNode{Vector3(9, 9, 9), Vector3(-1, 5, 2), Vector3(7, 0, 0), i % 2 == 0};
    t.grow(0, 6);
    // More levels than the array holds, and parents outside the tree, change
    // nothing and write nothing past the end (the sanitiser build checks).
    t.grow(0, 9);
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
    const float centres[][2] = {{300, 250}, {10, 300}, {630, 250}, {320, 90}, {250, 400}, {300, 250}};
    for (int view = 0; view < 6; ++view) {
        Camera camera = treeCamera(1.1f + view);
        camera.setViewport(centres[view][0], centres[view][1], 320.0f, 160.0f);
        Image drawn(640, 320), expected(640, 320);
        for (Image* image : {&drawn, &expected}) {
            std::fill_n(image->pixels, 640 * 320, 0x00102030u);
            if (view == 5) {
                image->clipLeft = 200.5f;
                image->clipTop = 100.0f;
                image->clipRight = 420.0f;
                image->clipBottom = 230.25f;
            }
        }
        t.draw(drawn, camera, 0x5E4E3E);
        for (int i = 0; i < t.nodeCount; ++i) {
            const BranchNode& n = t.nodes[i];
            const Vector3 a = camera.project(transformPoint(camera.viewMatrix, n.position));
            const Vector3 b = camera.project(transformPoint(camera.viewMatrix, n.position + n.direction));
            if (!n.isLeaf) {
                drawLineAA(expected, a.x, a.y, b.x, b.y, 0x5E4E3E);
                drawLineAA(expected, a.x + 1.0f, a.y, b.x + 1.0f, b.y, 0x5E4E3E);
            }
        }
        EXPECT_TRUE(std::equal(drawn.pixels, drawn.pixels + 640 * 320, expected.pixels)) << "view " << view;
        EXPECT_GT(640 * 320 - std::count(drawn.pixels, drawn.pixels + 640 * 320, 0x00102030u), 50) << view;
    }
}
