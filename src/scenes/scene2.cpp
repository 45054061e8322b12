// Rhythm discs: three white discs circling the centre throw light streaks
// from a point on their circle that jumps with the music every eight rows; a
// rounded diamond of green rings flows round them, a column of teal spheres
// tumbles upward on the right, and two verses of a poem drift through.
#include "scenes/scene2.hpp"

#include "scenes/shared.hpp"
#include "content/geosphere.hpp"
#include "content/radial_blur.hpp"
#include "content/tcb_track.hpp"
#include "engine/camera.hpp"
#include "engine/render_mesh.hpp"
#include "image/blur.hpp"
#include "image/font.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "music/music.hpp"
#include "scenes/scenes.hpp"

#include <cmath>
#include <numbers>

double rhythmPhase = 0.0;

namespace {

constexpr double pi = std::numbers::pi;
constexpr int ringCount = 20;
constexpr int sphereCount = 6;

const char* const poemLines[6] = {"there is a world", "outside your world", "yet to be explored",
                                  "there is a world", "inside my world",    "too complex to be denied"};

Mesh* sphereMesh = nullptr;
Image poemImages[6];
Vector3 pathPoints[ringCount];
// The ring path's keys never change, so the track is built once rather
// than every frame; evaluating it changes nothing in it.
TcbTrack* pathTrack = nullptr;

Colour rgb(int red, int green, int blue)
{
    return static_cast<Colour>(red) << 16 | static_cast<Colour>(green) << 8 | static_cast<Colour>(blue);
}

// Each channel level x q, truncated.
Colour faded(int red, int green, int blue, double q)
{
    return rgb(static_cast<int>(red * q), static_cast<int>(green * q), static_cast<int>(blue * q));
}

void disc(Image& frame, double x, double y, double radius, Colour colour)
{
    drawDisc(frame.pixels, frame.pitch, frameWidth, frameHeight, static_cast<float>(x), static_cast<float>(y),
             static_cast<float>(radius), colour);
}

void drawSphereColumn(Image& frame, const Camera& camera, const Light& light, double t, float scale,
                      Colour diffuse, Colour specular)
{
    const double s = std::fmod(0.3 * t, 1.0);
    for (int i = 0; i < sphereCount; ++i) {
        const double turn = i + s;
        sphereMesh->position.value = Vector3(150.0f, static_cast<float>(50.0 * (i - 3 + s)), 0.0f);
        sphereMesh->scale.value = Vector3(scale, scale, scale);
        sphereMesh->rotation.value = Quaternion::fromAxisAngle(1.0f, 0.0f, 0.0f, static_cast<float>(2.5 * turn)) *
                                     Quaternion::fromAxisAngle(0.0f, 1.0f, 0.0f, static_cast<float>(2.0 * turn));
        sphereMesh->updateLocalMatrix();
        renderMesh(frame, camera, *sphereMesh, light, diffuse, specular, Gouraud, false);
    }
}

} // namespace

StreakCentre streakCentre(int row, double phase, double radius)
{
    const int k = row / 8 * 2;
    const double a = k * pi / 3.0 + phase;
    return {static_cast<float>(320.0 + radius * std::sin(a)), static_cast<float>(160.0 + radius * std::cos(a))};
}

double textBump(double x)
{
    if (!(x >= 0.0 && x <= 1.0))
        return 0.0;
    const double s = std::sin(pi * x);
    return s * s;
}

