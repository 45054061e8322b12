// Ray-traced spheres beside a monitor view: six coloured spheres on the axes,
// lit by two swinging lights and traced in the left panel while the camera
// circles them; the right panel shows a dim copy with a wire cube around
// each sphere, now and then smeared sideways.
#include "scenes/scene6.hpp"

#include "scenes/shared.hpp"
#include "content/sphere_tracer.hpp"
#include "engine/box.hpp"
#include "engine/camera.hpp"
#include "engine/line.hpp"
#include "image/blur.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "image/simd.hpp"
#include "scenes/scenes.hpp"

#include <cmath>
#include <cstdint>

TraceSample sampleGrid[sampleGridSize][sampleGridSize];

namespace {

Mesh* wireBox = nullptr;
constexpr Colour backgroundColour = 0x000000;
constexpr Colour wireColour = 0x667788;
constexpr Colour crosshairColour = 0x558855;

void drawWireBoxes(Image& frame, const Camera& camera)
{
    for (const TraceSphere& sphere : traceSpheres) {
        wireBox->position.value = sphere.centre;
        wireBox->updateLocalMatrix();
        const Matrix mv = multiply(camera.viewMatrix, wireBox->worldMatrix());
        Matrix directions = mv;
        directions.m[9] = directions.m[10] = directions.m[11] = 0.0f;
        for (int f = 0; f < wireBox->faceCount; ++f) {
            const Face& face = wireBox->faces[f];
            Vector3 p[3];
            for (int k = 0; k < 3; ++k)
                p[k] = transformPoint(mv, wireBox->vertices[face.v[k]]);
            constexpr double third = 0.33333f;
            const Vector3 c(static_cast<float>((static_cast<double>(p[0].x) + p[1].x + p[2].x) * third),
                            static_cast<float>((static_cast<double>(p[0].y) + p[1].y + p[2].y) * third),
                            static_cast<float>((static_cast<double>(p[0].z) + p[1].z + p[2].z) * third));
            const Vector3 n = transformPoint(directions, wireBox->faceNormals[f]).normalised();
            const double s = static_cast<double>(c.z) * n.z + static_cast<double>(camera.cullScaleX) * c.x * n.x +
                             static_cast<double>(camera.cullScaleY) * c.y * n.y;
            if (!(s < 0.0))
                continue;
            float sx[3], sy[3];
            for (int k = 0; k < 3; ++k) {
                sx[k] = static_cast<float>(camera.centerX + static_cast<double>(camera.scaleX) * p[k].x / p[k].z);
                sy[k] = static_cast<float>(camera.centerY - static_cast<double>(camera.scaleY) * p[k].y / p[k].z);
            }
            for (int k = 0; k < 3; ++k)
                drawLineAA(frame, sx[k], sy[k], sx[(k + 1) % 3], sy[(k + 1) % 3], wireColour);
        }
    }
}

} // namespace

namespace {

// Four pixels of the monitor from four of the left panel: v in every byte
// lane is v * 0x010101 with no carries, since 0x33 + 127 stays below 256.
inline __m128i monitorPixels(__m128i p)
{
    const __m128i v = _mm_and_si128(_mm_srli_epi32(p, 9), _mm_set1_epi32(127));
    const __m128i spread = _mm_or_si128(_mm_or_si128(v, _mm_slli_epi32(v, 8)), _mm_slli_epi32(v, 16));
    return _mm_add_epi32(_mm_set1_epi32(0x112233), spread);
}

inline void copyFour(std::uint32_t* row, int x)
{
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x + 320), monitorPixels(p));
}

} // namespace

void copyToMonitor(Image& frame)
{
    if (frame.width < 640 || frame.height < 320)
        return;
    for (int y = 0; y < 320; ++y) {
        std::uint32_t* row = frame.row(y);
        for (int x = 0; x < 320; x += 4)
            copyFour(row, x);
    }
}

void copyTracedToMonitor(Image& frame)
{
    if (frame.width < 640 || frame.height < 320)
        return;
    // A block whose corners all miss is black, and the copy of black is
    // the base colour.
    const __m128i base = _mm_set1_epi32(0x112233);
    constexpr int blocks = sampleGridSize - 1;
    for (int by = 0; by < blocks; ++by) {
        bool empty[blocks];
        for (int bx = 0; bx < blocks; ++bx)
            empty[bx] = (sampleGrid[by][bx].hitMask | sampleGrid[by][bx + 1].hitMask |
                         sampleGrid[by + 1][bx].hitMask | sampleGrid[by + 1][bx + 1].hitMask) == 0;
        for (int y = 8 * by; y < 8 * by + 8; ++y) {
            std::uint32_t* row = frame.row(y);
            for (int bx = 0; bx < blocks; ++bx) {
                const int x = 8 * bx;
                if (empty[bx]) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x + 320), base);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x + 324), base);
                } else {
                    copyFour(row, x);
                    copyFour(row, x + 4);
                }
            }
        }
    }
}

