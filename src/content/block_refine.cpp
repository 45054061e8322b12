// The adaptive refinement of blocks of pixels between traced corners, and
// the interpolated fill of the blocks that need no more rays.
#include "content/sphere_tracer.hpp"

#include "image/simd.hpp"

#include <algorithm>
#include <cmath>

namespace {

std::uint32_t* pixelAt(Image& image, int x, int y)
{
    return image.row(y) + x;
}

Colour average(Colour a, Colour b)
{
    return ((a & 0xFEFEFEu) + (b & 0xFEFEFEu)) >> 1;
}

// corner + offset: a copy of the corner's record with the offset added to
// its direction, waiting to be traced with the block's masks. Written in
// place, field by field; the colour is left out, as tracing always writes
// it (a ray that misses keeps the rest).
void startSample(TraceSample& s, const TraceSample& corner, const Vector3& offset)
{
    s.hitMask = corner.hitMask;
    s.lightMask = corner.lightMask;
    s.origin = corner.origin;
    s.direction = corner.direction + offset;
    s.sphere = -2;
    s.t = corner.t;
    s.hit = corner.hit;
    s.normal = corner.normal;
}

} // namespace

namespace {

void fillFromColours(Image& image, int x, int y, int level, const float* tl, const float* tr, const float* bl,
                     const float* br)
{
    const int size = 1 << level;
    const double k = 255.0 * size;
    // Each channel's running values in the lanes (blue, green, red, 0), the
    // order in which packing them to bytes lays out a pixel.
    int left[4] = {}, leftStep[4] = {}, right[4] = {}, rightStep[4] = {};
    for (int ch = 0; ch < 3; ++ch) {
        left[2 - ch] = static_cast<int>(k * tl[ch]);
        leftStep[2 - ch] = static_cast<int>(255.0 * bl[ch] - 255.0 * tl[ch]);
        right[2 - ch] = static_cast<int>(k * tr[ch]);
        rightStep[2 - ch] = static_cast<int>(255.0 * br[ch] - 255.0 * tr[ch]);
    }
    const auto load = [](const int* v) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(v)); };
    __m128i l = load(left), r = load(right);
    const __m128i lStep = load(leftStep), rStep = load(rightStep);
    const __m128i up = _mm_cvtsi32_si128(level), down = _mm_cvtsi32_si128(2 * level);
    // A row's value and step stay below 255 x size x size, and every
    // channel's value within 0 .. 255 after the shift, so packing clamps
    // nothing.
    const auto pixel = [&](__m128i v) {
        const __m128i c = _mm_sra_epi32(v, down);
        return static_cast<Colour>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(c, c), c)));
    };
    for (int row = 0; row < size; ++row) {
        std::uint32_t* p = pixelAt(image, x, y + row);
        const __m128i step = _mm_sub_epi32(r, l);
        __m128i v = _mm_sll_epi32(l, up);
        if (size < 4) {
            for (int i = 0; i < size; ++i, v = _mm_add_epi32(v, step))
                p[i] = pixel(v);
        } else {
            // Four pixels at a time.
            const __m128i step2 = _mm_add_epi32(step, step), step4 = _mm_add_epi32(step2, step2);
            __m128i v0 = v, v1 = _mm_add_epi32(v, step), v2 = _mm_add_epi32(v, step2),
                    v3 = _mm_add_epi32(v1, step2);
            for (int i = 0; i < size; i += 4) {
                const __m128i low = _mm_packs_epi32(_mm_sra_epi32(v0, down), _mm_sra_epi32(v1, down));
                const __m128i high = _mm_packs_epi32(_mm_sra_epi32(v2, down), _mm_sra_epi32(v3, down));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(low, high));
                v0 = _mm_add_epi32(v0, step4);
                v1 = _mm_add_epi32(v1, step4);
                v2 = _mm_add_epi32(v2, step4);
                v3 = _mm_add_epi32(v3, step4);
            }
        }
        l = _mm_add_epi32(l, lStep);
        r = _mm_add_epi32(r, rStep);
    }
}

} // namespace

