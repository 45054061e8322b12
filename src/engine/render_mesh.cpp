#include "engine/render_mesh.hpp"

#include "engine/clipper.hpp"
#include "engine/rasterizer.hpp"

#include <bit>
#include <emmintrin.h>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace {

Vector3 viewVertices[renderVertexCapacity];
VisibleFace visibleFaces[renderFaceCapacity];
VisibleFace sortBuffer[renderFaceCapacity];
ClipVertex clipWork[clipCapacity];
RasterPolygon polygon;
SpanWriter currentWriter = spanGouraud;

// Truncation toward zero. Values beyond the 32-bit range and NaN (from
// degenerate projections) give the processor's "indefinite" -2^31 instead of
// undefined behaviour.
std::int32_t toFixed(double v)
{
    return _mm_cvttsd_si32(_mm_set_sd(v));
}

float channel(Colour c, int shift)
{
    return static_cast<float>((c >> shift) & 0xFF);
}

// Clamp to 5..250; NaN (a vertex on the light or the eye) counts as unlit.
// Without branches: they would wait on the long root and division chain
// that feeds v and are hard to predict. minsd and maxsd return their second
// operand for NaN, which gives NaN -> 5 here.
float clampLit(double v)
{
    const __m128d below = _mm_min_sd(_mm_set_sd(250.0), _mm_set_sd(v));  // 250 < v ? 250 : v
    return static_cast<float>(_mm_cvtsd_f64(_mm_max_sd(below, _mm_set_sd(5.0))));  // below > 5 ? below : 5
}

// v < 0 ? 0 : v without a branch (NaN and -0 stay as they are).
double noneBelowZero(double v)
{
    return _mm_cvtsd_f64(_mm_max_sd(_mm_setzero_pd(), _mm_set_sd(v)));  // 0 > v ? 0 : v
}

void reportOnce(bool& reported, const char* what, int count, int capacity)
{
    if (reported)
        return;
    reported = true;
    std::fprintf(stderr, "renderMesh: mesh not drawn: %d %s exceed the work storage of %d\n", count, what, capacity);
}

