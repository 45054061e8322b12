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

namespace {

class FloorAndSky : public SceneTest {
protected:
    static void SetUpTestSuite()
    {
        SceneTest::SetUpTestSuite();
        static const bool prepared = (prepareScene4(), true);
        (void)prepared;
    }
};

int wrapped(int a, std::uint32_t b)
{
    return static_cast<int>(static_cast<std::uint32_t>(a) + b);
}

bool sameFrame(const Image& a, const Image& b)
{
    return std::equal(a.pixels, a.pixels + frameWidth * frameHeight, b.pixels);
}

// The block fill as written down, per pixel with wrapping 32-bit steps:
// every channel min(255, (c * s >> 8) + 255 - s) of the floor's (0, 0,
// texel) or the sky palette's colour.
void referenceFill(Image& target, int bx, int by)
{
    const RayCorner* c[4] = {&cornerGrid[by][bx], &cornerGrid[by][bx + 1], &cornerGrid[by + 1][bx],
                             &cornerGrid[by + 1][bx + 1]};
    const auto step = [](int from, int to) { return wrapped(to, -static_cast<std::uint32_t>(from)) >> 4; };
    int left[3] = {c[0]->u, c[0]->v, c[0]->shade}, right[3] = {c[1]->u, c[1]->v, c[1]->shade};
    const int leftStep[3] = {step(c[0]->u, c[2]->u), step(c[0]->v, c[2]->v), step(c[0]->shade, c[2]->shade)};
    const int rightStep[3] = {step(c[1]->u, c[3]->u), step(c[1]->v, c[3]->v), step(c[1]->shade, c[3]->shade)};
    for (int y = 0; y < 16; ++y) {
        int at[3] = {left[0], left[1], left[2]};
        for (int x = 0; x < 16; ++x) {
            const int t = cloudTexture[((at[1] >> 16) & 255) * 256 + ((at[0] >> 16) & 255)];
            const int s = at[2] >> 16;
            const Colour colour = c[0]->plane == 0 ? static_cast<Colour>(t) : skyPalette[t];
            Colour& pixel = target.row(16 * by + y)[16 * bx + x] = 0;
            for (int k = 0; k < 3; ++k)
                pixel |= static_cast<Colour>(std::min(255, (static_cast<int>(colour >> 8 * k & 255) * s >> 8) + 255 - s))
                         << 8 * k;
            for (int q = 0; q < 3; ++q)
                at[q] = wrapped(at[q], step(left[q], right[q]));
        }
        for (int q = 0; q < 3; ++q) {
            left[q] = wrapped(left[q], leftStep[q]);
            right[q] = wrapped(right[q], rightStep[q]);
        }
    }
}

void expectFillMatchesReference()
{
    Image reference(frameWidth, frameHeight);
    for (int by = 0; by < 20; ++by)
        for (int bx = 0; bx < 40; ++bx)
            referenceFill(reference, bx, by);
    clearImage(frame, garbage);
    fillCornerBlocks(frame);
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x)
            ASSERT_EQ(frame.row(y)[x], reference.row(y)[x]) << "pixel (" << x << ", " << y << ")";
}

} // namespace

TEST_F(FloorAndSky, CornerRaysHitTheNearerPlaneOrNothing)
{
    const Camera camera = sceneCamera(5.0f);
    const Vector3 eye(0.0f, 2.0f, 5.0f);
    const auto cast = [&](float x, float y, float z) { return castCornerRay(camera.viewMatrix, eye, Vector3(x, y, z), 5.0f); };
    const RayCorner down = cast(0.0f, -1.0f, 0.0f), up = cast(0.0f, 1.0f, 0.0f);
    EXPECT_EQ(down.plane, 0);
    EXPECT_EQ(down.t, 2.0f);
    EXPECT_EQ(down.shade, 255 << 16) << "a floor point just below is pure texture";
    EXPECT_EQ(up.plane, 1);
    EXPECT_EQ(up.t, 98.0f);
    EXPECT_EQ(up.v, (50 + 5) << 16) << "the clouds drift 10 texels a second";
    EXPECT_EQ(cast(0.0f, -0.6f, -0.8f).shade, 0) << "a point behind the camera";

    // Level rays hit nothing; their blocks take the sky filler.
    for (RayCorner none : {cast(0.0f, 0.0f, 1.0f), cast(0.6f, 0.0f, -0.8f)}) {
        EXPECT_EQ(none.plane, -1);
        EXPECT_EQ(none.t, noHitDistance);
        EXPECT_EQ(none.u | none.v, 0);
        none.shade = 100 << 16;
        for (auto& row : cornerGrid)
            std::fill(std::begin(row), std::end(row), none);
        fillCornerBlocks(frame);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(channel(frame.row(319)[639], k), (channel(skyPalette[cloudTexture[0]], k) * 100 >> 8) + 155);
    }
}