void fillBlock(Image& image, int x, int y, int level, const TraceSample corners[4])
{
    fillFromColours(image, x, y, level, &corners[0].colour.red, &corners[1].colour.red, &corners[2].colour.red,
                    &corners[3].colour.red);
}

namespace {

// Blocks of one level are refined side by side, so that the rays they need
// at each step can be traced two at a time. Which rays a block traces, and
// with which masks, does not depend on the other blocks: the pictures are
// those of refining one block after another.
enum Edge { top, left, right, bottom };
// The corner each edge's midpoint ray starts from.
constexpr int edgeCorner[4] = {0, 0, 1, 2};

struct Block {
    int x, y;
    const TraceSample* c[4];  // top-left, top-right, bottom-left, bottom-right
    std::uint32_t m, lm;
    bool uniform;
    bool refined;
    int pass;  // which pass of the level asked for the edge midpoints; 0 none
    // Level 1: right, down and across in edge[right], edge[bottom] and q;
    // larger blocks: the centre and the midpoints of the edges.
    TraceSample q, edge[4];
};

constexpr int maxBlocks = 64;
static_assert(5 * maxBlocks <= maxTraceRequests, "a level of blocks traces at most five rays each");

// Only the position and the corners: the samples are written before use.
void place(Block& b, int x, int y, const TraceSample* tl, const TraceSample* tr, const TraceSample* bl,
           const TraceSample* br)
{
    b.x = x;
    b.y = y;
    b.c[0] = tl;
    b.c[1] = tr;
    b.c[2] = bl;
    b.c[3] = br;
}

void refineGroup(Image& image, Block* blocks, int count, int level, const Vector3& dx, const Vector3& dy,
                 const Colour* clear);

// A sample that is a copy of another once that is traced.
struct Borrowed {
    TraceSample* to;
    const TraceSample* from;
};

// Where in a group the neighbour across each edge may lie: the next
// quarter of the same parent, or the facing quarter of the parent beside it
// (blocks of the top level lie in a row).
constexpr int neighbourAt[4][2] = {{-2, -2}, {-1, -3}, {1, 3}, {2, 2}};

// Asks for the midpoints of the edges of blocks[i]. Neighbouring blocks
// start the midpoint of their common edge from the same corner sample with
// the same offset: with the same masks it is the same ray, so a neighbour
// that already asked for it lends it instead of its being traced twice.
// In the first pass only a neighbour before this block can have asked.
inline void askForEdges(Block* blocks, int count, int i, int pass, const Vector3& hx, const Vector3& hy,
                        TraceRequest* rays, int& pending, Borrowed* borrowed, int& borrowedCount)
{
    Block& b = blocks[i];
    b.pass = pass;
    for (int e = 0; e < 4; ++e) {
        const TraceSample* corner = b.c[edgeCorner[e]];
        const TraceSample* from = nullptr;
        if (pass == 2 || e == top || e == left)
            for (const int offset : neighbourAt[e]) {
                const int j = i + offset;
                if (j < 0 || j >= count)
                    continue;
                const Block& n = blocks[j];
                if (n.c[edgeCorner[3 - e]] == corner && n.pass != 0 && n.m == b.m && n.lm == b.lm) {
                    from = &n.edge[3 - e];
                    break;
                }
            }
        if (from) {
            borrowed[borrowedCount++] = {&b.edge[e], from};
        } else {
            startSample(b.edge[e], *corner, e == top || e == bottom ? hx : hy);
            rays[pending++] = {&b.edge[e], b.m, b.lm};
        }
    }
}

// Traces the rays asked for, then hands out the borrowed samples in the
// order they were asked for (a lent sample may itself be borrowed).
void traceAndLend(const TraceRequest* rays, int pending, const Borrowed* borrowed, int borrowedCount)
{
    if (pending > 0)
        traceRequests(rays, pending);
    for (int k = 0; k < borrowedCount; ++k)
        *borrowed[k].to = *borrowed[k].from;
}

void classify(Block& b)
{
    const TraceSample& tl = *b.c[0];
    const TraceSample& tr = *b.c[1];
    const TraceSample& bl = *b.c[2];
    const TraceSample& br = *b.c[3];
    b.m = tl.hitMask | tr.hitMask | bl.hitMask | br.hitMask;
    b.lm = tl.lightMask | tr.lightMask | bl.lightMask | br.lightMask;
    b.uniform = (tl.hitMask & tr.hitMask & bl.hitMask & br.hitMask) != 0 && tl.lightMask == tr.lightMask &&
                tl.lightMask == bl.lightMask && tl.lightMask == br.lightMask;
}

// The 2^level square at (x, y) in one colour; the usual sizes unrolled.
template <int Size>
void fillRows(std::uint8_t* p, int pitch, __m128i c)
{
    for (int row = 0; row < Size; ++row, p += pitch)
        for (int i = 0; i < 4 * Size; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), c);
}

