// Closing scene: a camera swings around and through a 5 x 5 x 5 lattice of
// spinning, breathing cubes over a dark green ground, under the logo and the
// title, and fades picture and music out.
#include "scenes/scene8.hpp"

#include "scenes/shared.hpp"
#include "engine/box.hpp"
#include "engine/camera.hpp"
#include "engine/render_mesh.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "music/music.hpp"
#include "scenes/scene1.hpp"
#include "scenes/scenes.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

CubeRecord cubeRecords[2 * cubeRecordHalf];

namespace {

Mesh* cubeBox = nullptr;

// One counter per byte value plus one, so the counts of value v land in
// slot v + 1 and the running sum turns them into starting offsets.
std::uint32_t radixCounts[257];

Colour rgb(int red, int green, int blue)
{
    return static_cast<Colour>(red) << 16 | static_cast<Colour>(green) << 8 | static_cast<Colour>(blue);
}

void radixPass(const CubeRecord* from, CubeRecord* to, int count, int shift)
{
    for (std::uint32_t& c : radixCounts)
        c = 0;
    for (int r = 0; r < count; ++r)
        ++radixCounts[((std::bit_cast<std::uint32_t>(from[r].sortKey) >> shift) & 0xFF) + 1];
    for (int v = 1; v < 257; ++v)
        radixCounts[v] += radixCounts[v - 1];
    for (int r = 0; r < count; ++r)
        to[radixCounts[(std::bit_cast<std::uint32_t>(from[r].sortKey) >> shift) & 0xFF]++] = from[r];
}

} // namespace

int collectLatticeCubes(const Matrix& view, float T, float a)
{
    const double t = T;
    // The spin and size of a cube depend on i - k, j + k and i + j + k only:
    // 9, 9 and 13 values, worked out once per frame instead of once per cube.
    Quaternion spinX[9], spinY[9];
    float size[13];
    for (int d = 0; d < 9; ++d) {
        spinX[d] = Quaternion::fromAxisAngle(1.0f, 0.0f, 0.0f, static_cast<float>(0.1 * (d - 4) + 3.0 * t));
        spinY[d] = Quaternion::fromAxisAngle(0.0f, 1.0f, 0.0f, static_cast<float>(0.1 * d + 3.1 * t));
    }
    for (int n = 0; n < 13; ++n)
        size[n] = static_cast<float>(2.0 + std::sin(n + t));
    // The spacing along the first axis breathes, each layer j in its own phase.
    double spacing[5];
    for (int j = 0; j < 5; ++j)
        spacing[j] = 2.0 - std::cos(0.1 * j + t);
    int count = 0;
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            const double w = spacing[j];
            for (int k = 0; k < 5; ++k) {
                const Vector3 p(static_cast<float>(5.0 * (i - 2.5) * w), static_cast<float>(5.0 * (j - 2.5)),
                                static_cast<float>(5.0 * (k - 2.5)));
                const Vector3 q = transformPoint(view, p);
                if (q.z <= 0.0f)
                    continue;
                CubeRecord& record = cubeRecords[count++];
                record.sortKey = 1.0f / q.z;
                const double fade = a;
                record.colour = rgb(static_cast<int>((5 + 2 * i) * fade), static_cast<int>((5 + 2 * j) * fade),
                                    static_cast<int>((5 + 2 * k) * fade));
                record.position = p;
                const float s = size[i + j + k];
                record.scale = Vector3(s, s, s);
                record.rotation = spinX[i - k + 4] * spinY[j + k];
            }
        }
    }
    return count;
}

void sortCubeRecords(int count)
{
    CubeRecord* first = cubeRecords;
    CubeRecord* second = cubeRecords + cubeRecordHalf;
    radixPass(first, second, count, 0);
    radixPass(second, first, count, 8);
    radixPass(first, second, count, 16);
    radixPass(second, first, count, 24);
}

void prepareScene8()
{
    cubeBox = makeBox(1.0f, 1.0f, 1.0f);
}

void scene8(Image& frame, float, float sceneTime, float progress, float, int variant)
{
    // A frame that skips a whole entry arrives with progress above 1; the
    // fades stop at their ends instead of turning negative or past full.
    const float p = clampUnit(progress);
    float a = 1.0f, b = 1.0f, c = 1.0f;
    if (variant == 0) {
        b = p;
    } else if (variant == 2) {
        a = b = c = 1.0f - p;
        if (song)
            FMUSIC_SetMasterVolume(song, static_cast<int>(240.0f * (1.0f - p)));
    }

    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(320.0f, 160.0f, 320.0f, 160.0f);
    PointLight light;
    const float T = sceneTime / 4.0f;

    clearImage(frame, rgb(static_cast<int>(8.0f * a), static_cast<int>(32.0f * a), static_cast<int>(16.0f * a)));

    const double phi = std::numbers::pi / 2.0 * std::sin(static_cast<double>(T));
    const double radius = 30.0 - 10.0 * std::cos(static_cast<double>(T));
    const Vector3 eye(static_cast<float>(radius * std::cos(T) * std::cos(phi)),
                      static_cast<float>(radius * std::sin(T) * std::cos(phi)),
                      static_cast<float>(radius * std::sin(phi)));
    camera.position.value = eye;
    camera.target.value = Vector3(0.0f, 0.0f, 0.0f);
    camera.fov.value = 2.1991148f;
    camera.updateView();
    light.position.value = Vector3(eye.x, eye.y + 5.0f, eye.z);

    const int count = collectLatticeCubes(camera.viewMatrix, T, a);
    sortCubeRecords(count);

    const int g = static_cast<int>(32.0f * a);
    for (int r = 0; r < count; ++r) {
        const CubeRecord& record = cubeRecords[r];
        cubeBox->position.value = record.position;
        cubeBox->scale.value = record.scale;
        cubeBox->rotation.value = record.rotation;
        cubeBox->updateLocalMatrix();
        renderMesh(frame, camera, *cubeBox, light, record.colour, rgb(g, g, g), Gouraud, 0);
    }

    rowNoiseTint(frame, static_cast<float>(0.33 * T), 0, 0, frameWidth, frameHeight, c);

    const int h = logoImage.height;
    addImageScaled(logoImage, frame, logoLeftX, 0, 70, logoY, logoLeftWidth, h, b);
    addImageScaled(logoImage, frame, logoRightX, 0, 459, logoY, logoRightWidth, h, b);
    addImageScaled(logoImage, frame, logoMiddleX, 0, 180, logoY, logoMiddleWidth, h, b);
    addImageScaled(titleImage, frame, 0, 0, (frameWidth - titleImage.width) / 2, 280, titleImage.width,
                   titleImage.height, b);
}
