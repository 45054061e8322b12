// Ripple-grid scene: a camera circles above a 10 x 10 grid of tiles rocked
// by a ring wave, while a wobbling sphere sinks onto the grid inside two
// glowing shells; the title slides across and seven name pairs fade in
// below it. Opens on a white flash.
#include "scenes/scene5.hpp"

#include "scenes/shared.hpp"
#include "content/geosphere.hpp"
#include "engine/box.hpp"
#include "engine/camera.hpp"
#include "engine/render_mesh.hpp"
#include "image/blur.hpp"
#include "image/font.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "scenes/scenes.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <numbers>

namespace {

// The title, then the seven pairs from the top row down.
constexpr const char* pairTexts[8] = {
    "relations of love",
    "velmirk & oskant",
    "tiblo & marrenn",
    "quibra & fuddrik",
    "ellusk & brondip",
    "nawek & pilloch",
    "zerrit & amvela",
    "odrune & kesslip",
};

Mesh* tileBox = nullptr;
Mesh* blobMaster = nullptr;  // rest positions, never changed
Mesh* blobMesh = nullptr;    // the wobbling copy, rewritten every frame
Image pairImages[8];
PixelBox pairBoxes[8];  // where each text has pixels: only that part is added

Colour rgb(int red, int green, int blue)
{
    return static_cast<Colour>(red) << 16 | static_cast<Colour>(green) << 8 | static_cast<Colour>(blue);
}

BlobHeights blobHeights;

} // namespace

BlobHeights findBlobHeights(const Vector3* rest, int count)
{
    BlobHeights b;
    b.heights = new float[count];
    b.ofVertex = new int[count];
    b.swingX = new double[count];
    b.swingZ = new double[count];
    for (int i = 0; i < count; ++i) {
        const float y = rest[i].y;
        int k = 0;
        while (k < b.count && std::bit_cast<std::uint32_t>(b.heights[k]) != std::bit_cast<std::uint32_t>(y))
            ++k;
        if (k == b.count)
            b.heights[b.count++] = y;
        b.ofVertex[i] = k;
    }
    return b;
}

void wobbleVertices(BlobHeights& heights, const Vector3* rest, Vector3* out, int count, float T)
{
    const double t = T;
    for (int k = 0; k < heights.count; ++k) {
        const double s = 0.05 * heights.heights[k] + 3.3 * t;
        heights.swingX[k] = 10.0 * std::sin(3.0 * t + s);
        heights.swingZ[k] = 10.0 * std::sin(s + 3.5 * t + 2.0);
    }
    for (int i = 0; i < count; ++i) {
        const int k = heights.ofVertex[i];
        out[i] = Vector3(static_cast<float>(rest[i].x + heights.swingX[k]), rest[i].y,
                         static_cast<float>(rest[i].z + heights.swingZ[k]));
    }
}

float tileHeight(int i, int j, float T)
{
    constexpr double pi = std::numbers::pi;
    const double front = (static_cast<double>(T) - 1.0) * 15.0;
    const double v = front - std::sqrt(static_cast<double>((i - 5) * (i - 5) + (j - 5) * (j - 5)));
    // Square root over the first unit so the front starts gently.
    const double along = v < 0.0 ? 0.0 : v < 1.0 ? std::sqrt(v) : v;
    const double m = std::fmod(along, 7.0 * pi);
    const double amplitude = m <= 2.0 * pi ? 30.0 : 5.0;
    return m <= 4.0 * pi ? static_cast<float>(-amplitude * std::sin(m)) : 0.0f;
}

float pairFade(float x)
{
    if (x < 0.0f)
        return 0.0f;
    if (x > 1.5f)
        return 1.0f;
    const double s = std::sin(static_cast<double>(x) * std::numbers::pi / 3.0);
    return static_cast<float>(s * s);
}

void prepareScene5()
{
    tileBox = makeBox(1.0f, 1.0f, 1.0f);
    blobMaster = makeGeosphere(40.0f, 3);  // normals and bounding box included
    blobMesh = blobMaster->clone();
    blobHeights = findBlobHeights(blobMaster->vertices, blobMaster->vertexCount);
    for (int k = 0; k < 8; ++k) {
        renderTextImage(font, pairImages[k], pairTexts[k], 0x00FFFFFFu, 0);
        blurImage(pairImages[k], 0.0f, 0.8f, 0.8f, 0.8f);
        pairBoxes[k] = contentBox(pairImages[k]);
    }
}

