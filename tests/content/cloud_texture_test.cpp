#include "content/cloud_texture.hpp"
#include "content/program_rand.hpp"
#include "content/sky_palette.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Grids = std::vector<std::uint8_t>[4];

// Any later position then starts a new cycle.
void resetOctaves()
{
    for (CloudOctave& octave : cloudOctaves)
        octave.cycle = -1;
}

// At 24 s every octave enters a new cycle and builds from its next grid.
std::vector<std::uint8_t> buildFromGrids(const Grids& grids)
{
    resetOctaves();
    for (int k = 0; k < 4; ++k)
        std::copy(grids[k].begin(), grids[k].end(), cloudOctaves[k].next);
    buildCloudTexture(24.0f);
    return std::vector<std::uint8_t>(cloudTexture, cloudTexture + 65536);
}

} // namespace

TEST(SkyPalette, DarkBlueUpToTheMiddleThenTowardsWhite)
{
    buildSkyPalette();
    EXPECT_EQ(skyPalette[0], 0x294BA0u);
    EXPECT_EQ(skyPalette[128], 0x294BA0u);
    EXPECT_EQ(skyPalette[255], 0xC3CCE4u);  // (195, 204, 228)
}

TEST(CloudTexture, ConstantGridsGiveConstantTexels)
{
    // All 255 sums past 2^31 before the shift: 252 needs the wide sum.
    for (const auto& [value, expected] : {std::pair{255, 252}, {0, 0}}) {
        Grids grids;
        for (auto& grid : grids)
            grid.assign(cloudGridCells, static_cast<std::uint8_t>(value));
        const std::vector<std::uint8_t> texture = buildFromGrids(grids);
        EXPECT_EQ(std::count(texture.begin(), texture.end(), expected), 65536) << "grids of " << value;
    }
}

TEST(CloudTexture, TilesWithoutASeam)
{
    // Rolling each grid by the cells that 8 texels across and 16 down span
    // in its octave rolls the texture by exactly that, texels at x or y =
    // 255 included: they interpolate with cell 0 of the next repeat.
    resetProgramRand();
    Grids grids, rolled;
    const int texelsPerCell[4] = {1, 2, 4, 8};
    for (int k = 0; k < 4; ++k) {
        grids[k].resize(cloudGridCells);
        for (std::uint8_t& value : grids[k])
            value = static_cast<std::uint8_t>(programRand());
        const int dx = 8 / texelsPerCell[k], dy = 16 / texelsPerCell[k];
        for (int i = 0; i < cloudGridCells; ++i)
            rolled[k].push_back(grids[k][((i / 32 + dy) & 31) * 32 + ((i + dx) & 31)]);
    }
    const std::vector<std::uint8_t> original = buildFromGrids(grids), moved = buildFromGrids(rolled);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(moved[y * 256 + x], original[((y + 16) & 255) * 256 + ((x + 8) & 255)]) << x << ", " << y;
}

TEST(CloudTexture, StartUpIsRepeatableAndDrawsExactly8192Values)
{
    const auto startUp = [] {
        resetProgramRand();
        resetOctaves();
        for (CloudOctave& octave : cloudOctaves)
            smoothRandomGrid(octave.next);
        buildCloudTexture(24.0f);
        return std::vector<std::uint8_t>(cloudTexture, cloudTexture + 65536);
    };
    const std::vector<std::uint8_t> first = startUp();
    const int following = programRand();
    EXPECT_EQ(startUp(), first);
    resetProgramRand();
    for (int i = 0; i < 8192; ++i)
        programRand();
    EXPECT_EQ(programRand(), following);
}

TEST(CloudOctave, NewCyclesRedrawAndOtherPositionsBlend)
{
    resetOctaves();
    CloudOctave& octave = cloudOctaves[1];
    std::fill_n(octave.next, cloudGridCells, 200);
    advanceOctave(1, 3 << 8);  // cycle 3 > -1: next becomes current, a new next is drawn
    EXPECT_EQ(octave.current[0], 200);
    std::fill_n(octave.next, cloudGridCells, 100);

    // The same or a lower cycle number (modulo 256: 259 is 3) only blends.
    resetProgramRand();
    for (const auto& [position, expected] : {std::pair{(3 << 8) | 64, 174}, {(259 << 8) | 255, 99}, {(1 << 8) | 128, 149}}) {
        advanceOctave(1, position);
        EXPECT_EQ(octave.current[5], expected) << position;
    }
    EXPECT_EQ(octave.cycle, 3);
    EXPECT_EQ(programRand(), 41) << "blending drew random values";
}
