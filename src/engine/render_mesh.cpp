#include "engine/render_mesh.hpp"

#include "engine/clipper.hpp"
#include "engine/rasterizer.hpp"

#include <algorithm>
#include <bit>
#include "image/simd.hpp"
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
    std::uint32_t litStamp;  // == currentStamp when litNormal and lit* (or litJob) hold
    int litJob;              // job of this batch that lights it, or -1 when lit* hold the colours
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

// One vertex to light with one face normal. toVertex: from the light toward
// the vertex; view: from the eye toward it.
struct ShadeJob {
    const Vector3* normal;
    const Vector3* toVertex;
    const Vector3* view;
    int vertex;
    float red, green, blue;
};

// Lights four jobs at once: two pairs, one job per lane of packed doubles
// (floats where the lighting rounds to float), with the same operations in
// the same order as for one vertex, so each lane gets the bits the scalar
// code would give. Each step is taken for both pairs before the next, so
// that the two long chains of roots and divisions run side by side.
void shadeFour(ShadeJob* const* job, const Colours& c)
{
    const auto both = [](auto step) {
        step(0);
        step(1);
    };
    const auto doubles = [](float x, float y) { return _mm_setr_pd(x, y); };
    const auto floats = [](float x, float y) { return _mm_setr_ps(x, y, 0.0f, 0.0f); };
    const auto dot = [](__m128d x0, __m128d y0, __m128d z0, __m128d x1, __m128d y1, __m128d z1) {
        return _mm_add_pd(_mm_add_pd(_mm_mul_pd(x0, x1), _mm_mul_pd(y0, y1)), _mm_mul_pd(z0, z1));
    };
    const auto toFloat = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
    const __m128d sign = _mm_set1_pd(-0.0), zero = _mm_setzero_pd();

    __m128d nl[2], rx[2], ry[2], rz[2], length[2], r[2], rv[2], specularTerm[2], dt[2];
    __m128 diffuseTerm[2];
    // Diffuse: max(0, -(n·L)), as a float.
    both([&](int h) {
        const Vector3 &na = *job[2 * h]->normal, &nb = *job[2 * h + 1]->normal;
        const Vector3 &la = *job[2 * h]->toVertex, &lb = *job[2 * h + 1]->toVertex;
        nl[h] = dot(doubles(na.x, nb.x), doubles(na.y, nb.y), doubles(na.z, nb.z), doubles(la.x, lb.x),
                    doubles(la.y, lb.y), doubles(la.z, lb.z));
    });
    both([&](int h) { diffuseTerm[h] = _mm_cvtpd_ps(_mm_max_pd(zero, _mm_xor_pd(nl[h], sign))); });
    // R = normalise(n·2d + L), in floats; then its length and reciprocal in doubles.
    both([&](int h) {
        const Vector3 &na = *job[2 * h]->normal, &nb = *job[2 * h + 1]->normal;
        const Vector3 &la = *job[2 * h]->toVertex, &lb = *job[2 * h + 1]->toVertex;
        const __m128 k = _mm_mul_ps(_mm_set1_ps(2.0f), diffuseTerm[h]);
        rx[h] = _mm_cvtps_pd(_mm_add_ps(_mm_mul_ps(floats(na.x, nb.x), k), floats(la.x, lb.x)));
        ry[h] = _mm_cvtps_pd(_mm_add_ps(_mm_mul_ps(floats(na.y, nb.y), k), floats(la.y, lb.y)));
        rz[h] = _mm_cvtps_pd(_mm_add_ps(_mm_mul_ps(floats(na.z, nb.z), k), floats(la.z, lb.z)));
    });
    both([&](int h) { length[h] = toFloat(_mm_sqrt_pd(dot(rx[h], ry[h], rz[h], rx[h], ry[h], rz[h]))); });
    both([&](int h) { r[h] = _mm_div_pd(_mm_set1_pd(1.0), length[h]); });
    both([&](int h) {
        const Vector3 &va = *job[2 * h]->view, &vb = *job[2 * h + 1]->view;
        rv[h] = dot(toFloat(_mm_mul_pd(rx[h], r[h])), toFloat(_mm_mul_pd(ry[h], r[h])),
                    toFloat(_mm_mul_pd(rz[h], r[h])), doubles(va.x, vb.x), doubles(va.y, vb.y), doubles(va.z, vb.z));
    });
    // Specular: max(0, -(R·V)) to the 20th, as a float.
    both([&](int h) {
        const __m128d s = _mm_max_pd(zero, _mm_xor_pd(rv[h], sign));
        const __m128d s2 = _mm_mul_pd(s, s), s4 = _mm_mul_pd(s2, s2), s8 = _mm_mul_pd(s4, s4);
        specularTerm[h] = toFloat(_mm_mul_pd(_mm_mul_pd(s8, s8), s4));
        dt[h] = _mm_cvtps_pd(diffuseTerm[h]);
    });

    // Clamp to 5..250: minpd and maxpd return their second operand for NaN,
    // so NaN (a vertex on the light or the eye) counts as unlit (5).
    both([&](int h) {
        alignas(16) float out[3][4];
        for (int ch = 0; ch < 3; ++ch) {
            const __m128d v = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(c.diffuse[ch]), dt[h]),
                                         _mm_mul_pd(_mm_set1_pd(c.specular[ch]), specularTerm[h]));
            const __m128d clamped = _mm_max_pd(_mm_min_pd(_mm_set1_pd(250.0), v), _mm_set1_pd(5.0));
            _mm_store_ps(out[ch], _mm_cvtpd_ps(clamped));
        }
        for (int lane = 0; lane < 2; ++lane) {
            ShadeJob& j = *job[2 * h + lane];
            j.red = out[0][lane];
            j.green = out[1][lane];
            j.blue = out[2][lane];
        }
    });
}

