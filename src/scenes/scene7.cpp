// Dented sphere and greetings: a large sphere pushed in by four invisible
// points that wander round it, drawn additively on dark green, dashed scan
// lines that stop short of it, brief vertical and horizontal smears, and ten
// greetings fading in one after another in two columns.
#include "scenes/scene7.hpp"

#include "scenes/shared.hpp"
#include "content/geosphere.hpp"
#include "engine/camera.hpp"
#include "engine/render_mesh.hpp"
#include "image/blur.hpp"
#include "image/font.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "image/simd.hpp"
#include "image/wide.hpp"
#include "scenes/scenes.hpp"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace {

// Drawn in this order: left column first, row after row.
constexpr const char* greetings[10] = {
    "brask7", "quellorn", "tivane3", "plomberk", "zunderik",
    "kelvatro", "ashfern2", "dwimmelk", "orrisbay", "vintrop",
};

constexpr Colour background = 0x002200;
constexpr int scanLookAhead = 32;

Mesh* dentMaster = nullptr;
Repeller repellers[4];
Image greetingImages[10];
PixelBox greetingBoxes[10];  // where each greeting has pixels: only that part is added

} // namespace

Mesh* dentMesh = nullptr;

void applyRepellers(const Vector3* rest, Vector3* out, int count, const Repeller* repellers, int repellerCount)
{
    if (wideVectors()) {
        wide::applyRepellers(rest, out, count, repellers, repellerCount);
        return;
    }
    // Two vertices at a time, one per lane, with the scalar roundings: the
    // difference in floats, the rest in doubles, the sum rounded once.
    const auto floats = [](float a, float b) { return _mm_setr_ps(a, b, 0.0f, 0.0f); };
    for (int i = 0; i < count; i += 2) {
        const int j = i + 1 < count ? i + 1 : i;
        const Vector3 p = rest[i], q = rest[j];
        const __m128 px = floats(p.x, q.x), py = floats(p.y, q.y), pz = floats(p.z, q.z);
        __m128d x = _mm_cvtps_pd(px), y = _mm_cvtps_pd(py), z = _mm_cvtps_pd(pz);
        for (int r = 0; r < repellerCount; ++r) {
            const Vector3& at = repellers[r].position;
            const __m128d dx = _mm_cvtps_pd(_mm_sub_ps(_mm_set1_ps(at.x), px));
            const __m128d dy = _mm_cvtps_pd(_mm_sub_ps(_mm_set1_ps(at.y), py));
            const __m128d dz = _mm_cvtps_pd(_mm_sub_ps(_mm_set1_ps(at.z), pz));
            const __m128d squares =
                _mm_add_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)), _mm_mul_pd(dz, dz));
            const __m128d k = _mm_div_pd(_mm_set1_pd(repellers[r].strength), _mm_add_pd(squares, _mm_set1_pd(800.0)));
            x = _mm_add_pd(x, _mm_mul_pd(dx, k));
            y = _mm_add_pd(y, _mm_mul_pd(dy, k));
            z = _mm_add_pd(z, _mm_mul_pd(dz, k));
        }
        alignas(16) float v[3][4];
        _mm_store_ps(v[0], _mm_cvtpd_ps(x));
        _mm_store_ps(v[1], _mm_cvtpd_ps(y));
        _mm_store_ps(v[2], _mm_cvtpd_ps(z));
        out[i] = Vector3(v[0][0], v[1][0], v[2][0]);
        out[j] = Vector3(v[0][1], v[1][1], v[2][1]);
    }
}

void placeRepellers(Repeller* repellers, float T)
{
    const double t = T;
    const double paths[4][3][2] = {
        {{0.6135, -2.0}, {0.3315, -1.0}, {0.2315, 0.0}},
        {{0.2563, 1.0}, {0.5335, 2.0}, {0.3315, 3.0}},
        {{0.4135, 4.0}, {0.2315, 5.0}, {0.4155, 6.0}},
        {{0.3135, 7.0}, {0.2351, 8.0}, {0.7155, 9.0}},
    };
    for (int r = 0; r < 4; ++r) {
        const auto& p = paths[r];
        const Vector3 v(static_cast<float>(200.0 * std::cos(p[0][0] * t + p[0][1])),
                        static_cast<float>(200.0 * std::cos(p[1][0] * t + p[1][1])),
                        static_cast<float>(200.0 * std::cos(p[2][0] * t + p[2][1])));
        repellers[r].position = v.normalised() * 120.0f;
    }
}

namespace {

// The first of pixels[0 .. count) that is not the background, or count;
// four at a time.
int firstNotBackground(const std::uint32_t* pixels, int count)
{
    const __m128i bg = _mm_set1_epi32(static_cast<int>(background));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i));
        if (const int same = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(p, bg))); same != 0xF)
            return i + std::countr_one(static_cast<unsigned>(same));
    }
    for (; i < count && pixels[i] == background; ++i) {
    }
    return i;
}

// The last of pixels[0 .. count) that is not the background, or -1.
int lastNotBackground(const std::uint32_t* pixels, int count)
{
    const __m128i bg = _mm_set1_epi32(static_cast<int>(background));
    int i = count;
    for (; i >= 4; i -= 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i - 4));
        if (const int same = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(p, bg))); same != 0xF)
            return i - 1 - std::countl_one(static_cast<unsigned>(same) << 28);
    }
    for (--i; i >= 0 && pixels[i] == background; --i) {
    }
    return i;
}

} // namespace