void fillSquare(Image& image, int x, int y, int level, Colour colour)
{
    const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
    auto* p = reinterpret_cast<std::uint8_t*>(pixelAt(image, x, y));
    switch (level) {
    case 1:
        for (int row = 0; row < 2; ++row)
            pixelAt(image, x, y + row)[0] = pixelAt(image, x, y + row)[1] = colour;
        return;
    case 2:
        fillRows<4>(p, image.pitch, c);
        return;
    case 3:
        fillRows<8>(p, image.pitch, c);
        return;
    default:
        for (int row = 0; row < 1 << level; ++row)
            std::fill_n(pixelAt(image, x, y + row), 1 << level, colour);
    }
}

void drawSmallBlocks(Image& image, Block* blocks, int count, const Vector3& dx, const Vector3& dy, const Colour* clear)
{
    const Vector3 hx = dx * 0.5f, hy = dy * 0.5f, hxy = hx + hy;
    TraceRequest rays[3 * maxBlocks];
    int pending = 0;
    for (int i = 0; i < count; ++i) {
        Block& b = blocks[i];
        if (b.m == 0 || b.uniform)
            continue;
        startSample(b.edge[right], *b.c[0], hx);
        startSample(b.edge[bottom], *b.c[0], hy);
        startSample(b.q, *b.c[0], hxy);
        rays[pending++] = {&b.edge[right], b.m, b.lm};
        rays[pending++] = {&b.edge[bottom], b.m, b.lm};
        rays[pending++] = {&b.q, b.m, b.lm};
    }
    if (pending > 0)
        traceRequests(rays, pending);
    for (int i = 0; i < count; ++i) {
        const Block& b = blocks[i];
        if (b.m == 0) {
            if (clear)
                fillSquare(image, b.x, b.y, 1, *clear);
            continue;
        }
        std::uint32_t* upper = pixelAt(image, b.x, b.y);
        std::uint32_t* lower = pixelAt(image, b.x, b.y + 1);
        const Colour first = packColour(b.c[0]->colour);
        upper[0] = first;
        if (b.uniform) {
            upper[1] = average(first, packColour(b.c[1]->colour));
            lower[0] = average(first, packColour(b.c[2]->colour));
            lower[1] = average(first, packColour(b.c[3]->colour));
        } else {
            upper[1] = packColour(b.edge[right].colour);
            lower[0] = packColour(b.edge[bottom].colour);
            lower[1] = packColour(b.q.colour);
        }
    }
}

