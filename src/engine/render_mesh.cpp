#include "engine/render_mesh.hpp"

#include "engine/clipper.hpp"
#include "engine/corner_rows.hpp"
#include "engine/face_sort.hpp"
#include "engine/rasterizer.hpp"
#include "engine/render_mesh_wide.hpp"
#include "engine/wide_fill.hpp"
#include "image/wide.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include "image/simd.hpp"
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// View-space vertex positions, padded so that one vertex loads at once.
struct alignas(16) ViewPoint {
    float x, y, z, unused;
};
ViewPoint viewVertices[renderVertexCapacity];
VisibleFace visibleFaces[renderFaceCapacity];
VisibleFace sortBuffer[renderFaceCapacity];
ClipVertex clipWork[clipCapacity];
RasterPolygon polygon;
SpanWriter currentWriter = spanGouraud;

float channel(Colour c, int shift)
{
    return static_cast<float>((c >> shift) & 0xFF);
}

void reportOnce(bool& reported, const char* what, int count, int capacity)
{
    if (reported)
        return;
    reported = true;
    std::fprintf(stderr, "renderMesh: mesh not drawn: %d %s exceed the work storage of %d\n", count, what, capacity);
}

struct ScreenPoint {
    float x, y;
};

ScreenPoint toScreen(const Camera& camera, const ClipVertex& v)
{
    const float w = static_cast<float>(1.0 / static_cast<double>(v.z));
    return {static_cast<float>(static_cast<double>(v.x) * w * camera.scaleX + camera.centerX),
            static_cast<float>(camera.centerY - static_cast<double>(v.y) * w * camera.scaleY)};
}

// a.normalised() and b.normalised() with the two square roots and the two
// reciprocals each done as one packed pair (the same roundings per lane).
void normalisePair(const Vector3& a, const Vector3& b, Vector3& na, Vector3& nb)
{
    const __m128d squares = _mm_setr_pd(a.dot(a), b.dot(b));
    // length() is a float: round the roots to float and back.
    const __m128d lengths = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_sqrt_pd(squares)));
    alignas(16) double r[2];
    _mm_store_pd(r, _mm_div_pd(_mm_set1_pd(1.0), lengths));
    na = Vector3(static_cast<float>(a.x * r[0]), static_cast<float>(a.y * r[0]), static_cast<float>(a.z * r[0]));
    nb = Vector3(static_cast<float>(b.x * r[1]), static_cast<float>(b.y * r[1]), static_cast<float>(b.z * r[1]));
}

// Per call: the VertexWork of every vertex of a face drawn, worked out
// before the faces are lit and set up.
VertexWork vertexWork[renderVertexCapacity];
std::uint32_t directionStamp[renderVertexCapacity];  // == currentStamp when vertexWork holds
std::uint32_t currentStamp = 0;
std::int32_t pendingVertices[renderVertexCapacity];  // the vertices to work out, each once