TEST_F(FloorAndSky, FarHitsKeepTheLowBitsOfTheirTextureCoordinates)
{
    EXPECT_EQ(wrapFixed(-4294967296.0 - 3.2), -3);
    EXPECT_EQ(wrapFixed(3.0 * 1099511627776.0 + 2147483655.0), std::numeric_limits<int>::min() + 7);
    EXPECT_EQ(wrapFixed(-3.0 * 18446744073709551616.0 - 8192.0), -8192);  // past 64 bits
    EXPECT_EQ(wrapFixed(std::nan("")), 0);

    // Floor and ceiling near the horizon, hundreds of thousands of units out.
    const Camera camera = sceneCamera(7.0f);
    for (const float dy : {-1e-5f, 1.6e-4f}) {
        const RayCorner far =
            castCornerRay(camera.viewMatrix, Vector3(0.0f, 2.0f, 7.0f), Vector3(0.3f, dy, 1.0f).normalised(), 7.0f);
        ASSERT_GT(far.t, 100000.0f);
        EXPECT_EQ(far.shade >> 16, 0) << "far points are white";
        const double fixed = far.hit.x * (far.plane == 0 ? 100.0 : 1.0) * 65536.0;
        ASSERT_GT(std::abs(fixed), 1e10);
        EXPECT_EQ(far.u, static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(fixed))));
    }
}

TEST_F(FloorAndSky, PackedFillGivesTheReferenceBytes)
{
    // Corners with any 32-bit coordinates: the steps between them wrap.
    std::mt19937 random(12);
    const int shadeLevels[] = {0, 1, 15, 40, 65535, 65536, 255 << 16};
    for (int round = 0; round < 5; ++round) {
        for (auto& row : cornerGrid)
            for (RayCorner& corner : row) {
                corner = {static_cast<int>(random() % 3) - 1, 0.0f, {}, static_cast<int>(random()),
                          static_cast<int>(random()), 0};
                // Shades near 0 make the truncating steps undershoot it; the
                // last round has the full shade everywhere, as near the camera.
                corner.shade = round == 4 ? 255 << 16
                               : random() % 2 ? shadeLevels[random() % 7]
                                              : static_cast<int>(random() % (255 << 16));
            }
        expectFillMatchesReference();
    }
}

TEST_F(FloorAndSky, FramesAreThePlainDrawingOrderWithEveryPixelSet)
{
    // Blocks from the cast corners, all hundred tiles (the scene skips those
    // wholly out of view), then the credits.
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
        EXPECT_TRUE(sameFrame(plain, frame)) << T;
        expectFillMatchesReference();  // which sets every pixel
    }
    tile->freeGeometry();
    delete tile;
}

TEST_F(FloorAndSky, CreditsFadeInOneSecondApartAndStay)
{
    // Two lines on the left, six names right-aligned at 630 (image, x, y).
    const int lines[8][3] = {{0, 10, 140}, {1, 10, 210}, {2, -1, 105}, {3, -1, 140},
                             {7, -1, 175}, {5, -1, 210}, {4, -1, 245}, {6, -1, 280}};
    Image expected(frameWidth, frameHeight);
    for (const auto& [T, complete, partial] : {std::tuple{1.0f, 0, 0.0f}, {2.0f, 0, 0.5f}, {5.0f, 3, 0.5f},
                                               {10.0f, 8, 0.0f}, {19.28f, 8, 0.0f}}) {
        clearImage(expected, 0);
        for (int k = 0; k < 8; ++k) {
            const Image& image = creditImages[lines[k][0]];
            addImageScaled(image, expected, 0, 0, lines[k][1] < 0 ? 630 - image.width : lines[k][1], lines[k][2],
                           image.width, image.height, k < complete ? 1.0f : k == complete ? partial : 0.0f);
        }
        clearImage(frame, 0);
        addCredits(frame, T);
        EXPECT_TRUE(sameFrame(expected, frame)) << T;
    }
}