// Least significant byte first, four stable counting passes; ends in a.
// A few faces are sorted by insertion on the same 32 bits instead, which
// gives the same stable order without clearing 4 x 256 counters.
void sortByKeyBits(VisibleFace* a, VisibleFace* b, int n)
{
    if (n <= 32) {
        for (int i = 1; i < n; ++i) {
            const VisibleFace moving = a[i];
            const std::uint32_t key = std::bit_cast<std::uint32_t>(moving.key);
            int j = i;
            for (; j > 0 && std::bit_cast<std::uint32_t>(a[j - 1].key) > key; --j)
                a[j] = a[j - 1];
            a[j] = moving;
        }
        return;
    }
    for (int shift = 0; shift < 32; shift += 8) {
        int offsets[256] = {};
        for (int i = 0; i < n; ++i)
            ++offsets[(std::bit_cast<std::uint32_t>(a[i].key) >> shift) & 0xFF];
        int sum = 0;
        for (int& o : offsets) {
            const int c = o;
            o = sum;
            sum += c;
        }
        for (int i = 0; i < n; ++i)
            b[offsets[(std::bit_cast<std::uint32_t>(a[i].key) >> shift) & 0xFF]++] = a[i];
        std::swap(a, b);
    }
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

// A visible triangle lit and set up for drawing. Triangles are lit in
// batches before any of them is drawn, so that the long chains of square
// roots and divisions of different corners can overlap.
struct LitTriangle {
    ClipVertex corners[3];
    ScreenPoint screen[3];
    bool inside;  // every corner inside the view pyramid
    std::int32_t dBdx, dGdx, dRdx, dBdy, dGdy, dRdy;
};
constexpr int litBatch = 64;
LitTriangle litTriangles[litBatch];

// The colour plane of the whole (unclipped) triangle in screen space. The
// x and y gradients of a channel are divided as one pair: the packed double
// operations round each lane as the scalar ones do, and the conversion
// truncates as toFixed does (out of range or NaN gives -2^31 there too).
void setGradients(LitTriangle& t)
{
    const ScreenPoint p0 = t.screen[0], p1 = t.screen[1], p2 = t.screen[2];
    const double x10 = static_cast<double>(p1.x) - p0.x, y10 = static_cast<double>(p1.y) - p0.y;
    const double x20 = static_cast<double>(p2.x) - p0.x, y20 = static_cast<double>(p2.y) - p0.y;
    const __m128d d = _mm_set1_pd(x10 * y20 - x20 * y10);
    const __m128d scale = _mm_set1_pd(65536.0);
    const auto gradients = [&](float c0, float c1, float c2, std::int32_t& ddx, std::int32_t& ddy) {
        const double c10 = static_cast<double>(c1) - c0, c20 = static_cast<double>(c2) - c0;
        const __m128d num = _mm_setr_pd(c10 * y20 - c20 * y10, c20 * x10 - c10 * x20);
        const __m128i both = _mm_cvttpd_epi32(_mm_div_pd(_mm_mul_pd(num, scale), d));
        ddx = _mm_cvtsi128_si32(both);
        ddy = _mm_cvtsi128_si32(_mm_srli_si128(both, 4));
    };
    const ClipVertex* c = t.corners;
    gradients(c[0].blue, c[1].blue, c[2].blue, t.dBdx, t.dBdy);
    gradients(c[0].green, c[1].green, c[2].green, t.dGdx, t.dGdy);
    gradients(c[0].red, c[1].red, c[2].red, t.dRdx, t.dRdy);
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

// Per call: the directions that lighting needs at each vertex, worked out
// the first time a drawn face uses the vertex.
// Also its screen position and whether it is inside the view pyramid, and
// the colours of the last corner lit there: neighbouring triangles of one
// flat side share the normal, so their common corners are lit once.
struct VertexWork {
    Vector3 fromLight;  // normalise(p - light)
    Vector3 fromEye;    // normalise(p)
    float screenX, screenY;
    bool inside;
    std::uint32_t litStamp;  // == currentStamp when litNormal and lit* hold
    Vector3 litNormal;
    float litRed, litGreen, litBlue;
};
VertexWork vertexWork[renderVertexCapacity];
std::uint32_t directionStamp[renderVertexCapacity];
std::uint32_t currentStamp = 0;

bool sameBits(const Vector3& a, const Vector3& b)
{
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
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

// toVertex: from the light toward the vertex; view: from the eye toward it.
void shade(ClipVertex& v, const Vector3& n, const Vector3& toVertex, const Vector3& view, const Colours& c)
{
    const double d = noneBelowZero(-n.dot(toVertex));
    const auto diffuseTerm = static_cast<float>(d);
    const Vector3 reflected = (n * (2.0f * diffuseTerm) + toVertex).normalised();
    const double s = noneBelowZero(-reflected.dot(view));
    const double s2 = s * s, s4 = s2 * s2, s16 = (s4 * s4) * (s4 * s4);
    const auto specularTerm = static_cast<double>(static_cast<float>(s16 * s4));  // s to the 20th
    const double dt = diffuseTerm;
    v.red = clampLit(c.diffuse[0] * dt + c.specular[0] * specularTerm);
    v.green = clampLit(c.diffuse[1] * dt + c.specular[1] * specularTerm);
    v.blue = clampLit(c.diffuse[2] * dt + c.specular[2] * specularTerm);
}

} // namespace

void lightVertex(ClipVertex& v, const Vector3& n, const Vector3& lv, Colour diffuse, Colour specular)
{
    const Vector3 p(v.x, v.y, v.z);
    shade(v, n, (p - lv).normalised(), p.normalised(), coloursOf(diffuse, specular));
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
    for (int i = 0; i < mesh.vertexCount; ++i)
        viewVertices[i] = transformPoint(mv, mesh.vertices[i]);

    int visible = 0;
    for (int f = 0; f < mesh.faceCount; ++f) {
        const Face& face = mesh.faces[f];
        const Vector3& a = viewVertices[face.v[0]];
        const Vector3& b = viewVertices[face.v[1]];
        const Vector3& c = viewVertices[face.v[2]];
        constexpr double third = 0.33333f;
        const Vector3 centre(static_cast<float>((static_cast<double>(a.x) + b.x + c.x) * third),
                             static_cast<float>((static_cast<double>(a.y) + b.y + c.y) * third),
                             static_cast<float>((static_cast<double>(a.z) + b.z + c.z) * third));
        // The centroid-normal dot product with the focal pre-scale taken out,
        // s < 0 for a face turned toward the eye. Scaling n does not change
        // its sign, so the unit normal is only worked out for faces kept and
        // for the few where rounding could tip the balance.
        const Vector3 raw = transformPoint(directions, mesh.faceNormals[f]);
        const double zTerm = static_cast<double>(centre.z) * raw.z;
        const double xTerm = static_cast<double>(raw.x) * camera.cullScaleX * centre.x;
        const double yTerm = static_cast<double>(centre.y) * camera.cullScaleY * raw.y;
        const double rawS = zTerm + xTerm + yTerm;
        if (rawS > 1e-4 * (std::fabs(zTerm) + std::fabs(xTerm) + std::fabs(yTerm)))
            continue;
        const Vector3 n = raw.normalised();
        const double s = static_cast<double>(centre.z) * n.z + static_cast<double>(n.x) * camera.cullScaleX * centre.x +
                         static_cast<double>(centre.y) * camera.cullScaleY * n.y;
        if (!(s < 0.0))
            continue;
        if (visible == renderFaceCapacity) {
            reportOnce(reportedFaces, "visible faces", visible + 1, renderFaceCapacity);
            return false;
        }
        VisibleFace& entry = visibleFaces[visible++];
        entry.key = static_cast<float>(1.0 / static_cast<double>(centre.z));
        entry.face = &face;
        entry.normal = n;
    }
    if (depthSort)
        sortByKeyBits(visibleFaces, sortBuffer, visible);

    const Vector3 lv = transformPoint(camera.viewMatrix, light.position.value);
    const Colours colours = coloursOf(diffuse, specular);
    if (++currentStamp == 0) {
        for (int i = 0; i < renderVertexCapacity; ++i) {
            directionStamp[i] = 0;
            vertexWork[i].litStamp = 0;
        }
        currentStamp = 1;
    }
    polygon.spanWriter = currentWriter;
    // Drawn from the last entry to the first.
    for (int batchEnd = visible; batchEnd > 0; batchEnd -= litBatch) {
        const int batchCount = batchEnd < litBatch ? batchEnd : litBatch;
        for (int b = 0; b < batchCount; ++b) {
            const VisibleFace& entry = visibleFaces[batchEnd - 1 - b];
            LitTriangle& t = litTriangles[b];
            t.inside = true;
            for (int k = 0; k < 3; ++k) {
                const int i = entry.face->v[k];
                const Vector3& p = viewVertices[i];
                VertexWork& work = vertexWork[i];
                ClipVertex& corner = t.corners[k];
                corner = {p.x, p.y, p.z, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
                if (directionStamp[i] != currentStamp) {
                    directionStamp[i] = currentStamp;
                    normalisePair(p - lv, p, work.fromLight, work.fromEye);
                    const ScreenPoint s = toScreen(camera, corner);
                    work.screenX = s.x;
                    work.screenY = s.y;
                    work.inside = insideAllPlanes(corner);
                }
                if (work.litStamp == currentStamp && sameBits(work.litNormal, entry.normal)) {
                    corner.red = work.litRed;
                    corner.green = work.litGreen;
                    corner.blue = work.litBlue;
                } else {
                    shade(corner, entry.normal, work.fromLight, work.fromEye, colours);
                    work.litStamp = currentStamp;
                    work.litNormal = entry.normal;
                    work.litRed = corner.red;
                    work.litGreen = corner.green;
                    work.litBlue = corner.blue;
                }
                t.screen[k] = {work.screenX, work.screenY};
                t.inside = t.inside && work.inside;
            }
            setGradients(t);
        }
        for (int b = 0; b < batchCount; ++b) {
            const LitTriangle& t = litTriangles[b];
            // A triangle inside every plane passes the clipper unchanged.
            int count = 3;
            const ClipVertex* clipped = t.corners;
            if (!t.inside) {
                for (int k = 0; k < 3; ++k)
                    clipWork[k] = t.corners[k];
                ClipVertex* out = nullptr;
                count = clipPolygon(clipWork, 3, interpolateLitVertex, out);
                if (count < 3 || count > rasterCapacity)
                    continue;
                clipped = out;
            }
            for (int k = 0; k < count; ++k) {
                const ClipVertex& v = clipped[k];
                const ScreenPoint s = t.inside ? t.screen[k] : toScreen(camera, v);
                polygon.vertices[k] = {toFixed(static_cast<double>(s.x) * 65536.0), toFixed(static_cast<double>(s.y) * 65536.0),
                                       toFixed(static_cast<double>(v.blue) * 65536.0),
                                       toFixed(static_cast<double>(v.green) * 65536.0),
                                       toFixed(static_cast<double>(v.red) * 65536.0)};
            }
            polygon.dBdx = t.dBdx;
            polygon.dGdx = t.dGdx;
            polygon.dRdx = t.dRdx;
            polygon.dBdy = t.dBdy;
            polygon.dGdy = t.dGdy;
            polygon.dRdy = t.dRdy;
            rasterizePolygon(polygon, count, target.pixels, target.pitch, target.width, target.height);
        }
    }
    return true;
}
