// renderMesh's packed double arithmetic four lanes at a time, compiled with
// -mavx2 on x86-64 only. Each lane takes the operations of one lane of the
// 16-byte form in render_mesh.cpp, in the same order, so the results keep
// their bits. Only the records' fields and unnamed-namespace helpers are
// used here, no shared inline function: a copy compiled with AVX2 could be
// the one the linker keeps for callers that run on any x86-64.
#include "engine/corner_rows.hpp"
#include "engine/render_mesh_wide.hpp"

#include <immintrin.h>

#include <cstdint>

namespace {

// x, y, z of a vector in the low three floats, without reading past it.
__m128 loadVector(const Vector3& v)
{
    return _mm_movelh_ps(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(&v.x)), _mm_load_ss(&v.z));
}

__m256d toFloat(__m256d v)
{
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(v));
}

__m256d dot(__m256d x0, __m256d y0, __m256d z0, __m256d x1, __m256d y1, __m256d z1)
{
    return _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x0, x1), _mm256_mul_pd(y0, y1)), _mm256_mul_pd(z0, z1));
}

struct Points {
    __m256d x, y, z;
};

// The x, y and z (low three floats) of four points as doubles.
Points quadOf(__m128 p0, __m128 p1, __m128 p2, __m128 p3)
{
    _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
    return {_mm256_cvtps_pd(p0), _mm256_cvtps_pd(p1), _mm256_cvtps_pd(p2)};
}

// The matrix in every lane.
struct WideMatrix {
    __m256d m[12];
};

WideMatrix wideMatrix(const Matrix& m)
{
    WideMatrix w;
    for (int k = 0; k < 12; ++k)
        w.m[k] = _mm256_set1_pd(m.m[k]);
    return w;
}

// Not yet rounded to float.
Points transform(const WideMatrix& w, const Points& p)
{
    const __m256d* m = w.m;
    const auto row = [&](int j) {
        return _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(p.x, m[j]), _mm256_mul_pd(p.y, m[3 + j])),
                                           _mm256_mul_pd(p.z, m[6 + j])),
                             m[9 + j]);
    };
    return {row(0), row(1), row(2)};
}

// Items first .. first + 3, the last of count repeated past the end.
int itemAt(int first, int k, int count)
{
    return first + k < count ? first + k : count - 1;
}

} // namespace

void wide::transformVertices(const Vector3* vertices, int count, const Matrix& matrix, float* view)
{
    const WideMatrix m = wideMatrix(matrix);
    for (int i = 0; i < count; i += 4) {
        int at[4];
        for (int k = 0; k < 4; ++k)
            at[k] = itemAt(i, k, count);
        const Points v = transform(m, quadOf(loadVector(vertices[at[0]]), loadVector(vertices[at[1]]),
                                             loadVector(vertices[at[2]]), loadVector(vertices[at[3]])));
        __m128 p[4] = {_mm256_cvtpd_ps(v.x), _mm256_cvtpd_ps(v.y), _mm256_cvtpd_ps(v.z), _mm_setzero_ps()};
        _MM_TRANSPOSE4_PS(p[0], p[1], p[2], p[3]);
        for (int k = 0; k < 4; ++k)
            _mm_store_ps(view + 4 * at[k], p[k]);
    }
}

namespace {

// Four faces culled: which are kept (bits 0..3), their unit normals and
// sort keys as 16-byte groups, ready to be written out.
struct CulledFour {
    int keep;
    __m128 group[4];
};

} // namespace