void refineGroup(Image& image, Block* blocks, int count, int level, const Vector3& dx, const Vector3& dy,
                 const Colour* clear)
{
    for (int i = 0; i < count; ++i)
        classify(blocks[i]);
    if (level == 1) {
        drawSmallBlocks(image, blocks, count, dx, dy, clear);
        return;
    }
    const Vector3 hx = dx * 0.5f, hy = dy * 0.5f, hxy = hx + hy;
    TraceRequest rays[5 * maxBlocks];
    Borrowed borrowed[4 * maxBlocks];
    int borrowedCount = 0;
    for (int i = 0; i < count; ++i)
        blocks[i].pass = 0;

    // The centre decides whether a uniform block is filled; the midpoints
    // are needed when it is not. A mixed block needs all five at once.
    int pending = 0;
    for (int i = 0; i < count; ++i) {
        Block& b = blocks[i];
        b.refined = false;
        if (b.m == 0) {
            if (clear)
                fillSquare(image, b.x, b.y, level, *clear);
            continue;
        }
        startSample(b.q, *b.c[0], hxy);
        rays[pending++] = {&b.q, b.m, b.lm};
        if (!b.uniform)
            askForEdges(blocks, count, i, 1, hx, hy, rays, pending, borrowed, borrowedCount);
    }
    traceAndLend(rays, pending, borrowed, borrowedCount);

    pending = borrowedCount = 0;
    for (int i = 0; i < count; ++i) {
        Block& b = blocks[i];
        if (b.m == 0)
            continue;
        b.refined = true;
        if (!b.uniform)
            continue;
        const TraceSample& tl = *b.c[0];
        const TraceSample& tr = *b.c[1];
        const TraceSample& bl = *b.c[2];
        const TraceSample& br = *b.c[3];
        if (std::fabs((static_cast<double>(tl.colour.green) + br.colour.green) / 2 - b.q.colour.green) <= 0.02 &&
            std::fabs((static_cast<double>(tr.colour.blue) + bl.colour.blue) / 2 - b.q.colour.blue) <= 0.02) {
            fillFromColours(image, b.x, b.y, level, &tl.colour.red, &tr.colour.red, &bl.colour.red, &br.colour.red);
            b.refined = false;
            continue;
        }
        askForEdges(blocks, count, i, 2, hx, hy, rays, pending, borrowed, borrowedCount);
    }
    traceAndLend(rays, pending, borrowed, borrowedCount);

    // The quarters of every refined block, at most maxBlocks at a time.
    const int h = 1 << (level - 1);
    Block quarters[maxBlocks];
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const Block& b = blocks[i];
        if (!b.refined)
            continue;
        const TraceSample* e = b.edge;
        place(quarters[n++], b.x, b.y, b.c[0], &e[top], &e[left], &b.q);
        place(quarters[n++], b.x + h, b.y, &e[top], b.c[1], &b.q, &e[right]);
        place(quarters[n++], b.x, b.y + h, &e[left], &b.q, b.c[2], &e[bottom]);
        place(quarters[n++], b.x + h, b.y + h, &b.q, &e[right], &e[bottom], b.c[3]);
        if (n == maxBlocks) {
            refineGroup(image, quarters, n, level - 1, hx, hy, clear);
            n = 0;
        }
    }
    if (n)
        refineGroup(image, quarters, n, level - 1, hx, hy, clear);
}

} // namespace

void subdivideBlocks(Image& image, const BlockCorners* blocks, int count, int level, Vector3 dx, Vector3 dy,
                     const Colour* clear)
{
    Block group[maxBlocks];
    for (int start = 0; start < count; start += maxBlocks) {
        const int n = std::min(maxBlocks, count - start);
        for (int i = 0; i < n; ++i) {
            const BlockCorners& b = blocks[start + i];
            place(group[i], b.x, b.y, b.corners[0], b.corners[1], b.corners[2], b.corners[3]);
        }
        refineGroup(image, group, n, level, dx, dy, clear);
    }
}

void subdivideBlock(Image& image, int x, int y, int level, const TraceSample corners[4], Vector3 dx, Vector3 dy)
{
    const BlockCorners block{x, y, {&corners[0], &corners[1], &corners[2], &corners[3]}};
    subdivideBlocks(image, &block, 1, level, dx, dy);
}