ShadeJob shadeJobs[litBatch * 3];
int cornerJob[litBatch][3];  // the job lighting each corner of the batch, or -1

} // namespace

void lightVertices(ClipVertex* vertices, const Vector3* normals, int count, const Vector3& lv, Colour diffuse,
                   Colour specular)
{
    const Colours colours = coloursOf(diffuse, specular);
    for (int first = 0; first < count; first += 4) {
        Vector3 toVertex[4], view[4];
        ShadeJob jobs[4];
        ShadeJob* four[4];
        for (int k = 0; k < 4; ++k) {
            const int i = std::min(first + k, count - 1);
            const Vector3 p(vertices[i].x, vertices[i].y, vertices[i].z);
            toVertex[k] = (p - lv).normalised();
            view[k] = p.normalised();
            jobs[k] = {&normals[i], &toVertex[k], &view[k], i, 0.0f, 0.0f, 0.0f};
            four[k] = &jobs[k];
        }
        shadeFour(four, colours);
        for (int k = 0; k < 4 && first + k < count; ++k) {
            vertices[first + k].red = jobs[k].red;
            vertices[first + k].green = jobs[k].green;
            vertices[first + k].blue = jobs[k].blue;
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
    for (int i = 0; i < mesh.vertexCount; ++i)
        viewVertices[i] = transformPoint(mv, mesh.vertices[i]);

    // Faces that pass the quick sign test wait in small groups for their unit
    // normals, which are then worked out two at a time.
    struct Candidate {
        const Face* face;
        Vector3 centre;
        Vector3 raw;
    };
    constexpr int candidateGroup = 64;
    Candidate candidates[candidateGroup];
    int waiting = 0;
    int visible = 0;
    const auto keepVisible = [&]() {
        for (int j = 0; j < waiting; j += 2) {
            Vector3 normals[2];
            const int pair = j + 1 < waiting ? 2 : 1;
            normalisePair(candidates[j].raw, candidates[j + pair - 1].raw, normals[0], normals[1]);
            for (int m = 0; m < pair; ++m) {
                const Vector3& centre = candidates[j + m].centre;
                const Vector3& n = normals[m];
                const double s = static_cast<double>(centre.z) * n.z +
                                 static_cast<double>(n.x) * camera.cullScaleX * centre.x +
                                 static_cast<double>(centre.y) * camera.cullScaleY * n.y;
                if (!(s < 0.0))
                    continue;
                if (visible == renderFaceCapacity) {
                    reportOnce(reportedFaces, "visible faces", visible + 1, renderFaceCapacity);
                    return false;
                }
                VisibleFace& entry = visibleFaces[visible++];
                entry.key = static_cast<float>(1.0 / static_cast<double>(centre.z));
                entry.face = candidates[j + m].face;
                entry.normal = n;
            }
        }
        waiting = 0;
        return true;
    };
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
        candidates[waiting++] = {&face, centre, raw};
        if (waiting == candidateGroup && !keepVisible())
            return false;
    }
    if (!keepVisible())
        return false;
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
        int jobs = 0;
        int kept = 0;
        for (int b = 0; b < batchCount; ++b) {
            const VisibleFace& entry = visibleFaces[batchEnd - 1 - b];
            LitTriangle& t = litTriangles[kept];
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
                t.screen[k] = {work.screenX, work.screenY};
                t.inside = t.inside && work.inside;
            }
            // A triangle the clipper would drop whole draws nothing: it is
            // neither lit nor set up.
            if (!t.inside && clippedAway(t.corners, 3))
                continue;
            for (int k = 0; k < 3; ++k) {
                const int i = entry.face->v[k];
                VertexWork& work = vertexWork[i];
                ClipVertex& corner = t.corners[k];
                if (work.litStamp == currentStamp && sameBits(work.litNormal, entry.normal)) {
                    cornerJob[kept][k] = work.litJob;
                    if (work.litJob < 0) {
                        corner.red = work.litRed;
                        corner.green = work.litGreen;
                        corner.blue = work.litBlue;
                    }
                } else {
                    shadeJobs[jobs] = {&entry.normal, &work.fromLight, &work.fromEye, i, 0.0f, 0.0f, 0.0f};
                    work.litStamp = currentStamp;
                    work.litNormal = entry.normal;
                    work.litJob = jobs;
                    cornerJob[kept][k] = jobs++;
                }
            }
            ++kept;
        }
        // The lighting of the batch, four vertices at a time (the last job
        // repeated to fill the last four).
        for (int j = 0; j < jobs; j += 4) {
            ShadeJob* const four[4] = {&shadeJobs[j], &shadeJobs[std::min(j + 1, jobs - 1)],
                                       &shadeJobs[std::min(j + 2, jobs - 1)], &shadeJobs[std::min(j + 3, jobs - 1)]};
            shadeFour(four, colours);
        }
        for (int j = 0; j < jobs; ++j) {
            VertexWork& work = vertexWork[shadeJobs[j].vertex];
            if (work.litJob == j) {
                work.litJob = -1;
                work.litRed = shadeJobs[j].red;
                work.litGreen = shadeJobs[j].green;
                work.litBlue = shadeJobs[j].blue;
            }
        }
        for (int b = 0; b < kept; ++b) {
            LitTriangle& t = litTriangles[b];
            for (int k = 0; k < 3; ++k)
                if (const int j = cornerJob[b][k]; j >= 0) {
                    t.corners[k].red = shadeJobs[j].red;
                    t.corners[k].green = shadeJobs[j].green;
                    t.corners[k].blue = shadeJobs[j].blue;
                }
            setGradients(t);
        }
        for (int b = 0; b < kept; ++b) {
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