int wide::cullFaces(const Mesh& mesh, const float* view, const Matrix& directions, const Camera& camera,
                    VisibleFace* out, int capacity, const UnitNormal* known, UnitNormal* found)
{
    const WideMatrix m = wideMatrix(directions);
    const __m256d third = _mm256_set1_pd(static_cast<double>(0.33333f)), one = _mm256_set1_pd(1.0);
    const __m256d cullX = _mm256_set1_pd(camera.cullScaleX), cullY = _mm256_set1_pd(camera.cullScaleY);
    const int count = mesh.faceCount;
    const auto cullFour = [&](int f) {
        int at[4];
        const Face* face[4];
        for (int k = 0; k < 4; ++k) {
            at[k] = itemAt(f, k, count);
            face[k] = &mesh.faces[at[k]];
        }
        Points c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = quadOf(_mm_load_ps(view + 4 * face[0]->v[k]), _mm_load_ps(view + 4 * face[1]->v[k]),
                          _mm_load_ps(view + 4 * face[2]->v[k]), _mm_load_ps(view + 4 * face[3]->v[k]));
        const auto centre = [&](__m256d Points::*axis) {
            return toFloat(_mm256_mul_pd(_mm256_add_pd(_mm256_add_pd(c[0].*axis, c[1].*axis), c[2].*axis), third));
        };
        const __m256d cx = centre(&Points::x), cy = centre(&Points::y), cz = centre(&Points::z);
        __m128 nxF, nyF, nzF;
        if (known) {
            __m128 unused;
            nxF = _mm_load_ps(&known[at[0]].x), nyF = _mm_load_ps(&known[at[1]].x);
            nzF = _mm_load_ps(&known[at[2]].x), unused = _mm_load_ps(&known[at[3]].x);
            _MM_TRANSPOSE4_PS(nxF, nyF, nzF, unused);
        } else {
            const Vector3* normals = mesh.faceNormals;
            const Points raw = transform(m, quadOf(loadVector(normals[at[0]]), loadVector(normals[at[1]]),
                                                   loadVector(normals[at[2]]), loadVector(normals[at[3]])));
            const __m256d rx = toFloat(raw.x), ry = toFloat(raw.y), rz = toFloat(raw.z);
            const __m256d r = _mm256_div_pd(one, toFloat(_mm256_sqrt_pd(dot(rx, ry, rz, rx, ry, rz))));
            nxF = _mm256_cvtpd_ps(_mm256_mul_pd(rx, r));
            nyF = _mm256_cvtpd_ps(_mm256_mul_pd(ry, r));
            nzF = _mm256_cvtpd_ps(_mm256_mul_pd(rz, r));
            if (found) {
                __m128 n[4] = {nxF, nyF, nzF, _mm_setzero_ps()};
                _MM_TRANSPOSE4_PS(n[0], n[1], n[2], n[3]);
                for (int k = 0; k < 4; ++k)
                    _mm_store_ps(&found[at[k]].x, n[k]);
            }
        }
        const __m256d nx = _mm256_cvtps_pd(nxF), ny = _mm256_cvtps_pd(nyF), nz = _mm256_cvtps_pd(nzF);
        const __m256d s =
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(cz, nz), _mm256_mul_pd(_mm256_mul_pd(nx, cullX), cx)),
                          _mm256_mul_pd(_mm256_mul_pd(cy, cullY), ny));
        CulledFour four;
        four.keep = _mm256_movemask_pd(_mm256_cmp_pd(s, _mm256_setzero_pd(), _CMP_LT_OS));
        if (count - f < 4)
            four.keep &= (1 << (count - f)) - 1;
        // The normal and the sort key 1/c.z, as each face's 16-byte group.
        four.group[0] = nxF, four.group[1] = nyF, four.group[2] = nzF;
        four.group[3] = _mm256_cvtpd_ps(_mm256_div_pd(one, cz));
        _MM_TRANSPOSE4_PS(four.group[0], four.group[1], four.group[2], four.group[3]);
        return four;
    };
    // Each group's long chain of roots and divisions ends in the choice of
    // faces kept: the faces are written out one group behind, so that the
    // next group's chain runs meanwhile and the choice is known by then.
    int visible = 0;
    const auto writeOut = [&](int f, const CulledFour& four) {
        for (int lane = 0; lane < 4; ++lane) {
            if (!(four.keep & (1 << lane)))
                continue;
            if (visible == capacity)
                return false;
            VisibleFace& entry = out[visible++];
            entry.face = &mesh.faces[f + lane];
            _mm_storeu_ps(&entry.normal.x, four.group[lane]);
        }
        return true;
    };
    if (count <= 0)
        return 0;
    CulledFour pending = cullFour(0);
    for (int f = 4; f < count; f += 4) {
        const CulledFour next = cullFour(f);
        if (!writeOut(f - 4, pending))
            return -1;
        pending = next;
    }
    if (!writeOut((count - 1) / 4 * 4, pending))
        return -1;
    return visible;
}

