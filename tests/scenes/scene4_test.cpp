#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "content/cloud_texture.hpp"
#include "content/sky_palette.hpp"
#include "engine/box.hpp"
#include "engine/render_mesh.hpp"
#include "image/ops.hpp"
#include "scenes/scene4.hpp"
#include "scenes/scenes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

class FloorAndSky : public SceneTest {
protected:
    static void SetUpTestSuite()
    {
        SceneTest::SetUpTestSuite();
        static bool prepared = false;
        if (!prepared)
            prepareScene4();
        prepared = true;
    }
};

int wrapped(int a, std::uint32_t b)
{
    return static_cast<int>(static_cast<std::uint32_t>(a) + b);
}

// The block fill as written down: per pixel, with wrapping 32-bit steps,
// every channel min(255, (c * s >> 8) + 255 - s) for the floor's (0, 0,
// texel) or the sky palette's colour.
void referenceFill(Image& target, int bx, int by, const RayCorner& tl, const RayCorner& tr, const RayCorner& bl,
                   const RayCorner& br)
{
    const auto step = [](int from, int to) { return wrapped(to, -static_cast<std::uint32_t>(from)) >> 4; };
    int left[3] = {tl.u, tl.v, tl.shade}, right[3] = {tr.u, tr.v, tr.shade};
    const int leftStep[3] = {step(tl.u, bl.u), step(tl.v, bl.v), step(tl.shade, bl.shade)};
    const int rightStep[3] = {step(tr.u, br.u), step(tr.v, br.v), step(tr.shade, br.shade)};
    for (int y = 0; y < 16; ++y) {
        int u = left[0], v = left[1], shade = left[2];
        for (int x = 0; x < 16; ++x) {
            const int t = cloudTexture[((v >> 16) & 255) * 256 + ((u >> 16) & 255)];
            const int s = shade >> 16;
            const Colour c = tl.plane == 0 ? static_cast<Colour>(t) : skyPalette[t];
            Colour pixel = 0;
            for (int k = 0; k < 3; ++k)
                pixel |= static_cast<Colour>(std::min(255, (static_cast<int>(c >> 8 * k & 255) * s >> 8) + 255 - s))
                         << 8 * k;
            target.row(16 * by + y)[16 * bx + x] = pixel;
            u = wrapped(u, step(left[0], right[0]));
            v = wrapped(v, step(left[1], right[1]));
            shade = wrapped(shade, step(left[2], right[2]));
        }
        for (int k = 0; k < 3; ++k) {
            left[k] = wrapped(left[k], leftStep[k]);
            right[k] = wrapped(right[k], rightStep[k]);
        }
    }
}

// fillCornerBlocks against the reference on the current cornerGrid.
void expectFillMatchesReference()
{
    Image reference(frameWidth, frameHeight);
    for (int by = 0; by < 20; ++by)
        for (int bx = 0; bx < 40; ++bx)
            referenceFill(reference, bx, by, cornerGrid[by][bx], cornerGrid[by][bx + 1], cornerGrid[by + 1][bx],
                          cornerGrid[by + 1][bx + 1]);
    clearImage(frame, garbage);
    fillCornerBlocks(frame);
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            ASSERT_EQ(frame.row(y)[x], reference.row(y)[x]) << "pixel (" << x << ", " << y << ")";
}

void fillGrid(const RayCorner& corner)
{
    for (auto& row : cornerGrid)
        std::fill(std::begin(row), std::end(row), corner);
}

} // namespace

