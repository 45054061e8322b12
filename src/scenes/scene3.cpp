// Tree-and-slab scene: six branching trees, a large one at the lower middle
// and five small ones on an arc above it, each seen by its own circling
// camera on a turning base box, a tower of four additive slabs turning in
// the middle, four text lines one after the other, and a white flash at the
// end.
#include "scenes/scene3.hpp"

#include "scenes/shared.hpp"
#include "content/program_rand.hpp"
#include "engine/box.hpp"
#include "engine/camera.hpp"
#include "engine/line.hpp"
#include "engine/render_mesh.hpp"
#include "image/blur.hpp"
#include "image/font.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "scenes/scenes.hpp"

#include <cmath>
#include <initializer_list>
#include <numbers>

BranchTree branchTrees[branchTreeCount];

namespace {

// Shared by the slab tower and the trees' bases. Only the tower sets its
// scale, so the bases keep the last slab's (the first frame: the box's own).
Mesh* sceneBox = nullptr;

constexpr int lineCount = 4;
Image lineImages[lineCount];
const char* const lineTexts[lineCount] = {"in my eternal search", "i got lost", "but fortunatly...",
                                          "i found a guide"};

// The flash and the trees never share a frame; at exactly this level neither shows.
constexpr float flashThreshold = 0.1f;

Colour rgb(int red, int green, int blue)
{
    return static_cast<Colour>(red) << 16 | static_cast<Colour>(green) << 8 | static_cast<Colour>(blue);
}

Colour grey(int level)
{
    return static_cast<Colour>(level) * 0x010101u;
}

// The cold blue-grey of the boxes, scaled.
Colour boxColour(float level)
{
    return rgb(static_cast<int>(70.0f * level), static_cast<int>(88.0f * level), static_cast<int>(118.0f * level));
}

void drawSlabTower(Image& frame, float sceneTime, float brightness)
{
    PointLight light;
    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(320.0f, 160.0f, 320.0f, 160.0f);
    camera.position.value = Vector3(0.0f, 15.0f, -30.0f);
    camera.target.value = Vector3::zero;
    camera.updateView();
    light.position.value = camera.position.value;
    const Colour diffuse = boxColour(brightness);
    const Colour specular = grey(static_cast<int>(255.0f * brightness));
    for (int m = 0; m < 4; ++m) {
        const float width = static_cast<float>(1.2 - 0.2 * m);
        sceneBox->position.value = Vector3(0.0f, static_cast<float>(2 * m - 2), 0.0f);
        sceneBox->rotation.value = Quaternion::fromAxisAngle(worldUp.x, worldUp.y, worldUp.z,
                                                             static_cast<float>((0.6 + 0.1 * m) * sceneTime));
        sceneBox->scale.value = Vector3(width, 1.0f, width);
        sceneBox->updateLocalMatrix();
        renderMesh(frame, camera, *sceneBox, light, diffuse, specular, GouraudAdditive, false);
    }
}

} // namespace

float lineFade(float t)
{
    if (t < 0.0f || t > 4.0f)
        return 0.0f;
    const double s = std::sin(t * std::numbers::pi / 4.0);
    return static_cast<float>(s * s);
}

Scene3Levels scene3Levels(int variant, float progress)
{
    // A frame that skips a whole entry arrives with progress above 1; the
    // levels stop at their ends instead of turning negative or past full,
    // which would wrap the colours made from them.
    const float p = clampUnit(progress);
    switch (variant) {
    case 0:
        return {p, clampUnit(2.0f * p), 0.0f};
    case 2:
        return {clampUnit(1.0f - 2.0f * p), 1.0f - p, static_cast<float>(std::pow(static_cast<double>(p), 20.0))};
    default:
        return {1.0f, 1.0f, 0.0f};
    }
}