namespace {

// The lighting of four corners is one long chain of dependent steps
// (conversions, two dot products, a root, a division, a power), too long
// for the processor to overlap one group's chain with the next by itself.
// It is split in two halves and the loop runs the second half of one group
// beside the first half of the next.
struct HalfShaded {
    CornerRows rows;
    __m128 diffuseTerm;
    __m256d rx, ry, rz, length;
};

[[gnu::always_inline]] inline HalfShaded firstHalf(const CornerToShade* c)
{
    const __m256d sign = _mm256_set1_pd(-0.0), zero = _mm256_setzero_pd();
    HalfShaded h;
    h.rows = cornerRows(c);
    const __m128 *n = h.rows.n, *l = h.rows.l;
    const __m256d nx = _mm256_cvtps_pd(n[0]), ny = _mm256_cvtps_pd(n[1]), nz = _mm256_cvtps_pd(n[2]);
    const __m256d lx = _mm256_cvtps_pd(l[0]), ly = _mm256_cvtps_pd(l[1]), lz = _mm256_cvtps_pd(l[2]);

    // Diffuse: max(0, -(n·L)), as a float.
    h.diffuseTerm = _mm256_cvtpd_ps(_mm256_max_pd(zero, _mm256_xor_pd(dot(nx, ny, nz, lx, ly, lz), sign)));
    // R = normalise(n·2d + L), in floats; then its length and reciprocal in doubles.
    const __m128 k = _mm_mul_ps(_mm_set1_ps(2.0f), h.diffuseTerm);
    h.rx = _mm256_cvtps_pd(_mm_add_ps(_mm_mul_ps(n[0], k), l[0]));
    h.ry = _mm256_cvtps_pd(_mm_add_ps(_mm_mul_ps(n[1], k), l[1]));
    h.rz = _mm256_cvtps_pd(_mm_add_ps(_mm_mul_ps(n[2], k), l[2]));
    h.length = toFloat(_mm256_sqrt_pd(dot(h.rx, h.ry, h.rz, h.rx, h.ry, h.rz)));
    return h;
}

[[gnu::always_inline]] inline void secondHalf(const CornerToShade* c, const HalfShaded& h, const double diffuse[3],
                                              const double specular[3])
{
    const __m256d sign = _mm256_set1_pd(-0.0), zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    const __m128* v = h.rows.v;
    const __m256d r = _mm256_div_pd(one, h.length);
    const __m256d rv = dot(toFloat(_mm256_mul_pd(h.rx, r)), toFloat(_mm256_mul_pd(h.ry, r)),
                           toFloat(_mm256_mul_pd(h.rz, r)), _mm256_cvtps_pd(v[0]), _mm256_cvtps_pd(v[1]),
                           _mm256_cvtps_pd(v[2]));
    // Specular: max(0, -(R·V)) to the 20th, as a float.
    const __m256d s = _mm256_max_pd(zero, _mm256_xor_pd(rv, sign));
    const __m256d s2 = _mm256_mul_pd(s, s), s4 = _mm256_mul_pd(s2, s2), s8 = _mm256_mul_pd(s4, s4);
    const __m256d specularTerm = toFloat(_mm256_mul_pd(_mm256_mul_pd(s8, s8), s4));

    // Red, green and blue, clamped to 5..250 after the rounding to
    // float, NaN as 5, as the 16-byte form does.
    const __m256d dt = _mm256_cvtps_pd(h.diffuseTerm);
    __m128 lit[3];
    for (int ch = 0; ch < 3; ++ch) {
        const __m128 value = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(diffuse[ch]), dt),
                                                           _mm256_mul_pd(_mm256_set1_pd(specular[ch]), specularTerm)));
        lit[ch] = _mm_max_ps(_mm_min_ps(_mm_set1_ps(250.0f), value), _mm_set1_ps(5.0f));
    }
    writeCorners(c, h.rows, lit);
}

} // namespace