void workOutVertex(VertexWork& work, const ViewPoint& view, const Vector3& lv, const Camera& camera)
{
    const Vector3 p(view.x, view.y, view.z);
    const ClipVertex corner{p.x, p.y, p.z, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    normalisePair(p - lv, p, work.fromLight, work.fromEye);
    const ScreenPoint s = toScreen(camera, corner);
    work.screenX = s.x;
    work.screenY = s.y;
    work.outside = outsidePlanes(corner);
}

bool sameBits(const Vector3& a, const Vector3& b)
{
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
}

// A small mesh (a box) often lies wholly outside the view. When the first
// plane of the view that any vertex lies outside has every vertex outside
// it, each triangle meets that plane first too and the clipper drops it:
// nothing is drawn, and the faces need not be culled, lit or set up.
constexpr int smallMesh = 64;

// The unit view normals of the faces of the last small mesh culled with
// the wide forms, the face normals and the directions they came from.
constexpr int keptFaces = 16;
struct KeptNormals {
    int count = -1;  // none kept
    float directions[9];
    Vector3 source[keptFaces];
    UnitNormal unit[keptFaces];
};
KeptNormals kept;

// 0, 1, 2, ...: the vertex list of a whole mesh.
constexpr std::array<std::int32_t, renderVertexCapacity> everyVertex = [] {
    std::array<std::int32_t, renderVertexCapacity> list{};
    for (int i = 0; i < renderVertexCapacity; ++i)
        list[i] = i;
    return list;
}();

bool wholeMeshClippedAway(int count)
{
    unsigned some = 0, all = ~0u;
    for (int i = 0; i < count; ++i) {
        const ViewPoint& p = viewVertices[i];
        const unsigned out = outsidePlanes({p.x, p.y, p.z, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f});
        some |= out;
        all &= out;
    }
    return some != 0 && (all >> std::countr_zero(some) & 1u) != 0;
}

struct Colours {
    double diffuse[3];   // red, green, blue
    double specular[3];
};

Colours coloursOf(Colour diffuse, Colour specular)
{
    return {{channel(diffuse, 16), channel(diffuse, 8), channel(diffuse, 0)},
            {channel(specular, 16), channel(specular, 8), channel(specular, 0)}};
}

// Lights four corners, given component by component: the face normals
// (n), the unit directions from the light toward the corners (l) and from
// the eye toward them (v). Floats where the lighting rounds to float (four
// lanes at once), otherwise two pairs of packed doubles, with the same
// operations in the same order as for one vertex, so each lane gets the
// bits the scalar code would give. Each step is taken for both pairs before
// the next, so that the two long chains of roots and divisions run side by
// side. Writes red, green and blue to lit.
void shadeFour(const __m128 n[3], const __m128 l[3], const __m128 v[3], const Colours& colours, __m128 lit[3])
{
    const auto both = [](auto step) {
        step(0);
        step(1);
    };
    // The low or the high two floats of v as doubles.
    const auto half = [](__m128 v, int h) { return _mm_cvtps_pd(h == 0 ? v : _mm_movehl_ps(v, v)); };
    const auto dot = [](__m128d x0, __m128d y0, __m128d z0, __m128d x1, __m128d y1, __m128d z1) {
        return _mm_add_pd(_mm_add_pd(_mm_mul_pd(x0, x1), _mm_mul_pd(y0, y1)), _mm_mul_pd(z0, z1));
    };
    const auto toFloat = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
    const __m128d sign = _mm_set1_pd(-0.0), zero = _mm_setzero_pd();
    const __m128 nx = n[0], ny = n[1], nz = n[2];
    const __m128 lx = l[0], ly = l[1], lz = l[2];

    // Diffuse: max(0, -(n·L)), as a float.
    __m128d nl[2];
    both([&](int h) {
        nl[h] = dot(half(nx, h), half(ny, h), half(nz, h), half(lx, h), half(ly, h), half(lz, h));
    });
    const __m128 diffuseTerm = _mm_movelh_ps(_mm_cvtpd_ps(_mm_max_pd(zero, _mm_xor_pd(nl[0], sign))),
                                             _mm_cvtpd_ps(_mm_max_pd(zero, _mm_xor_pd(nl[1], sign))));
    // R = normalise(n·2d + L), in floats; then its length and reciprocal in doubles.
    const __m128 k = _mm_mul_ps(_mm_set1_ps(2.0f), diffuseTerm);
    const __m128 rx = _mm_add_ps(_mm_mul_ps(nx, k), lx);
    const __m128 ry = _mm_add_ps(_mm_mul_ps(ny, k), ly);
    const __m128 rz = _mm_add_ps(_mm_mul_ps(nz, k), lz);
    __m128d length[2], r[2], rv[2], specularTerm[2];
    both([&](int h) {
        const __m128d x = half(rx, h), y = half(ry, h), z = half(rz, h);
        length[h] = toFloat(_mm_sqrt_pd(dot(x, y, z, x, y, z)));
    });
    both([&](int h) { r[h] = _mm_div_pd(_mm_set1_pd(1.0), length[h]); });
    const __m128 vx = v[0], vy = v[1], vz = v[2];
    both([&](int h) {
        rv[h] = dot(toFloat(_mm_mul_pd(half(rx, h), r[h])), toFloat(_mm_mul_pd(half(ry, h), r[h])),
                    toFloat(_mm_mul_pd(half(rz, h), r[h])), half(vx, h), half(vy, h), half(vz, h));
    });
    // Specular: max(0, -(R·V)) to the 20th, as a float.
    both([&](int h) {
        const __m128d s = _mm_max_pd(zero, _mm_xor_pd(rv[h], sign));
        const __m128d s2 = _mm_mul_pd(s, s), s4 = _mm_mul_pd(s2, s2), s8 = _mm_mul_pd(s4, s4);
        specularTerm[h] = toFloat(_mm_mul_pd(_mm_mul_pd(s8, s8), s4));
    });

    // Clamp to 5..250, after the rounding to float: 5 and 250 are floats, so
    // rounding first gives the same. minps and maxps return their second
    // operand for NaN, so NaN (a vertex on the light or the eye) counts as
    // unlit (5).
    const __m128d dt[2] = {half(diffuseTerm, 0), half(diffuseTerm, 1)};
    for (int ch = 0; ch < 3; ++ch) {
        __m128 halves[2];
        both([&](int h) {
            halves[h] = _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(_mm_set1_pd(colours.diffuse[ch]), dt[h]),
                                              _mm_mul_pd(_mm_set1_pd(colours.specular[ch]), specularTerm[h])));
        });
        const __m128 v = _mm_movelh_ps(halves[0], halves[1]);
        lit[ch] = _mm_max_ps(_mm_min_ps(_mm_set1_ps(250.0f), v), _mm_set1_ps(5.0f));
    }
}