void drawScanLines(Image& frame)
{
    const int w = frame.width;
    const auto dash = [](int x) { return static_cast<Colour>(((x & 16) + 0x22) * 512); };
    for (int y = 16; y <= 304; y += 32) {
        std::uint32_t* row = frame.row(y);
        // Left part: pixel x is tested at x + 32, which past the row's end
        // runs on into the next row. A dash is written only behind the test
        // pixels, so the first failing test can be found before writing.
        int stop = firstNotBackground(row + scanLookAhead, w - scanLookAhead);
        if (stop == w - scanLookAhead)
            stop += firstNotBackground(frame.row(y + 1), scanLookAhead);
        for (int x = 0; x < stop; ++x)
            row[x] = dash(x);
        // Right part, from the right edge: pixel x is tested at x - 32,
        // which before the row's start runs back into the previous row; its
        // test pixels include the left part's dashes.
        int last = lastNotBackground(row, w - scanLookAhead);
        last = last >= 0 ? last + scanLookAhead : lastNotBackground(frame.row(y - 1) + w - scanLookAhead, scanLookAhead);
        for (int x = w - 1; x > last; --x)
            row[x] = dash(x);
    }
}

SmearFactors drawSmearFactors()
{
    // Separate statements: the order of the draws is part of the picture.
    const double e1 = nextNoise();
    const double e2 = nextNoise();
    const double e3 = nextNoise();
    return {static_cast<float>(0.1 + 0.09 * e3), static_cast<float>(0.1 + 0.09 * e2),
            static_cast<float>(0.1 + 0.09 * e1)};
}

float greetingFade(float x)
{
    if (x < 0.0f)
        return 0.0f;
    if (x > 1.0f)
        return 1.0f;
    const double s = std::sin(x * (std::numbers::pi / 2.0));
    return static_cast<float>(s * s);
}

void prepareScene7()
{
    dentMaster = makeGeosphere(100.0f, 4);
    dentMesh = dentMaster->clone();
    repellers[0].strength = -3000.0f;
    repellers[1].strength = -3000.0f;
    repellers[2].strength = -2000.0f;
    repellers[3].strength = -2000.0f;
    for (int k = 0; k < 10; ++k) {
        renderTextImage(font, greetingImages[k], greetings[k], 0xFFFFFFu, 0);
        blurImage(greetingImages[k], 0.0f, 0.8f, 0.8f, 0.8f);
        greetingBoxes[k] = contentBox(greetingImages[k]);
    }
}

void scene7(Image& frame, float, float sceneTime, float, float, int)
{
    const float T = sceneTime;

    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(320.0f, 160.0f, 320.0f, 160.0f);
    camera.target.value = Vector3(-50.0f, 0.0f, 0.0f);
    camera.position.value = Vector3(-50.0f, 0.0f, -300.0f);
    camera.fov.value = 1.2566371f;
    camera.updateView();
    PointLight light;
    light.position.value = Vector3(-500.0f, 150.0f, -200.0f);

    placeRepellers(repellers, T);
    applyRepellers(dentMaster->vertices, dentMesh->vertices, dentMesh->vertexCount, repellers, 4);
    dentMesh->computeFaceNormals();  // renderMesh reads no vertex normals
    dentMesh->computeBoundingBox();

    dentMesh->position.value = Vector3(0.0f, 0.0f, 0.0f);
    dentMesh->rotation.value = Quaternion::fromAxisAngle(1.0f, 0.0f, 0.0f, static_cast<float>(-0.4 * T)) *
                               Quaternion::fromAxisAngle(0.0f, 1.0f, 0.0f, static_cast<float>(-0.5 * T));
    dentMesh->updateLocalMatrix();

    clearImage(frame, background);
    renderMesh(frame, camera, *dentMesh, light, 0x888888u, 0xFFFFFFu, GouraudAdditive, false);

    // Each smear frame takes fresh noise, so a window never smears the same
    // way twice; the three values are drawn in this order.
    if (std::fmod(static_cast<double>(T), 10.2) < 0.5) {
        const SmearFactors f = drawSmearFactors();
        blurColumns(frame, 0.1f, f.red, f.green, f.blue);
    }

    drawScanLines(frame);

    if (std::fmod(static_cast<double>(T), 7.0) < 0.5) {
        const SmearFactors f = drawSmearFactors();
        blurRows(frame, 0.1f, f.red, f.green, f.blue);
    }

    for (int k = 0; k < 5; ++k) {
        const int y = 16 + 64 * k;
        addBoxScaled(greetingImages[2 * k], greetingBoxes[2 * k], frame, 10, y,
                     greetingFade(static_cast<float>(T - 1.075 * (2 * k - 1))));
        addBoxScaled(greetingImages[2 * k + 1], greetingBoxes[2 * k + 1], frame, 150, y,
                     greetingFade(static_cast<float>(T - 1.075 * (2 * k))));
    }
}

#if !defined(MORVANE_WIDE_VECTORS)
// Never called: wideVectors() is false where the AVX2 form is not built.
void wide::applyRepellers(const Vector3*, Vector3*, int, const Repeller*, int)
{
    std::abort();
}
#endif
