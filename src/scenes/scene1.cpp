// Opening scene: a tunnel of glowing rings winding along a helix under a band
// of row light, the striped logo assembled from three blocks and the title
// line fading in below it, then everything fading out.
#include "scenes/scene1.hpp"

#include "scenes/shared.hpp"
#include "assets/stored_data.hpp"
#include "engine/line.hpp"
#include "image/blur.hpp"
#include "image/font.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "scenes/scenes.hpp"

#include <cmath>

namespace {

constexpr int pointsPerRing = 30;
constexpr int ringCount = 71;
constexpr float rejectedW = 666.0f;

// One ring's projected points, overwritten for every ring.
RingPoint ringPoints[pointsPerRing];

// The ring angles grow by 2 pi / 30 accumulated in a float; their cosines
// and sines are the same for every ring, so they are taken once.
struct RingAngles {
    double cosine[pointsPerRing];
    double sine[pointsPerRing];
    RingAngles()
    {
        float a = 0.0f;
        for (int j = 0; j < pointsPerRing; ++j) {
            cosine[j] = std::cos(static_cast<double>(a));
            sine[j] = std::sin(static_cast<double>(a));
            a += 0.20943951f;
        }
    }
};
const RingAngles ringAngles;

Colour grey(int level)
{
    return static_cast<Colour>(level) * 0x010101u;
}

// Projects the 30 points of the ring around the helix at parameter u.
void projectRing(const Camera& camera, int u)
{
    const Vector3 p0 = helixPoint(static_cast<float>(u));
    const Vector3 t = (helixPoint(static_cast<float>(u + 1)) - p0).normalised();
    // Not normalised: the ring radius follows the length of up x t.
    const Vector3 a = worldUp.cross(t);
    const Vector3 b = t.cross(a);
    const Vector3 ringU = a * 50.0f;
    const Vector3 ringV = b * 50.0f;

    for (int j = 0; j < pointsPerRing; ++j) {
        const double c = ringAngles.cosine[j];
        const double s = ringAngles.sine[j];
        const Vector3 point(static_cast<float>(p0.x + c * ringU.x + s * ringV.x),
                            static_cast<float>(p0.y + c * ringU.y + s * ringV.y),
                            static_cast<float>(p0.z + c * ringU.z + s * ringV.z));
        ringPoints[j] = projectRingPoint(camera, transformPoint(camera.viewMatrix, point));
    }
}

// A closed chain of soft discs, each joined to the previous point by a line.
void drawRing(Image& frame, Colour colour)
{
    for (int j = 0; j < pointsPerRing; ++j) {
        const RingPoint& p = ringPoints[j];
        if (!(p.w < 1.0f))
            continue;
        drawDisc(frame.pixels, frame.pitch, frameWidth, frameHeight, p.x, p.y, 400.0f * p.w, colour);
        const RingPoint& previous = ringPoints[j == 0 ? pointsPerRing - 1 : j - 1];
        if (previous.w < 1.0f)
            drawLineAA(frame, p.x, p.y, previous.x, previous.y, colour);
    }
}

// The three logo blocks at their resting places, each added with factor.
void addLogoScaled(Image& frame, float factor)
{
    addImageScaled(logoImage, frame, logoLeftX, 0, 70, logoY, logoLeftWidth, logoImage.height, factor);
    addImageScaled(logoImage, frame, logoMiddleX, 0, 180, logoY, logoMiddleWidth, logoImage.height, factor);
    addImageScaled(logoImage, frame, logoRightX, 0, 459, logoY, logoRightWidth, logoImage.height, factor);
}

void addTitleScaled(Image& frame, float factor)
{
    addImageScaled(titleImage, frame, 0, 0, (frameWidth - titleImage.width) / 2, 280, titleImage.width,
                   titleImage.height, factor);
}

} // namespace

Image logoImage;

namespace {
// Expanded while the program-wide objects are constructed, before any scene runs.
[[maybe_unused]] const bool logoExpanded = (expandBitmap(logoImage, logoBits, logoWidth, logoHeight), true);
} // namespace

