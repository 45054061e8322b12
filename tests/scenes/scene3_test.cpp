#include "scene_fixture.hpp"

#include "scenes/shared.hpp"
#include "content/program_rand.hpp"
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "scenes/scene3.hpp"
#include "scenes/scenes.hpp"

#include <algorithm>
#include <vector>

namespace {

// The trees as the show's start-up leaves them: the cloud scene's
// preparation has taken the first 8192 random values before this one.
class TreeScene : public SceneTest {
protected:
    static void SetUpTestSuite()
    {
        SceneTest::SetUpTestSuite();
        static bool prepared = false;
        if (prepared)
            return;
        prepared = true;
        resetProgramRand();
        for (int i = 0; i < 8192; ++i)
            programRand();
        resetNextNoise();
        prepareScene3();
    }
};

std::vector<std::uint32_t> pixelsOf(const Image& image)
{
    return std::vector<std::uint32_t>(image.pixels, image.pixels + frameWidth * frameHeight);
}

} // namespace

TEST_F(TreeScene, TreesTakeTheirShapesAfterTheCloudScenesValues)
{
    const int branching[] = {3, 2, 2, 2, 3, 3};
    const float rootLength[] = {19, 19, 21, 21, 18, 21};
    for (int k = 0; k < branchTreeCount; ++k) {
        EXPECT_EQ(branchTrees[k].branching, branching[k]) << k;
        EXPECT_EQ(branchTrees[k].depth, k == 0 ? 7 : 6) << k;
        EXPECT_EQ(branchTrees[k].nodes[0].direction.y, rootLength[k]) << k;
    }
    // Noise counters 0 to 3 shape the large tree.
    EXPECT_EQ(branchTrees[0].lengthSkew, static_cast<float>(0.15 * noise(0)));
    EXPECT_EQ(branchTrees[0].lengthRatio, static_cast<float>(0.15 * noise(1) + 0.75));
    EXPECT_EQ(branchTrees[5].twist, static_cast<float>(noise(23) + 1.1));
}

TEST(TreeSceneLevels, TextEnvelopeAndVariantLevels)
{
    for (const float t : {-0.001f, 4.001f, 9.0f})
        EXPECT_EQ(lineFade(t), 0.0f) << t;
    EXPECT_NEAR(lineFade(1.0f), 0.5f, 1e-6f);
    EXPECT_NEAR(lineFade(2.0f), 1.0f, 1e-6f);

    // variant, progress, then the trees', slabs' and flash's levels; a late
    // frame past the entry's end stays at the end levels.
    const float table[][5] = {{0, 0.0f, 0.0f, 0.0f, 0.0f},  {0, 0.25f, 0.25f, 0.5f, 0.0f},
                              {0, 0.75f, 0.75f, 1.0f, 0.0f}, {1, 0.4f, 1.0f, 1.0f, 0.0f},
                              {2, 0.25f, 0.5f, 0.75f, 0x1p-40f}, {2, 0.5f, 0.0f, 0.5f, 0x1p-20f},
                              {2, 1.4f, 0.0f, 0.0f, 1.0f}};
    for (const auto& row : table) {
        const Scene3Levels l = scene3Levels(static_cast<int>(row[0]), row[1]);
        EXPECT_FLOAT_EQ(l.trees, row[2]) << row[0] << " " << row[1];
        EXPECT_FLOAT_EQ(l.slabs, row[3]) << row[0] << " " << row[1];
        EXPECT_FLOAT_EQ(l.flash, row[4]) << row[0] << " " << row[1];
    }
}

TEST_F(TreeScene, ProgressZeroShowsOnlyTheRowLight)
{
    const float demoTime = 51.5f;
    clearImage(frame, garbage);
    scene3(frame, demoTime, 0.09f, 0.0f, 0.016f, 0);
    Image light(frameWidth, frameHeight);
    clearImage(light, 0);
    rowNoiseTint(light, static_cast<float>(demoTime * 0.33), 0, 0, frameWidth, frameHeight, 1.0f);
    // Black trees, glows and tethers vanish; the unlit boxes and slabs keep
    // the renderer's lowest level, 5, which shows at most as a faint shade
    // where a base and overlapping additive slabs meet.
    int same = 0;
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x) {
            const std::uint32_t a = frame.row(y)[x], b = light.row(y)[x];
            same += (a & 0xFFFFFF) == (b & 0xFFFFFF);
            for (int c = 0; c < 3; ++c) {
                ASSERT_GE(channel(a, c), channel(b, c)) << "pixel (" << x << ", " << y << ")";
                ASSERT_LE(channel(a, c), channel(b, c) + 20) << "pixel (" << x << ", " << y << ")";
            }
        }
    EXPECT_GT(same, frameWidth * frameHeight * 2 / 3);
}

TEST_F(TreeScene, FlashAndTreesNeverShareAFrame)
{
    const auto draw = [](float trees, float flash) {
        drawScene3(frame, 67.0f, 15.6f, {trees, 0.5f, flash});
        return pixelsOf(frame);
    };
    draw(1.0f, 0.0f);  // the bases take the slabs' scale from here on
    const std::vector<std::uint32_t> atThreshold = draw(1.0f, 0.1f);
    const std::vector<std::uint32_t> withTrees = draw(1.0f, 0.0999f);
    const std::vector<std::uint32_t> noTreesNoFlash = draw(0.5f, 0.1f);
    const std::vector<std::uint32_t> flash = draw(1.0f, 0.10001f);

    EXPECT_EQ(atThreshold, noTreesNoFlash);
    EXPECT_NE(atThreshold, withTrees);
    // Just above the threshold: the same picture plus grey 25 everywhere.
    for (std::size_t i = 0; i < flash.size(); ++i)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(channel(flash[i], c), std::min(255, channel(atThreshold[i], c) + 25)) << i;
}
