#include "engine/mesh.hpp"

#include "engine/mesh_wide.hpp"
#include "image/simd.hpp"
#include "image/wide.hpp"

#include <algorithm>
#include <cstdlib>

Mesh::Mesh(int vertexCount, int faceCount)
{
    allocVertices(vertexCount);
    allocFaces(faceCount);
}

Mesh::Mesh(int vertexCount, int texCoordCount, int faceCount)
{
    allocVertices(vertexCount);
    allocTexCoords(texCoordCount);
    allocFaces(faceCount);
}

Vector3* Mesh::allocVertices(int n)
{
    vertices = new Vector3[n];
    vertexNormals = new Vector3[n];
    vertexCount = n;
    return vertices;
}

TexCoord* Mesh::allocTexCoords(int n)
{
    texCoords = new TexCoord[n];
    texCoordCount = n;
    return texCoords;
}

Face* Mesh::allocFaces(int n)
{
    faces = new Face[n];
    faceNormals = new Vector3[n];
    faceCount = n;
    return faces;
}

void Mesh::freeGeometry()
{
    vertexCount = 0;
    delete[] vertices;
    delete[] vertexNormals;
    vertices = vertexNormals = nullptr;
    texCoordCount = 0;
    delete[] texCoords;
    texCoords = nullptr;
    faceCount = 0;
    delete[] faces;
    delete[] faceNormals;
    faces = nullptr;
    faceNormals = nullptr;
}

namespace {

// Vectors divided by their lengths two at a time, one per lane of packed
// doubles, with the roundings of Vector3::normalised: the length rounded to
// a float, one reciprocal, each component rounded to a float.
void normaliseLanes(__m128d x, __m128d y, __m128d z, Vector3& a, Vector3& b)
{
    const auto toFloat = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
    const __m128d squares = _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y)), _mm_mul_pd(z, z));
    const __m128d r = _mm_div_pd(_mm_set1_pd(1.0), toFloat(_mm_sqrt_pd(squares)));
    alignas(16) float out[3][4];
    _mm_store_ps(out[0], _mm_cvtpd_ps(_mm_mul_pd(x, r)));
    _mm_store_ps(out[1], _mm_cvtpd_ps(_mm_mul_pd(y, r)));
    _mm_store_ps(out[2], _mm_cvtpd_ps(_mm_mul_pd(z, r)));
    a = Vector3(out[0][0], out[1][0], out[2][0]);
    b = Vector3(out[0][1], out[1][1], out[2][1]);
}

// x, y, z of a vertex in the low three floats (the fourth 0), without
// reading past it.
__m128 loadVertex(const Vector3& v)
{
    return _mm_movelh_ps(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(&v.x)), _mm_load_ss(&v.z));
}

// The unit normals of two faces: edge vectors in floats (the four edges of
// both faces at once), the cross product in doubles rounded to floats, as
// Vector3::cross.
void faceNormalPair(const Vector3* v, const Face& f, const Face& g, Vector3& nf, Vector3& ng)
{
    const __m128 p = loadVertex(v[f.v[0]]), q = loadVertex(v[g.v[0]]);
    const __m128 a1 = _mm_sub_ps(loadVertex(v[f.v[1]]), p), a2 = _mm_sub_ps(loadVertex(v[f.v[2]]), p);
    const __m128 b1 = _mm_sub_ps(loadVertex(v[g.v[1]]), q), b2 = _mm_sub_ps(loadVertex(v[g.v[2]]), q);
    // (a.x, b.x), (a.y, b.y), (a.z, b.z) as pairs of doubles.
    const auto lanes = [](__m128 a, __m128 b, __m128d& x, __m128d& y, __m128d& z) {
        const __m128 low = _mm_unpacklo_ps(a, b);
        x = _mm_cvtps_pd(low);
        y = _mm_cvtps_pd(_mm_movehl_ps(low, low));
        z = _mm_cvtps_pd(_mm_unpackhi_ps(a, b));
    };
    __m128d x1, y1, z1, x2, y2, z2;
    lanes(a1, b1, x1, y1, z1);
    lanes(a2, b2, x2, y2, z2);
    const auto toFloat = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
    const __m128d cx = toFloat(_mm_sub_pd(_mm_mul_pd(y1, z2), _mm_mul_pd(z1, y2)));
    const __m128d cy = toFloat(_mm_sub_pd(_mm_mul_pd(z1, x2), _mm_mul_pd(x1, z2)));
    const __m128d cz = toFloat(_mm_sub_pd(_mm_mul_pd(x1, y2), _mm_mul_pd(y1, x2)));
    normaliseLanes(cx, cy, cz, nf, ng);
}

} // namespace