void drawRhythmLayers(Image& frame, float t, float dt, float q)
{
    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(320.0f, 160.0f, 320.0f, 160.0f);
    camera.target.value = Vector3(0.0f, 0.0f, 0.0f);
    camera.position.value = Vector3(0.0f, 0.0f, -300.0f);
    camera.fov.value = 1.2566371f;
    camera.updateView();
    PointLight light;
    light.position.value = camera.position.value;

    const double time = t;
    const Colour white = faded(255, 255, 255, q);
    const Colour highlight = faded(224, 224, 224, q);

    const double r = 60.0 - 20.0 * std::sin(time);
    for (int i = 0; i <= 4; i += 2) {
        const double angle = i * pi / 3.0 + rhythmPhase;
        disc(frame, 320.0 + r * std::cos(angle), 160.0 + r * std::sin(angle), 40.0, white);
    }

    // Equal shares of the loop that slide one share along every 0.5 s, so
    // each wrap of u puts every point where its predecessor was.
    const double u = std::fmod(0.1 * time, 0.05);
    const double w = 20.0 * u;
    double radius[ringCount];
    for (int i = 0; i < ringCount; ++i) {
        pathPoints[i] = pathTrack->evaluate(static_cast<float>(u + 0.05 * i));
        radius[i] = 10.0 + 7.0 * std::sin((i + w) * 6.0 * 0.15707963267948966 + time);
    }
    for (int i = 0; i < ringCount; ++i)
        disc(frame, pathPoints[i].x, pathPoints[i].y, radius[i], 0);

    const StreakCentre centre = streakCentre(FMUSIC_GetRow(song), rhythmPhase, r);
    radialBlur(frame, centre.x, centre.y, 0.97f, 0.975f);

    const Colour ring = faded(96, 128, 64, q);
    for (int i = 0; i < ringCount; ++i) {
        disc(frame, pathPoints[i].x, pathPoints[i].y, radius[i], 0);
        disc(frame, pathPoints[i].x, pathPoints[i].y, radius[i] - 1.0, ring);
    }

    // A slightly larger white copy under each teal sphere shows as a pale rim.
    drawSphereColumn(frame, camera, light, time, 1.1f, white, highlight);
    drawSphereColumn(frame, camera, light, time, 1.0f, faded(35, 71, 67, q), highlight);

    // 0.5 rad/s, and up to 5 more during the first pi/5 s of every 2 pi s.
    rhythmPhase += 0.5 * dt;
    double v = std::fmod(5.0 * time, 10.0 * pi);
    if (v > pi)
        v = 0.0;
    const double burst = std::sin(v);
    rhythmPhase = std::fmod(rhythmPhase + 5.0 * dt * burst * burst, 2.0 * pi);
}

void prepareScene2()
{
    sphereMesh = makeGeosphere(25.0f, 1);
    for (int k = 0; k < 6; ++k) {
        renderTextImage(font, poemImages[k], poemLines[k], 0x00FFFFFFu, 0);
        blurImage(poemImages[k], 0.0f, 0.8f, 0.8f, 0.8f);
    }
    pathTrack = new TcbTrack(ringCount);
    pathTrack->closed = true;
    const Vector3 corners[4] = {{320, 80, 0}, {400, 160, 0}, {320, 240, 0}, {240, 160, 0}};
    for (int k = 0; k < 4; ++k)
        pathTrack->addKey(static_cast<float>(k), corners[k], -0.95f, 0.0f, 0.0f);
    pathTrack->computeTangents();
}

void scene2(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant)
{
    // A frame that skips a whole entry arrives with progress above 1; the
    // fades stop at their ends instead of wrapping the colour bytes.
    const float p = clampUnit(progress);
    clearImage(frame, 0);
    const float q = variant == 0 ? p : variant == 3 ? 1.0f - p : 1.0f;
    drawRhythmLayers(frame, sceneTime, frameTime, q);

    if (variant == 1 || variant == 2) {
        const Image* lines = poemImages + (variant == 1 ? 0 : 3);
        const double u = 1.5 * p;
        const auto add = [&](const Image& image, int x, int y, double factor) {
            addImageScaled(image, frame, 0, 0, x, y, image.width, image.height, static_cast<float>(factor));
        };
        add(lines[0], 20, static_cast<int>(50.0f * p + 180.0f), textBump(u));
        add(lines[1], static_cast<int>(50.0f * p), 230, textBump(u - 0.25));
        add(lines[2], 60, static_cast<int>(290.0f - 50.0f * p), textBump(u - 0.5));
    }

    rowNoiseTint(frame, static_cast<float>(demoTime * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
}