Vector3 helixPoint(float t)
{
    const double angle = 0.02 * static_cast<double>(t);
    return Vector3(static_cast<float>(100.0 * std::cos(angle)), static_cast<float>(100.0 * std::sin(angle)), t);
}

RingPoint projectRingPoint(const Camera& camera, const Vector3& view)
{
    if (view.z <= 1.0f)
        return {0.0f, 0.0f, rejectedW};
    const float w = 1.0f / view.z;
    return {static_cast<float>(camera.centerX + static_cast<double>(camera.scaleX) * view.x * w),
            static_cast<float>(camera.centerY - static_cast<double>(camera.scaleY) * view.y * w), w};
}

void drawHelixTunnel(Image& frame, float sceneTime, float brightness)
{
    Camera camera;
    camera.setScreenSize(640, 480);
    const float s = 10.0f * sceneTime;
    camera.position.value = helixPoint(s);
    camera.target.value = helixPoint(s + 100.0f);
    camera.fov.value = 2.1991148f;
    camera.updateView();

    // The ring set moves one ring every 10 units; f is how far the camera
    // has gone past the last step, and fades the far rings in smoothly.
    const double along = static_cast<double>(0.1f) * static_cast<double>(camera.position.value.z);
    const int n = static_cast<int>(along);
    const double f = along - n;
    const int u0 = 10 * n + 690;

    for (int i = 0; i < ringCount; ++i) {
        const int level = i <= 9 ? static_cast<int>((i + f) * 25.5) : 255;
        const Colour colour = grey(static_cast<int>(level * static_cast<double>(brightness) * 0.8));
        projectRing(camera, u0 - 10 * i);
        drawRing(frame, colour);
    }
}

void prepareScene1()
{
    renderTextImage(font, titleImage, "[morvane-norbix]", 0x00FFFFFFu, 25);
    blurImage(titleImage, 0.0f, 0.8f, 0.8f, 0.8f);
}

void scene1(Image& frame, float, float sceneTime, float progress, float, int variant)
{
    // A frame that skips a whole entry arrives with progress above 1; the
    // fades and the slide stop at their ends instead of overshooting.
    const float p = clampUnit(progress);

    clearImage(frame, 0);

    if (variant == 1)
        drawHelixTunnel(frame, sceneTime, p);
    else if (variant >= 2 && variant <= 4)
        drawHelixTunnel(frame, sceneTime, 1.0f);
    else if (variant == 5)
        drawHelixTunnel(frame, sceneTime, 1.0f - p);

    rowNoiseTint(frame, static_cast<float>(sceneTime * 0.33), 0, 0, frameWidth, frameHeight, variant == 0 ? p : 1.0f);

    const int h = logoImage.height;
    switch (variant) {
    case 2: {
        const float slide = static_cast<float>(262.0 * std::sin(2.2713714885454204 * p));
        addImageScaled(logoImage, frame, logoLeftX, 0, static_cast<int>(slide - 130.0), logoY, logoLeftWidth, h, p);
        addImageScaled(logoImage, frame, logoRightX, 0, static_cast<int>(660.0 - slide), logoY, logoRightWidth, h, p);
        break;
    }
    case 3:
        addImage(logoImage, frame, logoLeftX, 0, 70, logoY, logoLeftWidth, h);
        addImage(logoImage, frame, logoRightX, 0, 459, logoY, logoRightWidth, h);
        addImageScaled(logoImage, frame, logoMiddleX, 0, 180, logoY, logoMiddleWidth, h, clampUnit(2.0f * p));
        break;
    case 4:
        addImage(logoImage, frame, logoLeftX, 0, 70, logoY, logoLeftWidth, h);
        addImage(logoImage, frame, logoMiddleX, 0, 180, logoY, logoMiddleWidth, h);
        addImage(logoImage, frame, logoRightX, 0, 459, logoY, logoRightWidth, h);
        addTitleScaled(frame, clampUnit(2.0f * p));
        break;
    case 5:
        addLogoScaled(frame, 1.0f - p);
        addTitleScaled(frame, 1.0f - p);
        break;
    default:
        break;
    }
}