TEST_F(FloorAndSky, RaysTakeTheNearerPlaneInFront)
{
    const Camera camera = sceneCamera(5.0f);
    const Vector3 eye(0.0f, 2.0f, 5.0f);
    const RayCorner down = castCornerRay(camera.viewMatrix, eye, Vector3(0.0f, -1.0f, 0.0f), 5.0f);
    EXPECT_EQ(down.plane, 0);
    EXPECT_EQ(down.t, 2.0f);
    EXPECT_EQ(down.shade, 255 << 16) << "a floor point just below is pure texture";
    const RayCorner up = castCornerRay(camera.viewMatrix, eye, Vector3(0.0f, 1.0f, 0.0f), 5.0f);
    EXPECT_EQ(up.plane, 1);
    EXPECT_EQ(up.t, 98.0f);
    EXPECT_EQ(up.u, 0);
    EXPECT_EQ(up.v, (50 + 5) << 16) << "the clouds drift 10 texels a second";
    const RayCorner behind = castCornerRay(camera.viewMatrix, eye, Vector3(0.0f, -0.6f, -0.8f), 5.0f);
    EXPECT_EQ(behind.plane, 0);
    EXPECT_EQ(behind.shade, 0) << "negative depth is clamped, not converted";

    // Level rays hit nothing; their blocks take the sky filler.
    for (const Vector3 level : {Vector3(0.0f, 0.0f, 1.0f), Vector3(0.6f, 0.0f, -0.8f)}) {
        const RayCorner none = castCornerRay(camera.viewMatrix, eye, level, 5.0f);
        EXPECT_EQ(none.plane, -1);
        EXPECT_EQ(none.t, noHitDistance);
        EXPECT_EQ(none.u, 0);
        EXPECT_EQ(none.v, 0);
        RayCorner lit = none;
        lit.shade = 100 << 16;
        fillGrid(lit);
        clearImage(frame, garbage);
        fillCornerBlocks(frame);
        const Colour sky = skyPalette[cloudTexture[0]];
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(channel(frame.row(319)[639], k), (channel(sky, k) * 100 >> 8) + 155);
    }
}

TEST_F(FloorAndSky, FarHitsKeepTheLowBitsOfTheirTextureCoordinates)
{
    EXPECT_EQ(wrapFixed(4294967296.0 + 5.7), 5);
    EXPECT_EQ(wrapFixed(-4294967296.0 - 3.2), -3);
    EXPECT_EQ(wrapFixed(2147483648.0), std::numeric_limits<int>::min());
    EXPECT_EQ(wrapFixed(3.0 * 1099511627776.0 + 2147483655.0), std::numeric_limits<int>::min() + 7);
    EXPECT_EQ(wrapFixed(3.0 * 18446744073709551616.0 + 8192.0), 8192);  // past 64 bits
    EXPECT_EQ(wrapFixed(-3.0 * 18446744073709551616.0 - 8192.0), -8192);
    EXPECT_EQ(wrapFixed(1e300), 0);
    EXPECT_EQ(wrapFixed(std::nan("")), 0);

    // Floor and ceiling near the horizon, hundreds of thousands of units out.
    const Camera camera = sceneCamera(7.0f);
    const Vector3 eye(0.0f, 2.0f, 7.0f);
    for (const float dy : {-1e-5f, 1.6e-4f}) {
        const Vector3 dir = Vector3(0.3f, dy, 1.0f).normalised();
        const RayCorner far = castCornerRay(camera.viewMatrix, eye, dir, 7.0f);
        ASSERT_NE(far.plane, -1);
        EXPECT_GT(far.t, 100000.0f);
        EXPECT_EQ(far.shade >> 16, 0) << "far points are white";
        const double scale = far.plane == 0 ? 100.0 * 65536.0 : 65536.0;
        ASSERT_GT(std::abs(far.hit.x * scale), 1e10);
        EXPECT_EQ(far.u, static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(far.hit.x * scale))));

        // Far corners beside near ones half the 32-bit range away: every
        // step between them wraps.
        RayCorner near = far;
        near.u = wrapped(far.u, 0x80000000u);
        near.v = wrapped(far.v, 0x80000001u);
        near.shade = 255 << 16;
        fillGrid(far);
        for (int r = 0; r < 21; r += 2)
            for (int c = r % 4; c < 41; c += 4)
                cornerGrid[r][c] = near;
        expectFillMatchesReference();
    }
}

TEST_F(FloorAndSky, PackedFillGivesTheReferenceBytes)
{
    std::mt19937 random(12);
    const int shadeLevels[] = {0, 1, 15, 40, 65535, 65536, 255 << 16};
    for (int round = 0; round < 5; ++round) {
        for (auto& row : cornerGrid)
            for (RayCorner& corner : row) {
                corner.plane = static_cast<int>(random() % 3) - 1;
                corner.u = static_cast<int>(random());
                corner.v = static_cast<int>(random());
                // Shades near 0 make the truncating steps undershoot it;
                // the last round has the full shade everywhere, as near the camera.
                corner.shade = round == 4 ? 255 << 16
                               : random() % 2 ? shadeLevels[random() % 7]
                                              : static_cast<int>(random() % (255 << 16));
            }
        expectFillMatchesReference();
    }
    // And the corners the scene casts itself.
    for (const float T : {0.0f, 9.6f, 19.28f}) {
        scene4(frame, 68.52f + T, T, T / 19.28f, 0.016f, 0);
        expectFillMatchesReference();
    }
}