void Mesh::computeNormals()
{
    for (int i = 0; i < vertexCount; ++i)
        vertexNormals[i] = Vector3::zero;
    // Two faces at a time, so that their square roots and divisions overlap;
    // the sums at the vertices keep the face order.
    for (int f = 0; f < faceCount; f += 2) {
        const int g = f + 1 < faceCount ? f + 1 : f;
        Vector3 nf, ng;
        faceNormalPair(vertices, faces[f], faces[g], nf, ng);
        faceNormals[f] = nf;
        for (int k = 0; k < 3; ++k)
            vertexNormals[faces[f].v[k]] = vertexNormals[faces[f].v[k]] + nf;
        if (g == f)
            break;
        faceNormals[g] = ng;
        for (int k = 0; k < 3; ++k)
            vertexNormals[faces[g].v[k]] = vertexNormals[faces[g].v[k]] + ng;
    }
    for (int i = 0; i < vertexCount; i += 2) {
        const int j = i + 1 < vertexCount ? i + 1 : i;
        const Vector3 a = vertexNormals[i], b = vertexNormals[j];
        normaliseLanes(_mm_setr_pd(a.x, b.x), _mm_setr_pd(a.y, b.y), _mm_setr_pd(a.z, b.z), vertexNormals[i],
                       vertexNormals[j]);
    }
}

void Mesh::computeFaceNormals()
{
    if (wideVectors()) {
        wide::faceNormals(vertices, faces, faceCount, faceNormals);
        return;
    }
    for (int f = 0; f + 1 < faceCount; f += 2)
        faceNormalPair(vertices, faces[f], faces[f + 1], faceNormals[f], faceNormals[f + 1]);
    if (faceCount % 2 == 1) {
        Vector3 unused;
        faceNormalPair(vertices, faces[faceCount - 1], faces[faceCount - 1], faceNormals[faceCount - 1], unused);
    }
}

Mesh* Mesh::clone() const
{
    Mesh* copy = new Mesh(*this);
    copy->vertices = new Vector3[vertexCount > 0 ? vertexCount : 0];
    std::copy(vertices, vertices + std::max(vertexCount, 0), copy->vertices);
    return copy;
}

void Mesh::bakeTransform()
{
    updateLocalMatrix();
    const Matrix world = worldMatrix();
    for (int i = 0; i < vertexCount; ++i)
        vertices[i] = transformPoint(world, vertices[i]);
    computeNormals();
}

void Mesh::computeBoundingBox()
{
    // minps(p, lo) is p < lo ? p : lo, the comparison of the one-value form,
    // so NaN and signed zeros come out the same.
    __m128 lo = _mm_set1_ps(1e30f), hi = _mm_set1_ps(-1e30f);
    for (int i = 0; i < vertexCount; ++i) {
        const __m128 p = loadVertex(vertices[i]);
        lo = _mm_min_ps(p, lo);
        hi = _mm_max_ps(p, hi);
    }
    alignas(16) float low[4], high[4];
    _mm_store_ps(low, lo);
    _mm_store_ps(high, hi);
    for (int k = 0; k < 8; ++k)
        bounds.corners[k] = Vector3((k & 1) ? high[0] : low[0], (k & 2) ? high[1] : low[1], (k & 4) ? high[2] : low[2]);
}

#if !defined(MORVANE_WIDE_VECTORS)
// Never called: wideVectors() is false where the four-lane form is not built.
void wide::faceNormals(const Vector3*, const Face*, int, Vector3*)
{
    std::abort();
}
#endif