// Four corners through shadeFour: their inputs gathered and turned into
// component rows, their screen positions and colours written back.
void shadeFourCorners(const CornerToShade* c, const Colours& colours)
{
    const CornerRows rows = cornerRows(c);
    __m128 lit[3];
    shadeFour(rows.n, rows.l, rows.v, colours, lit);
    writeCorners(c, rows, lit);
}

// count corners, a multiple of 4.
void shadeCornersOf(const CornerToShade* corners, int count, const Colours& colours, bool wideForm)
{
    static_assert(offsetof(ShadedCorner, red) == 16 && offsetof(VertexWork, fromEye) == 16);
    if (wideForm)
        wide::shadeCorners(corners, count, colours.diffuse, colours.specular);
    else
        for (int j = 0; j < count; j += 4)
            shadeFourCorners(corners + j, colours);
}

// 16.16 by truncation toward zero, four values at once in floats: scaling a
// float by 2^16 is exact, so this is the truncation of the double product
// too. Values beyond the 32-bit range and NaN (from degenerate projections)
// give the processor's "indefinite" -2^31 instead of undefined behaviour.
RasterVertex fixedCornerOf(const ShadedCorner& c)
{
    const __m128 scale = _mm_set1_ps(65536.0f);
    RasterVertex v;
    static_assert(offsetof(RasterVertex, green) == 12 && offsetof(ShadedCorner, green) == 12);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&v), _mm_cvttps_epi32(_mm_mul_ps(_mm_loadu_ps(&c.x), scale)));
    v.red = _mm_cvttss_si32(_mm_mul_ss(_mm_set_ss(c.red), scale));
    return v;
}