TEST_F(FloorAndSky, DrawsEveryPixelTheSameWayEachTime)
{
    clearImage(frame, garbage);
    scene4(frame, 72.0f, 3.48f, 0.18f, 0.016f, 0);
    const std::vector<std::uint32_t> first(frame.pixels, frame.pixels + frameWidth * frameHeight);
    int blueBottom = 0;
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            ASSERT_NE(frame.row(y)[x], garbage) << "pixel (" << x << ", " << y << ")";
    for (int x = 0; x < frameWidth; ++x)
        blueBottom += channel(frame.row(319)[x], 0) > channel(frame.row(319)[x], 2) + 40;
    EXPECT_GT(blueBottom, frameWidth / 4) << "the near floor is blue";
    EXPECT_LT(channel(frame.row(0)[320], 2), 200) << "the sky overhead is not white";

    clearImage(frame, 0);
    scene4(frame, 72.0f, 3.48f, 0.18f, 0.016f, 0);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), frame.pixels));
}

TEST_F(FloorAndSky, SkippingTilesOutOfViewChangesNoPixel)
{
    // The scene against its plain order: blocks, all hundred tiles, credits.
    Mesh* tile = makeBox(1.0f, 0.1f, 1.0f);
    Image plain(frameWidth, frameHeight);
    for (const float T : {0.0f, 4.1f, 11.7f, 19.28f}) {
        scene4(frame, 68.52f + T, T, T / 19.28f, 0.016f, 0);
        const Camera camera = sceneCamera(T);
        PointLight light;
        light.position.value = camera.position.value;
        fillCornerBlocks(plain);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j) {
                tile->position.value = Vector3(static_cast<float>(-15 + 3 * i), 0.0f, static_cast<float>(3 * j));
                tile->updateLocalMatrix();
                const Colour diffuse = static_cast<Colour>(5 * i << 16 | 5 * j << 8 | 5 * (i + j));
                renderMesh(plain, camera, *tile, light, diffuse, 0xE0E0E0u, Gouraud, false);
            }
        addCredits(plain, T);
        EXPECT_TRUE(std::equal(plain.pixels, plain.pixels + frameWidth * frameHeight, frame.pixels)) << T;
    }
    tile->freeGeometry();
    delete tile;
}

TEST_F(FloorAndSky, CreditsFadeInOneSecondApartAndStay)
{
    EXPECT_EQ(creditFade(-0.5f), 0.0f);
    EXPECT_EQ(creditFade(0.0f), 0.0f);
    EXPECT_NEAR(creditFade(1.0f), 0.5f, 1e-6f);
    EXPECT_EQ(creditFade(2.0f), 1.0f);
    EXPECT_EQ(creditFade(7.0f), 1.0f);

    // The layout: two lines on the left, six names right-aligned at 630.
    struct Line {
        int image, x, y;
    };
    const Line lines[8] = {{0, 10, 140}, {1, 10, 210}, {2, -1, 105}, {3, -1, 140},
                           {7, -1, 175}, {5, -1, 210}, {4, -1, 245}, {6, -1, 280}};
    const auto expectLines = [&](float T, int complete, float partial) {
        Image expected(frameWidth, frameHeight);
        clearImage(expected, 0);
        for (int k = 0; k < 8; ++k) {
            const Image& image = creditImages[lines[k].image];
            const float factor = k < complete ? 1.0f : k == complete ? partial : 0.0f;
            addImageScaled(image, expected, 0, 0, lines[k].x < 0 ? 630 - image.width : lines[k].x, lines[k].y,
                           image.width, image.height, factor);
        }
        clearImage(frame, 0);
        addCredits(frame, T);
        EXPECT_TRUE(std::equal(expected.pixels, expected.pixels + frameWidth * frameHeight, frame.pixels)) << T;
    };
    expectLines(1.0f, 0, 0.0f);
    expectLines(2.0f, 0, 0.5f);
    expectLines(5.0f, 3, 0.5f);
    expectLines(10.0f, 8, 0.0f);
    expectLines(19.28f, 8, 0.0f);

    int blueName = 0;
    for (int i = 0; i < creditImages[7].width * creditImages[7].height; ++i)
        blueName = std::max(blueName, channel(creditImages[7].pixels[i], 0) - channel(creditImages[7].pixels[i], 2));
    EXPECT_GT(blueName, 100) << "the sixth name is light blue";
}