void drawPanelBorder(Image& frame, int x, int w)
{
    fillRect(frame, x, 0, x + w - 1, 4, wireColour);
    fillRect(frame, x, 315, x + w - 1, 319, wireColour);
    fillRect(frame, x, 0, x + 4, 319, wireColour);
    fillRect(frame, x + w - 5, 0, x + w - 1, 319, wireColour);
}

void drawCrosshair(Image& frame)
{
    for (int k = 0; k <= 18; ++k) {
        const int a = 12 + 16 * k;
        fillRect(frame, 480, a, 480, a + 8, crosshairColour);
        fillRect(frame, 320 + a, 160, 328 + a, 160, crosshairColour);
    }
}

namespace {

constexpr int panelSize = 320;

} // namespace

void smearPanel(Image& frame, int coefficient)
{
    if (frame.width < 2 * panelSize || frame.height < panelSize)
        return;
    blurLines(frame.row(0) + panelSize, 4, frame.pitch, panelSize, panelSize, coefficient, coefficient, coefficient,
              coefficient);
}

int smearCoefficient(float T)
{
    const double s = std::sin(static_cast<double>(T));
    return s >= 0.0 ? static_cast<int>(16383.0 / (1.0 + 25.0 * s)) : 16383;
}

void aimCamera(Camera& camera, float T)
{
    const double t = T;
    camera.setScreenSize(640, 480);
    camera.setViewport(320.0f, 160.0f, 320.0f, 160.0f);
    camera.position.value = Vector3(static_cast<float>(550.0 * std::sin(0.5 * t)),
                                    static_cast<float>(500.0 * std::sin(0.3 * t)),
                                    static_cast<float>(-500.0 * std::cos(0.5 * t)));
    camera.target.value = Vector3(0.0f, 0.0f, 0.0f);
    camera.updateView();
}

TraceView setUpTraceView(const Camera& camera, float T)
{
    // The rays of the window (-0.5 .. 0.5, -0.25 .. 0.25) of the pre-scaled
    // view space, turned back into the world.
    const Matrix toWorld = camera.viewDirectionsToWorld();
    const Vector3 topLeft = transformPoint(toWorld, -0.5f, 0.25f, 1.0f).normalised();
    const Vector3 topRight = transformPoint(toWorld, 0.5f, 0.25f, 1.0f).normalised();
    const Vector3 bottomLeft = transformPoint(toWorld, -0.5f, -0.25f, 1.0f).normalised();
    const auto blockStep = [](const Vector3& from, const Vector3& to) {
        return Vector3(static_cast<float>((static_cast<double>(to.x) - from.x) * 0.003125 * 8),
                       static_cast<float>((static_cast<double>(to.y) - from.y) * 0.003125 * 8),
                       static_cast<float>((static_cast<double>(to.z) - from.z) * 0.003125 * 8));
    };

    const double t = T;
    traceLights[0].position = Vector3(static_cast<float>(500.0 * std::sin(1.2 * t)),
                                      static_cast<float>(400.0 + 200.0 * std::sin(1.3 * t)),
                                      static_cast<float>(500.0 * std::cos(1.15 * t)));
    traceLights[1].position = Vector3(static_cast<float>(2000.0 * std::sin(0.7 * t)),
                                      static_cast<float>(400.0 + 200.0 * std::sin(1.2 * t)),
                                      static_cast<float>(2000.0 * std::cos(0.7 * t)));
    const Vector3 eye = camera.position.value;
    prepareTraceFrame(eye);
    return {eye, topLeft, blockStep(topLeft, topRight), blockStep(topLeft, bottomLeft)};
}

