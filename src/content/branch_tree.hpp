// A tree of line segments grown from one root segment: every segment spawns
// `branching` children at its tip, bent apart about a bending axis, twisted
// about the parent's direction and shortened. The trees are built once and
// regrown in place every frame with a new spread and twist.
#pragma once

#include "engine/camera.hpp"
#include "engine/math.hpp"
#include "image/image.hpp"

struct BranchNode {
    Vector3 position;   // start point, tree space
    Vector3 direction;  // segment vector: the tip is position + direction
    Vector3 axis;       // the children are spread about this axis
    bool isLeaf;        // last level: no children, not drawn
};

// Widest fan a tree takes; the per-child constants of a grow live on the stack.
inline constexpr int maxBranching = 16;
// Most nodes a tree takes (the scene's largest has 3280).
inline constexpr int maxBranchNodes = 1 << 22;

// Node count of a complete tree: (branching^(depth + 1) - 1) / (branching - 1),
// with a floating-point power, truncated. 0 when branching < 2, depth < 0
// or the count is over maxBranchNodes.
int branchNodeCount(int branching, int depth);

struct BranchTree {
    BranchNode* nodes = nullptr;  // owned; root 0, children of p at branching·p + 1 ..
    int nodeCount = 0;
    Vector3 rootPosition = Vector3::zero;
    int depth = 0;          // levels below the root
    int branching = 2;      // children per node, 2 .. maxBranching
    float lengthSkew = 0.0f;   // first to last child length difference, relative
    float lengthRatio = 1.0f;  // middle child length / parent length
    float spread = 0.0f;    // fan width about the bending axis, in turns
    float twist = 0.0f;     // bending axis turn about the parent per level, in turns
    float screenX = 0.0f, screenY = 0.0f;  // where the scene centres this tree

    BranchTree() = default;
    ~BranchTree() { delete[] nodes; }
    BranchTree(const BranchTree&) = delete;
    BranchTree& operator=(const BranchTree&) = delete;

    // Frees the previous nodes, allocates nodeCount nodes, sets the root
    // (15 to 24 units straight up, from one programRand() value) and grows
    // every level. A branching outside 2 .. maxBranching, a negative depth
    // or too many nodes gives a lone root leaf.
    void build();
    // Recomputes the descendants of node `parent`, `levels` deep, in place
    // and without allocating; the parent itself is left as it is. A node
    // whose children would lie past the last node becomes a leaf.
    void grow(int parent, int levels);
    // As grow, but only what drawing needs: every position and mark and the
    // direction of every branch. The leaves' directions and axes, and the
    // axes of the branches whose children are leaves, keep what they held.
    // Most nodes are leaves, so this is the scene's every-frame regrowth.
    void growForDrawing(int parent, int levels);
    // Every node that is not a leaf as a two-pixel-wide anti-aliased stroke,
    // projected with the camera (no test of depth).
    void draw(Image& target, const Camera& camera, Colour colour) const;

private:
    void growLevels(int parent, int levels, bool leafShapes);
};