void wide::shadeCorners(const CornerToShade* corners, int count, const double diffuse[3], const double specular[3])
{
    if (count <= 0)
        return;
    HalfShaded pending = firstHalf(corners);
    for (int j = 4; j < count; j += 4) {
        const HalfShaded next = firstHalf(corners + j);
        secondHalf(corners + j - 4, pending, diffuse, specular);
        pending = next;
    }
    secondHalf(corners + count - 4, pending, diffuse, specular);
}

void wide::triangleRows(const ShadedCorner* const corners[4], TriangleRows& rows)
{
    // Corner k of the four triangles: x, y, blue, green, red, as floats
    // and as doubles.
    __m128 fx[3], fy[3], fblue[3], fgreen[3], fred[3];
    __m256d x[3], y[3], blue[3], green[3], red[3];
    for (int k = 0; k < 3; ++k) {
        const ShadedCorner &a = corners[0][k], &b = corners[1][k], &c = corners[2][k], &d = corners[3][k];
        __m128 p0 = _mm_loadu_ps(&a.x), p1 = _mm_loadu_ps(&b.x), p2 = _mm_loadu_ps(&c.x), p3 = _mm_loadu_ps(&d.x);
        _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
        fx[k] = p0, fy[k] = p1, fblue[k] = p2, fgreen[k] = p3;
        fred[k] = _mm_setr_ps(a.red, b.red, c.red, d.red);
        x[k] = _mm256_cvtps_pd(p0);
        y[k] = _mm256_cvtps_pd(p1);
        blue[k] = _mm256_cvtps_pd(p2);
        green[k] = _mm256_cvtps_pd(p3);
        red[k] = _mm256_cvtps_pd(fred[k]);
        // fixedCorner: times 65536 in floats (exact), truncated.
        const __m128 scale = _mm_set1_ps(65536.0f);
        rows.x[k] = _mm_cvttps_epi32(_mm_mul_ps(fx[k], scale));
        rows.y[k] = _mm_cvttps_epi32(_mm_mul_ps(fy[k], scale));
        rows.blue[k] = _mm_cvttps_epi32(_mm_mul_ps(fblue[k], scale));
        rows.green[k] = _mm_cvttps_epi32(_mm_mul_ps(fgreen[k], scale));
        rows.red[k] = _mm_cvttps_epi32(_mm_mul_ps(fred[k], scale));
    }
    const __m256d x10 = _mm256_sub_pd(x[1], x[0]), y10 = _mm256_sub_pd(y[1], y[0]);
    const __m256d x20 = _mm256_sub_pd(x[2], x[0]), y20 = _mm256_sub_pd(y[2], y[0]);
    const __m256d d = _mm256_sub_pd(_mm256_mul_pd(x10, y20), _mm256_mul_pd(x20, y10));
    const __m256d scale = _mm256_set1_pd(65536.0);
    const auto channel = [&](const __m256d* c, __m128i& ddx, __m128i& ddy) {
        const __m256d c10 = _mm256_sub_pd(c[1], c[0]), c20 = _mm256_sub_pd(c[2], c[0]);
        const __m256d nx = _mm256_sub_pd(_mm256_mul_pd(c10, y20), _mm256_mul_pd(c20, y10));
        const __m256d ny = _mm256_sub_pd(_mm256_mul_pd(c20, x10), _mm256_mul_pd(c10, x20));
        ddx = _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_mul_pd(nx, scale), d));
        ddy = _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_mul_pd(ny, scale), d));
    };
    channel(blue, rows.dBdx, rows.dBdy);
    channel(green, rows.dGdx, rows.dGdy);
    channel(red, rows.dRdx, rows.dRdy);
}