// The colour planes of two triangles (a and b may be the same one), one
// per lane of packed doubles, with the roundings of the one-triangle
// formulas.
void colourGradientsOf(const ShadedCorner* a, const ShadedCorner* b, ColourGradients& ga, ColourGradients& gb)
{
    // Corner k of both triangles: x, y, blue, green, red, each as a pair.
    __m128d x[3], y[3], blue[3], green[3], red[3];
    for (int k = 0; k < 3; ++k) {
        const __m128 p = _mm_loadu_ps(&a[k].x), q = _mm_loadu_ps(&b[k].x);
        const __m128 low = _mm_unpacklo_ps(p, q), high = _mm_unpackhi_ps(p, q);
        x[k] = _mm_cvtps_pd(low);
        y[k] = _mm_cvtps_pd(_mm_movehl_ps(low, low));
        blue[k] = _mm_cvtps_pd(high);
        green[k] = _mm_cvtps_pd(_mm_movehl_ps(high, high));
        red[k] = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(&a[k].red), _mm_load_ss(&b[k].red)));
    }
    const __m128d x10 = _mm_sub_pd(x[1], x[0]), y10 = _mm_sub_pd(y[1], y[0]);
    const __m128d x20 = _mm_sub_pd(x[2], x[0]), y20 = _mm_sub_pd(y[2], y[0]);
    const __m128d d = _mm_sub_pd(_mm_mul_pd(x10, y20), _mm_mul_pd(x20, y10));
    const __m128d scale = _mm_set1_pd(65536.0);
    const auto channel = [&](const __m128d* c, std::int32_t ColourGradients::*ddx,
                             std::int32_t ColourGradients::*ddy) {
        const __m128d c10 = _mm_sub_pd(c[1], c[0]), c20 = _mm_sub_pd(c[2], c[0]);
        const __m128d nx = _mm_sub_pd(_mm_mul_pd(c10, y20), _mm_mul_pd(c20, y10));
        const __m128d ny = _mm_sub_pd(_mm_mul_pd(c20, x10), _mm_mul_pd(c10, x20));
        const __m128i dx = _mm_cvttpd_epi32(_mm_div_pd(_mm_mul_pd(nx, scale), d));
        const __m128i dy = _mm_cvttpd_epi32(_mm_div_pd(_mm_mul_pd(ny, scale), d));
        ga.*ddx = _mm_cvtsi128_si32(dx);
        gb.*ddx = _mm_cvtsi128_si32(_mm_srli_si128(dx, 4));
        ga.*ddy = _mm_cvtsi128_si32(dy);
        gb.*ddy = _mm_cvtsi128_si32(_mm_srli_si128(dy, 4));
    };
    channel(blue, &ColourGradients::dBdx, &ColourGradients::dBdy);
    channel(green, &ColourGradients::dGdx, &ColourGradients::dGdy);
    channel(red, &ColourGradients::dRdx, &ColourGradients::dRdy);
}

// A matrix spread over both lanes of packed doubles, for transformPoint of
// two points at once with the same products and sums in the same order.
struct PackedMatrix {
    __m128d m[12];
};

PackedMatrix packedMatrix(const Matrix& m)
{
    PackedMatrix p;
    for (int k = 0; k < 12; ++k)
        p.m[k] = _mm_set1_pd(m.m[k]);
    return p;
}

struct PackedPoints {
    __m128d x, y, z;
};

// x, y, z of a vector in the low three floats, without reading past it.
__m128 loadVector(const Vector3& v)
{
    return _mm_movelh_ps(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(&v.x)), _mm_load_ss(&v.z));
}

// The x, y and z of two points (their low three floats) as pairs of doubles.
[[gnu::always_inline]] inline PackedPoints pairOf(__m128 p, __m128 q)
{
    const __m128 low = _mm_unpacklo_ps(p, q);
    return {_mm_cvtps_pd(low), _mm_cvtps_pd(_mm_movehl_ps(low, low)), _mm_cvtps_pd(_mm_unpackhi_ps(p, q))};
}

// Not yet rounded to float.
[[gnu::always_inline]] inline PackedPoints transformPair(const PackedMatrix& p, const PackedPoints& points)
{
    const __m128d x = points.x, y = points.y, z = points.z;
    const __m128d* m = p.m;
    const auto row = [&](int j) {
        return _mm_add_pd(
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, m[j]), _mm_mul_pd(y, m[3 + j])), _mm_mul_pd(z, m[6 + j])),
            m[9 + j]);
    };
    return {row(0), row(1), row(2)};
}

// The vertices through m into viewVertices, two at a time.
void transformVerticesInPairs(const Vector3* vertices, int count, const Matrix& m)
{
    const PackedMatrix packed = packedMatrix(m);
    for (int i = 0; i < count; i += 2) {
        const int j = i + 1 < count ? i + 1 : i;
        const PackedPoints v = transformPair(packed, pairOf(loadVector(vertices[i]), loadVector(vertices[j])));
        const __m128 xy = _mm_unpacklo_ps(_mm_cvtpd_ps(v.x), _mm_cvtpd_ps(v.y)), z = _mm_cvtpd_ps(v.z);
        _mm_store_ps(&viewVertices[i].x, _mm_movelh_ps(xy, z));
        _mm_store_ps(&viewVertices[j].x, _mm_shuffle_ps(xy, z, _MM_SHUFFLE(1, 1, 3, 2)));
    }
}