void scene5(Image& frame, float, float sceneTime, float progress, float, int)
{
    // A frame late enough to pass the scene's end still draws the end.
    const float p = clampUnit(progress);
    const float T = sceneTime / 4.0f;
    const double t = T;

    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(320.0f, 160.0f, 320.0f, 160.0f);
    camera.target.value = Vector3(0.0f, 0.0f, 0.0f);
    const float eyeX = static_cast<float>(100.0 * std::cos(t));
    const float eyeZ = static_cast<float>(100.0 * std::sin(t));
    camera.position.value = Vector3(eyeX, 100.0f, eyeZ);
    camera.fov.value = 2.1991148f;
    camera.updateView();
    PointLight light;
    light.position.value = Vector3(eyeX, 200.0f, eyeZ);

    clearImage(frame, 0x082010u);

    // Only the position changes from tile to tile: the linear part of the
    // local matrix is built once and the translation written per tile, as
    // updateLocalMatrix would.
    tileBox->scale.value = Vector3(13.0f, 1.0f, 13.0f);
    tileBox->updateLocalMatrix();
    // A tile's height depends on its squared distance from the wave's centre
    // cell alone (0 to 50): each is worked out once.
    float heights[51];
    bool known[51] = {};
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j) {
            const int d2 = (i - 5) * (i - 5) + (j - 5) * (j - 5);
            if (!known[d2]) {
                heights[d2] = tileHeight(i, j, T);
                known[d2] = true;
            }
            const Vector3 at(static_cast<float>((i - 4.5) * 30.0), heights[d2], static_cast<float>((j - 4.5) * 30.0));
            tileBox->position.value = at;
            tileBox->localMatrix.m[9] = at.x;
            tileBox->localMatrix.m[10] = at.y;
            tileBox->localMatrix.m[11] = at.z;
            renderMesh(frame, camera, *tileBox, light, rgb(5 * i, 5 * j, 5 * (i + j)), 0xE0E0E0u,
                       GouraudAdditive, false);
        }

    wobbleVertices(blobHeights, blobMaster->vertices, blobMesh->vertices, blobMaster->vertexCount, T);
    blobMesh->computeFaceNormals();  // renderMesh reads no vertex normals
    blobMesh->position.value = Vector3(0.0f, static_cast<float>(std::max(30.0, 200.0 - 100.0 * t)), 0.0f);
    blobMesh->scale.value = Vector3(1.0f, 1.0f, 1.0f);
    blobMesh->updateLocalMatrix();
    // Only the core is sorted; the additive shells look the same in any order.
    renderMesh(frame, camera, *blobMesh, light, 0x203040u, 0x404040u, Gouraud, true);
    for (int e = 1; e <= 2; ++e) {
        const float s = static_cast<float>(1.0 + 0.2 * e);
        blobMesh->scale.value = Vector3(s, s, s);
        blobMesh->updateLocalMatrix();
        renderMesh(frame, camera, *blobMesh, light, 0x304050u, 0x202020u, GouraudAdditive, false);
    }

    const Image& title = pairImages[0];
    const double sweep = std::sin(std::numbers::pi * p);
    addBoxScaled(title, pairBoxes[0], frame, static_cast<int>((frameWidth - title.width) * static_cast<double>(p)), 10,
                 static_cast<float>(sweep * sweep * sweep * sweep));
    for (int k = 1; k <= 7; ++k) {
        const float f = pairFade(sceneTime / 2.0f - static_cast<float>(k));
        if (f > 0.0f)
            addBoxScaled(pairImages[k], pairBoxes[k], frame, (frameWidth - pairImages[k].width) / 2, 44 + 33 * (k - 1),
                         f);
    }

    const double flash = std::pow(static_cast<double>(clampUnit(1.0f - 10.0f * p)), 20.0);
    if (flash > 0.01) {
        const int g = static_cast<int>(255.0 * flash);
        addColour(frame, rgb(g, g, g));
    }
}
