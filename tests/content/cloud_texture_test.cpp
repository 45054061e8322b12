#include "content/cloud_texture.hpp"
#include "content/program_rand.hpp"
#include "content/sky_palette.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

void resetOctaves()
{
    for (CloudOctave& octave : cloudOctaves) {
        std::fill_n(octave.previous, cloudGridCells, 0);
        std::fill_n(octave.current, cloudGridCells, 0);
        octave.cycle = -1;
    }
}

// Builds the texture from the given grids: at time 24 every octave enters a
// new cycle and takes its next grid as the current one.
void buildFromGrids(const std::vector<std::uint8_t> (&grids)[4])
{
    resetOctaves();
    for (int k = 0; k < 4; ++k)
        std::copy(grids[k].begin(), grids[k].end(), cloudOctaves[k].next);
    buildCloudTexture(24.0f);
}

int texel(int x, int y)
{
    return cloudTexture[(y & 255) * 256 + (x & 255)];
}

// The start-up sequence: four next grids, then the texture at 24 s.
std::vector<std::uint8_t> buildAsAtStartUp()
{
    resetProgramRand();
    resetOctaves();
    for (CloudOctave& octave : cloudOctaves)
        smoothRandomGrid(octave.next);
    buildCloudTexture(24.0f);
    return std::vector<std::uint8_t>(cloudTexture, cloudTexture + 65536);
}

} // namespace

TEST(SkyPalette, DarkBlueUpToTheMiddleThenTowardsWhite)
{
    buildSkyPalette();
    EXPECT_EQ(skyPalette[0], 0x294BA0u);
    EXPECT_EQ(skyPalette[128], 0x294BA0u);
    EXPECT_EQ(skyPalette[129], 0x2B4CA0u);  // 0.99: (43.14, 76.8, 160.95)
    EXPECT_EQ(skyPalette[255], 0xC3CCE4u);  // (195, 204, 228)
}

TEST(CloudTexture, ConstantGridsGiveConstantTexels)
{
    const std::pair<int, int> cases[] = {{255, 252}, {0, 0}, {128, 126}};
    for (const auto& [value, expected] : cases) {
        std::vector<std::uint8_t> grids[4];
        for (auto& grid : grids)
            grid.assign(cloudGridCells, static_cast<std::uint8_t>(value));
        buildFromGrids(grids);
        for (int i = 0; i < 65536; ++i)
            ASSERT_EQ(cloudTexture[i], expected) << "grids of " << value << ", texel " << i;
    }
}

TEST(CloudTexture, TilesWithoutASeam)
{
    // Rolling every grid by the cells that 8 texels across and 16 down span
    // in its octave must roll the texture by exactly that much, texels at
    // x or y = 255 included: they interpolate with cell 0 of the next repeat.
    resetProgramRand();
    std::vector<std::uint8_t> grids[4], rolled[4];
    const int cellShift[4] = {5, 1, 2, 3};  // log2 of the texels per cell (octave 0: one repeat of 32)
    for (int k = 0; k < 4; ++k) {
        grids[k].resize(cloudGridCells);
        for (std::uint8_t& value : grids[k])
            value = static_cast<std::uint8_t>(programRand() & 255);
        const int dx = k == 0 ? 8 : 8 >> cellShift[k], dy = k == 0 ? 16 : 16 >> cellShift[k];
        rolled[k].resize(cloudGridCells);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                rolled[k][y * 32 + x] = grids[k][((y + dy) & 31) * 32 + ((x + dx) & 31)];
    }
    buildFromGrids(grids);
    const std::vector<std::uint8_t> original(cloudTexture, cloudTexture + 65536);
    buildFromGrids(rolled);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(texel(x, y), original[((y + 16) & 255) * 256 + ((x + 8) & 255)]) << x << ", " << y;
}

TEST(CloudTexture, StartUpIsRepeatableAndDrawsExactly8192Values)
{
    const std::vector<std::uint8_t> first = buildAsAtStartUp();
    const int following = programRand();
    EXPECT_EQ(buildAsAtStartUp(), first);

    resetProgramRand();
    for (int i = 0; i < 8192; ++i)
        programRand();
    EXPECT_EQ(programRand(), following);

    // Mostly near the middle, never above 252.
    long sum = 0;
    for (std::uint8_t value : first) {
        ASSERT_LE(value, 252);
        sum += value;
    }
    EXPECT_NEAR(sum / 65536.0, 126.0, 10.0);
}

TEST(CloudOctave, NewCyclesRedrawAndOtherPositionsBlend)
{
    resetProgramRand();
    resetOctaves();
    CloudOctave& octave = cloudOctaves[1];
    std::fill_n(octave.next, cloudGridCells, 200);
    advanceOctave(1, 3 << 8);  // cycle 3 > -1: next becomes current, a new next is drawn
    EXPECT_EQ(octave.cycle, 3);
    EXPECT_EQ(octave.current[0], 200);
    EXPECT_EQ(octave.previous[77], 200);
    std::fill_n(octave.next, cloudGridCells, 100);

    // Same or lower cycle numbers (modulo 256: 259 is 3) only blend, and draw nothing.
    resetProgramRand();
    const int firstValue = programRand();
    resetProgramRand();
    const std::pair<int, int> blends[] = {{(3 << 8) | 64, 174}, {(259 << 8) | 255, 99}, {(1 << 8) | 128, 149}};
    for (const auto& [position, expected] : blends) {
        advanceOctave(1, position);
        EXPECT_EQ(octave.current[5], expected) << position;
        EXPECT_EQ(octave.cycle, 3);
    }
    EXPECT_EQ(programRand(), firstValue);
}

TEST(CloudOctave, SmoothedGridAveragesNeighboursAcrossTheEdges)
{
    resetProgramRand();
    int raw[32][32];
    for (auto& row : raw)
        for (int& value : row)
            value = programRand() & 255;
    resetProgramRand();
    std::uint8_t grid[cloudGridCells];
    smoothRandomGrid(grid);
    const auto expected = [&](int x, int y) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                sum += raw[(y + dy) & 31][(x + dx) & 31];
        return sum / 9;
    };
    for (const auto& [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}, {12, 7}})
        EXPECT_EQ(grid[y * 32 + x], expected(x, y)) << x << ", " << y;
}