void wide::vertexWorkOf(const std::int32_t* list, int count, const float* view, const Vector3& lv,
                        const Camera& camera, VertexWork* work)
{
    const __m128 zeroFloats = _mm_setzero_ps(), signFloats = _mm_set1_ps(-0.0f);
    const __m128 lightX = _mm_set1_ps(lv.x), lightY = _mm_set1_ps(lv.y), lightZ = _mm_set1_ps(lv.z);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d scaleX = _mm256_set1_pd(camera.scaleX), scaleY = _mm256_set1_pd(camera.scaleY);
    const __m256d centreX = _mm256_set1_pd(camera.centerX), centreY = _mm256_set1_pd(camera.centerY);
    // Divided by its length as Vector3::normalised does: the length rounded
    // to float, one reciprocal, each product rounded.
    const auto normalised = [&](__m128 x, __m128 y, __m128 z, __m128 out[3]) {
        const __m256d dx = _mm256_cvtps_pd(x), dy = _mm256_cvtps_pd(y), dz = _mm256_cvtps_pd(z);
        const __m256d r = _mm256_div_pd(one, toFloat(_mm256_sqrt_pd(dot(dx, dy, dz, dx, dy, dz))));
        out[0] = _mm256_cvtpd_ps(_mm256_mul_pd(dx, r));
        out[1] = _mm256_cvtpd_ps(_mm256_mul_pd(dy, r));
        out[2] = _mm256_cvtpd_ps(_mm256_mul_pd(dz, r));
    };
    for (int first = 0; first < count; first += 4) {
        int at[4];
        for (int k = 0; k < 4; ++k)
            at[k] = list[itemAt(first, k, count)];
        __m128 x = _mm_load_ps(view + 4 * at[0]), y = _mm_load_ps(view + 4 * at[1]);
        __m128 z = _mm_load_ps(view + 4 * at[2]), spare = _mm_load_ps(view + 4 * at[3]);
        _MM_TRANSPOSE4_PS(x, y, z, spare);
        __m128 fromLight[3], fromEye[3];
        normalised(_mm_sub_ps(x, lightX), _mm_sub_ps(y, lightY), _mm_sub_ps(z, lightZ), fromLight);
        normalised(x, y, z, fromEye);
        // The projection: w = 1/z as a float, then x·w·scaleX + centerX and
        // centerY - y·w·scaleY in doubles.
        const __m256d w = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_div_pd(one, _mm256_cvtps_pd(z))));
        const __m128 screenX = _mm256_cvtpd_ps(
            _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_cvtps_pd(x), w), scaleX), centreX));
        const __m128 screenY = _mm256_cvtpd_ps(
            _mm256_sub_pd(centreY, _mm256_mul_pd(_mm256_mul_pd(_mm256_cvtps_pd(y), w), scaleY)));
        // Outside a plane where its function is not <= 0 (NaN included):
        // bit p of each lane for plane p.
        const auto outside = [&](__m128 f, int plane) {
            return _mm_and_ps(_mm_cmp_ps(f, zeroFloats, _CMP_NLE_UQ), _mm_castsi128_ps(_mm_set1_epi32(1 << plane)));
        };
        const __m128 bits = _mm_or_ps(
            _mm_or_ps(_mm_or_ps(outside(_mm_sub_ps(_mm_set1_ps(1.0f), z), 0), outside(_mm_sub_ps(x, z), 1)),
                      _mm_or_ps(outside(_mm_sub_ps(_mm_xor_ps(x, signFloats), z), 2), outside(_mm_sub_ps(y, z), 3))),
            outside(_mm_sub_ps(_mm_xor_ps(y, signFloats), z), 4));
        // Each vertex's two groups of direction and screen coordinate.
        __m128 light[4] = {fromLight[0], fromLight[1], fromLight[2], screenX};
        __m128 eye[4] = {fromEye[0], fromEye[1], fromEye[2], screenY};
        _MM_TRANSPOSE4_PS(light[0], light[1], light[2], light[3]);
        _MM_TRANSPOSE4_PS(eye[0], eye[1], eye[2], eye[3]);
        alignas(16) unsigned planes[4];
        _mm_store_ps(reinterpret_cast<float*>(planes), bits);
        for (int k = 0; k < 4; ++k) {
            VertexWork& v = work[at[k]];
            _mm_store_ps(&v.fromLight.x, light[k]);
            _mm_store_ps(&v.fromEye.x, eye[k]);
            v.outside = planes[k];
        }
    }
}