void drawTreeView(Image& frame, int tree, float centreX, float centreY, float distance, float phase, float time,
                  float amount)
{
    PointLight light;
    BranchTree& t = branchTrees[tree];
    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(centreX, centreY, 320.0f, 160.0f);
    const double theta = 0.5 * time + phase;
    camera.position.value = Vector3(static_cast<float>(distance * std::cos(theta)), 50.0f,
                                    static_cast<float>(distance * std::sin(theta)));
    camera.target.value = Vector3::zero;
    camera.updateView();

    t.twist = static_cast<float>(0.4 * std::sin(0.2 * time + 0.3 * tree));
    t.spread = static_cast<float>(0.8 - 0.6 * std::exp(-0.1 * time));
    t.growForDrawing(0, t.depth);

    const int g = static_cast<int>(240.0f * amount);
    const Colour glow = grey(g);

    const Vector3 foot = camera.project(transformPoint(camera.viewMatrix, unitZ));
    drawDisc(frame.pixels, frame.pitch, frame.width, frame.height, foot.x, foot.y, 8000.0f * foot.z, glow);

    // Three strokes from the large tree's foot make one thick tether.
    drawLineAA(frame, 320.0f, 237.0f, centreX, centreY, glow);
    drawLineAA(frame, 320.0f, 238.0f, centreX, centreY + 1.0f, glow);
    drawLineAA(frame, 321.0f, 237.0f, centreX + 1.0f, centreY, glow);

    sceneBox->position.value = Vector3::zero;
    sceneBox->rotation.value = Quaternion::fromAxisAngle(worldUp.x, worldUp.y, worldUp.z, time);
    sceneBox->updateLocalMatrix();
    light.position.value = Vector3(0.0f, 30.0f, 0.0f);
    renderMesh(frame, camera, *sceneBox, light, boxColour(amount), glow, Gouraud, false);

    // A warm brown.
    t.draw(frame, camera,
           rgb(static_cast<int>(94.0f * amount), static_cast<int>(78.0f * amount), static_cast<int>(62.0f * amount)));
}

void drawScene3(Image& frame, float demoTime, float sceneTime, const Scene3Levels& levels)
{
    clearImage(frame, 0);

    for (int k = 1; k < branchTreeCount; ++k) {
        const double phi = (k - 1) * std::numbers::pi / 4.0;
        const double theta = 0.25 * k + 0.6 * sceneTime;
        branchTrees[k].screenX = static_cast<float>(320.0 + 200.0 * std::cos(phi) + 20.0 * std::cos(theta));
        branchTrees[k].screenY = static_cast<float>(240.0 - 150.0 * std::sin(phi) + 20.0 * std::sin(theta));
    }

    if (levels.flash < flashThreshold) {
        // The top of the arc first, then its sides, the large tree over them all.
        for (const int k : {3, 2, 4, 1, 5}) {
            drawTreeView(frame, k, branchTrees[k].screenX, branchTrees[k].screenY,
                         static_cast<float>(180.0 + 40.0 * std::sin(sceneTime + 0.4 * k)),
                         static_cast<float>(0.3 * k), sceneTime, 0.9f * levels.trees);
        }
        drawTreeView(frame, 0, 320.0f, 240.0f, static_cast<float>(140.0 + 40.0 * std::sin(sceneTime)), 0.0f,
                     sceneTime, levels.trees);
    }

    // The row light follows the show's clock, not the scene's.
    rowNoiseTint(frame, static_cast<float>(demoTime * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);

    drawSlabTower(frame, sceneTime, levels.slabs);

    for (int j = 0; j < lineCount; ++j) {
        const Image& line = lineImages[j];
        addImageScaled(line, frame, 0, 0, (frameWidth - line.width) / 2, 80, line.width, line.height,
                       lineFade(sceneTime - 4.0f * j));
    }

    if (levels.flash > flashThreshold)
        addColour(frame, grey(static_cast<int>(255.0f * levels.flash)));
}

void prepareScene3()
{
    sceneBox = makeBox(10.0f, 2.0f, 10.0f);

    for (int j = 0; j < lineCount; ++j) {
        renderTextImage(font, lineImages[j], lineTexts[j], 0x00FFFFFFu, 0);
        blurImage(lineImages[j], 0.0f, 0.8f, 0.8f, 0.8f);
    }

    // The shapes come from the random sequence and the noise counter, which
    // earlier preparations have already advanced.
    for (int k = 0; k < branchTreeCount; ++k) {
        BranchTree& t = branchTrees[k];
        t.depth = k == 0 ? 7 : 6;
        t.branching = 2 + programRand() % 2;
        t.lengthSkew = static_cast<float>(0.15 * nextNoise());
        t.lengthRatio = static_cast<float>(0.15 * nextNoise() + 0.75);
        t.spread = static_cast<float>(0.15 * nextNoise() + 0.45);
        t.twist = static_cast<float>(nextNoise() + 1.1);
        t.rootPosition = Vector3::zero;
        t.build();
        t.screenX = 320.0f;
        t.screenY = 240.0f;
    }
}

void scene3(Image& frame, float demoTime, float sceneTime, float progress, float, int variant)
{
    drawScene3(frame, demoTime, sceneTime, scene3Levels(variant, progress));
}