// For every face: the centroid c, the unit normal n in view space and
// s = c.z·n.z + n.x·cullScaleX·c.x + c.y·cullScaleY·n.y (the centroid-normal
// dot product with the focal pre-scale taken out), s < 0 for a face
// turned toward the eye. Two faces at a time, one per lane, with the
// roundings of the one-face formulas. The faces kept go to visibleFaces in
// face order; returns how many, or -1 when they do not fit.
int cullFacesInPairs(const Mesh& mesh, const Matrix& directions, const Camera& camera)
{
    const PackedMatrix packedDirections = packedMatrix(directions);
    const __m128d third = _mm_set1_pd(static_cast<double>(0.33333f)), one = _mm_set1_pd(1.0);
    const __m128d cullX = _mm_set1_pd(camera.cullScaleX), cullY = _mm_set1_pd(camera.cullScaleY);
    const auto toFloat = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
    int visible = 0;
    for (int f = 0; f < mesh.faceCount; f += 2) {
        const int g = f + 1 < mesh.faceCount ? f + 1 : f;
        const Face &faceF = mesh.faces[f], &faceG = mesh.faces[g];
        PackedPoints c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = pairOf(_mm_load_ps(&viewVertices[faceF.v[k]].x), _mm_load_ps(&viewVertices[faceG.v[k]].x));
        const auto centre = [&](__m128d PackedPoints::*axis) {
            return toFloat(_mm_mul_pd(_mm_add_pd(_mm_add_pd(c[0].*axis, c[1].*axis), c[2].*axis), third));
        };
        const __m128d cx = centre(&PackedPoints::x), cy = centre(&PackedPoints::y), cz = centre(&PackedPoints::z);
        const PackedPoints raw = transformPair(
            packedDirections, pairOf(loadVector(mesh.faceNormals[f]), loadVector(mesh.faceNormals[g])));
        // Vector3::normalised: the length rounded to a float, one reciprocal.
        const __m128d rx = toFloat(raw.x), ry = toFloat(raw.y), rz = toFloat(raw.z);
        const __m128d squares = _mm_add_pd(_mm_add_pd(_mm_mul_pd(rx, rx), _mm_mul_pd(ry, ry)), _mm_mul_pd(rz, rz));
        const __m128d r = _mm_div_pd(one, toFloat(_mm_sqrt_pd(squares)));
        const __m128 nxy = _mm_movelh_ps(_mm_cvtpd_ps(_mm_mul_pd(rx, r)), _mm_cvtpd_ps(_mm_mul_pd(ry, r)));
        const __m128 nz = _mm_cvtpd_ps(_mm_mul_pd(rz, r));
        const __m128d nx = _mm_cvtps_pd(nxy), ny = _mm_cvtps_pd(_mm_movehl_ps(nxy, nxy));
        const __m128d s = _mm_add_pd(_mm_add_pd(_mm_mul_pd(cz, _mm_cvtps_pd(nz)), _mm_mul_pd(_mm_mul_pd(nx, cullX), cx)),
                                     _mm_mul_pd(_mm_mul_pd(cy, cullY), ny));
        int keep = _mm_movemask_pd(_mm_cmplt_pd(s, _mm_setzero_pd()));
        if (g == f)
            keep &= 1;
        if (keep == 0)
            continue;
        // The sort key 1/c.z, then the normal, lane by lane.
        alignas(16) float out[2][4];
        _mm_store_ps(out[0], nxy);
        _mm_store_ps(out[1], _mm_movelh_ps(nz, _mm_cvtpd_ps(_mm_div_pd(one, cz))));
        for (int lane = 0; lane < 2; ++lane) {
            if (!(keep & (1 << lane)))
                continue;
            if (visible == renderFaceCapacity)
                return -1;
            VisibleFace& entry = visibleFaces[visible++];
            entry.key = out[1][2 + lane];
            entry.face = lane == 0 ? &faceF : &faceG;
            entry.normal = Vector3(out[0][lane], out[0][2 + lane], out[1][lane]);
        }
    }
    return visible;
}