namespace {

// The spheres that rays from the eye through first .. last (one row of the
// corner grid) could meet. The rays lie in the plane through the eye and
// both ends, to within the rounding of their float sums (a few millionths
// of a radian); a sphere whose centre lies farther from that plane than its
// radius plus a margin far beyond that is missed by every one of them, and
// its test would find the square root's argument far below zero.
std::uint32_t spheresNearRow(const Vector3& eye, const Vector3& first, const Vector3& last)
{
    const double nx = static_cast<double>(first.y) * last.z - static_cast<double>(first.z) * last.y;
    const double ny = static_cast<double>(first.z) * last.x - static_cast<double>(first.x) * last.z;
    const double nz = static_cast<double>(first.x) * last.y - static_cast<double>(first.y) * last.x;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    std::uint32_t mask = 0;
    for (int i = 0; i < traceSphereCount; ++i) {
        const Vector3& c = traceSpheres[i].centre;
        const double distance = std::fabs(nx * (static_cast<double>(c.x) - eye.x) +
                                          ny * (static_cast<double>(c.y) - eye.y) +
                                          nz * (static_cast<double>(c.z) - eye.z));
        if (!(distance > (traceSpheres[i].radius + 1.0) * length))
            mask |= 1u << i;
    }
    return mask;
}

} // namespace

void traceBlocks(Image& frame, const TraceView& view)
{
    if (frame.width < 320 || frame.height < 320)
        return;
    constexpr std::uint32_t allSpheres = (1u << traceSphereCount) - 1;
    constexpr std::uint32_t allLights = (1u << traceLightCount) - 1;
    Vector3 rowStart = view.topLeft;
    TraceSample* row[sampleGridSize];
    for (int r = 0; r < sampleGridSize; ++r) {
        Vector3 dir = rowStart;
        for (int c = 0; c < sampleGridSize; ++c) {
            TraceSample& s = sampleGrid[r][c];
            // A ray that misses keeps its masks, so they are cleared here
            // for the frame not to depend on the frames before it.
            s = {};
            s.origin = view.eye;
            s.direction = dir;
            s.sphere = -2;
            row[c] = &s;
            dir = dir + view.colStep;
        }
        traceSamples(row, sampleGridSize,
                     allSpheres & spheresNearRow(view.eye, row[0]->direction, row[sampleGridSize - 1]->direction),
                     allLights);
        rowStart = rowStart + view.rowStep;
    }
    // A row of blocks at a time; the refinement only reads the grid.
    BlockCorners blocks[sampleGridSize - 1];
    for (int by = 0; by < sampleGridSize - 1; ++by) {
        for (int bx = 0; bx < sampleGridSize - 1; ++bx)
            blocks[bx] = {8 * bx, 8 * by, {&sampleGrid[by][bx], &sampleGrid[by][bx + 1], &sampleGrid[by + 1][bx],
                                           &sampleGrid[by + 1][bx + 1]}};
        subdivideBlocks(frame, blocks, sampleGridSize - 1, 3, view.colStep, view.rowStep, &backgroundColour);
    }
}

void prepareScene6()
{
    wireBox = makeBox(70.0f, 70.0f, 70.0f);
    initSqrtTables();
    const TraceColour orange{1.0f, 0.5f, 0.25f}, green{0.5f, 1.0f, 0.25f}, blue{0.25f, 0.5f, 1.0f};
    const Vector3 centres[traceSphereCount] = {{100, 0, 0}, {-100, 0, 0}, {0, 100, 0},
                                               {0, -100, 0}, {0, 0, 100}, {0, 0, -100}};
    const TraceColour colours[traceSphereCount] = {orange, orange, green, green, blue, blue};
    for (int i = 0; i < traceSphereCount; ++i) {
        traceSpheres[i] = {};
        traceSpheres[i].centre = centres[i];
        traceSpheres[i].colour = colours[i];
        traceSpheres[i].radius = 70.0f;
    }
    traceLights[0].colour = {1.0f, 0.6f, 0.3f};
    traceLights[1].colour = {0.6f, 0.3f, 1.0f};
}

void scene6(Image& frame, float, float sceneTime, float, float, int)
{
    // The panels, the smear and the tracer's blocks are laid out for the
    // show's frame; a smaller image is left alone.
    if (frame.width < frameWidth || frame.height < frameHeight)
        return;
    const float T = sceneTime;
    // The left panel's background: traceBlocks writes it where no ray meets
    // a sphere, and the copy to the monitor overwrites column 320.

    Camera camera;
    aimCamera(camera, T);
    traceBlocks(frame, setUpTraceView(camera, T));

    copyTracedToMonitor(frame);

    camera.setViewport(480.0f, 160.0f, 320.0f, 320.0f);
    camera.updateView();
    drawWireBoxes(frame, camera);

    smearPanel(frame, smearCoefficient(T));

    drawCrosshair(frame);
    drawPanelBorder(frame, 0, 325);
    drawPanelBorder(frame, 320, 320);
    rowNoiseTint(frame, static_cast<float>(T * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
}