// A visible triangle of the batch being drawn. Triangles are lit in
// batches before any of them is drawn, so that the long chains of square
// roots and divisions of different corners can overlap.
struct BatchTriangle {
    const Face* face;
    const Vector3* normal;
    bool inside;  // every corner inside the view pyramid
    ShadedCorner corners[3];
    ColourGradients gradients;
};
constexpr int litBatch = 64;
BatchTriangle batch[litBatch];
CornerToShade batchCorners[litBatch * 3];
// Corners of the second triangle of a flat side that the first one lights:
// copied after the lighting, in this order.
struct SharedCorner {
    ShadedCorner* to;
    const ShadedCorner* from;
};
SharedCorner sharedCorners[litBatch * 3];

} // namespace

RasterVertex fixedCorner(const ShadedCorner& c)
{
    return fixedCornerOf(c);
}

void colourGradients(const ShadedCorner* a, const ShadedCorner* b, ColourGradients& ga, ColourGradients& gb)
{
    colourGradientsOf(a, b, ga, gb);
}

void lightVertices(ClipVertex* vertices, const Vector3* normals, int count, const Vector3& lv, Colour diffuse,
                   Colour specular)
{
    const Colours colours = coloursOf(diffuse, specular);
    VertexWork work[4]{};
    VisibleFace faces[4]{};  // normals that load as 16 bytes
    ShadedCorner lit[4]{};
    CornerToShade corners[4];
    for (int first = 0; first < count; first += 4) {
        for (int k = 0; k < 4; ++k) {
            const int i = std::min(first + k, count - 1);
            const Vector3 p(vertices[i].x, vertices[i].y, vertices[i].z);
            work[k].fromLight = (p - lv).normalised();
            work[k].fromEye = p.normalised();
            faces[k].normal = normals[i];
            corners[k] = {&faces[k].normal, &work[k], &lit[k]};
        }
        shadeCornersOf(corners, 4, colours, wideVectors());
        for (int k = 0; k < 4 && first + k < count; ++k) {
            vertices[first + k].red = lit[k].red;
            vertices[first + k].green = lit[k].green;
            vertices[first + k].blue = lit[k].blue;
        }
    }
}

void lightVertex(ClipVertex& v, const Vector3& n, const Vector3& lv, Colour diffuse, Colour specular)
{
    lightVertices(&v, &n, 1, lv, diffuse, specular);
}

bool renderMesh(Image& target, const Camera& camera, const Mesh& mesh, const Light& light, Colour diffuse,
                Colour specular, RenderMode mode, bool depthSort)
{
    static bool reportedVertices = false, reportedFaces = false;
    if (mode == Gouraud)
        currentWriter = spanGouraud;
    else if (mode == GouraudAdditive)
        currentWriter = spanGouraudAdditive;

    if (mesh.vertexCount > renderVertexCapacity) {
        reportOnce(reportedVertices, "vertices", mesh.vertexCount, renderVertexCapacity);
        return false;
    }

    const Matrix mv = multiply(camera.viewMatrix, mesh.worldMatrix());
    Matrix directions = mv;
    directions.m[9] = directions.m[10] = directions.m[11] = 0.0f;
    const bool wideForm = wideVectors();
    if (wideForm)
        wide::transformVertices(mesh.vertices, mesh.vertexCount, mv, &viewVertices[0].x);
    else
        transformVerticesInPairs(mesh.vertices, mesh.vertexCount, mv);
    if (mesh.vertexCount <= smallMesh && wholeMeshClippedAway(mesh.vertexCount))
        return true;
    int visible = 0;
    if (wideForm && mesh.faceCount <= keptFaces) {
        // A scene often draws one small mesh many times, moved but not
        // turned (a grid of tiles): its faces' unit view normals are then
        // the same each time, and are kept from one call to the next.
        const bool same = kept.count == mesh.faceCount &&
                          std::memcmp(kept.directions, directions.m, sizeof kept.directions) == 0 &&
                          std::memcmp(kept.source, mesh.faceNormals, mesh.faceCount * sizeof(Vector3)) == 0;
        visible = wide::cullFaces(mesh, &viewVertices[0].x, directions, camera, visibleFaces, renderFaceCapacity,
                                  same ? kept.unit : nullptr, same ? nullptr : kept.unit);
        if (!same && visible >= 0) {
            kept.count = mesh.faceCount;
            std::memcpy(kept.directions, directions.m, 9 * sizeof(float));
            std::copy(mesh.faceNormals, mesh.faceNormals + mesh.faceCount, kept.source);
        }
    } else {
        visible = wideForm ? wide::cullFaces(mesh, &viewVertices[0].x, directions, camera, visibleFaces,
                                             renderFaceCapacity, nullptr, nullptr)
                           : cullFacesInPairs(mesh, directions, camera);
    }
    if (visible < 0) {
        reportOnce(reportedFaces, "visible faces", renderFaceCapacity + 1, renderFaceCapacity);
        return false;
    }
    const VisibleFace* faces = visibleFaces;
    if (depthSort)
        faces = sortByKeyBits(visibleFaces, sortBuffer, visible);

    const Vector3 lv = transformPoint(camera.viewMatrix, light.position.value);
    const Colours colours = coloursOf(diffuse, specular);
    // The vertices of the faces drawn, each worked out once; of a small
    // mesh, or of one whose faces drawn have more corners than it has
    // vertices, simply all of them, which costs less than finding them:
    // whether a corner's vertex was seen before is anyone's guess.
    const std::int32_t* pending = pendingVertices;
    int pendingCount = 0;
    if (mesh.vertexCount <= smallMesh || mesh.vertexCount <= 3 * visible) {
        pending = everyVertex.data();
        pendingCount = mesh.vertexCount;
    } else {
        if (++currentStamp == 0) {
            for (std::uint32_t& stamp : directionStamp)
                stamp = 0;
            currentStamp = 1;
        }
        for (int e = 0; e < visible; ++e)
            for (const std::int32_t i : faces[e].face->v)
                if (directionStamp[i] != currentStamp) {
                    directionStamp[i] = currentStamp;
                    pendingVertices[pendingCount++] = i;
                }
    }
    if (wideForm)
        wide::vertexWorkOf(pending, pendingCount, &viewVertices[0].x, lv, camera, vertexWork);
    else
        for (int k = 0; k < pendingCount; ++k) {
            const int i = pending[k];
            workOutVertex(vertexWork[i], viewVertices[i], lv, camera);
        }

    polygon.spanWriter = currentWriter;
    // Drawn from the last entry to the first.
    for (int batchEnd = visible; batchEnd > 0; batchEnd -= litBatch) {
        const int batchCount = batchEnd < litBatch ? batchEnd : litBatch;
        int laneCount = 0, sharedCount = 0;
        int kept = 0;
        for (int b = 0; b < batchCount; ++b) {
            const VisibleFace& entry = faces[batchEnd - 1 - b];
            const std::int32_t* v = entry.face->v;
            // A triangle the clipper would drop whole draws nothing: it is
            // neither lit nor set up.
            const unsigned out0 = vertexWork[v[0]].outside, out1 = vertexWork[v[1]].outside,
                           out2 = vertexWork[v[2]].outside;
            const bool inside = (out0 | out1 | out2) == 0;
            if (!inside && clippedAway(out0, out1, out2))
                continue;
            BatchTriangle& t = batch[kept];
            t.face = entry.face;
            t.normal = &entry.normal;
            t.inside = inside;
            // The two triangles of a flat side come one after the other and
            // light their common corners once.
            const BatchTriangle* side =
                kept > 0 && sameBits(*batch[kept - 1].normal, entry.normal) ? &batch[kept - 1] : nullptr;
            for (int k = 0; k < 3; ++k) {
                const int i = v[k];
                int common = -1;
                if (side)
                    for (int m = 0; m < 3; ++m)
                        if (side->face->v[m] == i)
                            common = m;
                if (common < 0)
                    batchCorners[laneCount++] = {&entry.normal, &vertexWork[i], &t.corners[k]};
                else
                    sharedCorners[sharedCount++] = {&t.corners[k], &side->corners[common]};
            }
            ++kept;
        }
        // Four corners at a time, the last one repeated to fill the last four.
        for (int j = laneCount; j % 4 != 0; ++j)
            batchCorners[j] = batchCorners[laneCount - 1];
        shadeCornersOf(batchCorners, (laneCount + 3) / 4 * 4, colours, wideForm);
        for (int k = 0; k < sharedCount; ++k)
            *sharedCorners[k].to = *sharedCorners[k].from;
        // One triangle through the clipper (when it is not inside the view)
        // and rasterizePolygon; steps: its dBdx .. dRdy.
        const auto drawAlone = [&](const BatchTriangle& t, const std::int32_t* steps) {
            int count = 3;
            if (t.inside) {
                // A triangle inside every plane passes the clipper unchanged.
                for (int k = 0; k < 3; ++k)
                    polygon.vertices[k] = fixedCornerOf(t.corners[k]);
            } else {
                for (int k = 0; k < 3; ++k) {
                    const ViewPoint& p = viewVertices[t.face->v[k]];
                    const ShadedCorner& c = t.corners[k];
                    clipWork[k] = {p.x, p.y, p.z, 0.0f, 0.0f, c.red, c.green, c.blue};
                }
                ClipVertex* out = nullptr;
                count = clipPolygon(clipWork, 3, interpolateLitVertex, out);
                if (count < 3 || count > rasterCapacity)
                    return;
                for (int k = 0; k < count; ++k) {
                    const ClipVertex& c = out[k];
                    const ScreenPoint s = toScreen(camera, c);
                    polygon.vertices[k] = fixedCornerOf({s.x, s.y, c.blue, c.green, c.red});
                }
            }
            std::memcpy(&polygon.dBdx, steps, 6 * sizeof(std::int32_t));
            rasterizePolygon(polygon, count, target.pixels, target.pitch, target.width, target.height);
        };
        if (wideForm) {
            // Four triangles at a time: their corners and steps worked out as
            // rows and handed over as such, walked at once, then drawn in
            // order; those the walk does not take (cut by the clipper, or
            // reaching past the image) are drawn on their own.
            const bool add = currentWriter == spanGouraudAdditive;
            for (int b = 0; b < kept; b += 4) {
                const ShadedCorner* corners[4];
                for (int k = 0; k < 4; ++k)
                    corners[k] = batch[b + k < kept ? b + k : kept - 1].corners;
                TriangleRows rows;
                wide::triangleRows(corners, rows);
                WalkedFour walked;
                const unsigned drawable = wide::walkRows(rows, target.width, target.height, walked);
                for (int k = 0; k < 4 && b + k < kept; ++k) {
                    const BatchTriangle& t = batch[b + k];
                    if (t.inside && (drawable >> k & 1))
                        wide::fillWalked(walked, k, target.pixels, target.pitch, target.width, add);
                    else
                        drawAlone(t, walked.steps[k]);
                }
            }
            continue;
        }
        for (int b = 0; b < kept; b += 2) {
            BatchTriangle& first = batch[b];
            BatchTriangle& second = batch[b + 1 < kept ? b + 1 : b];
            colourGradientsOf(first.corners, second.corners, first.gradients, second.gradients);
        }
        // The six steps lie in the same order in both records.
        static_assert(offsetof(ColourGradients, dRdy) - offsetof(ColourGradients, dBdx) == 5 * sizeof(std::int32_t));
        static_assert(offsetof(RasterPolygon, dRdy) - offsetof(RasterPolygon, dBdx) == 5 * sizeof(std::int32_t));
        for (int b = 0; b < kept; ++b)
            drawAlone(batch[b], &batch[b].gradients.dBdx);
    }
    return true;
}

#if !defined(MORVANE_WIDE_VECTORS)
// Never called: wideVectors() is false where the four-lane forms are not built.
void wide::vertexWorkOf(const std::int32_t*, int, const float*, const Vector3&, const Camera&, VertexWork*)
{
    std::abort();
}
void wide::transformVertices(const Vector3*, int, const Matrix&, float*)
{
    std::abort();
}
int wide::cullFaces(const Mesh&, const float*, const Matrix&, const Camera&, VisibleFace*, int, const UnitNormal*,
                    UnitNormal*)
{
    std::abort();
}
void wide::shadeCorners(const CornerToShade*, int, const double*, const double*)
{
    std::abort();
}
void wide::triangleRows(const ShadedCorner* const*, TriangleRows&)
{
    std::abort();
}
#endif
