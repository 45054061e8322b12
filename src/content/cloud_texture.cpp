#include "content/cloud_texture.hpp"

#include "content/program_rand.hpp"

#include <algorithm>
#include <cstdint>

CloudOctave cloudOctaves[4] = {{{}, {}, {}, -1}, {{}, {}, {}, -1}, {{}, {}, {}, -1}, {{}, {}, {}, -1}};
std::uint8_t cloudTexture[cloudTextureSize * cloudTextureSize];

namespace {

constexpr int gridMask = cloudGridSize - 1;

int cell(const std::uint8_t* grid, int x, int y)
{
    return grid[(y & gridMask) * cloudGridSize + (x & gridMask)];
}

// Octave k's bilinear sample at texel (x, y): cells of 2^shift texels, the
// fractions widened to 0..255 by fractionShift. The weights of the four
// cells sum to 255 x 255; the result carries the octave's share of 136.
std::int64_t interpolatedOctave(const std::uint8_t* grid, int x, int y, int shift, int fractionShift)
{
    const int gx = x >> shift, gy = y >> shift;
    const int fx = (x << fractionShift) & 255, fy = (y << fractionShift) & 255;
    const std::int64_t top = cell(grid, gx, gy) * (255 - fx) + cell(grid, gx + 1, gy) * fx;
    const std::int64_t bottom = cell(grid, gx, gy + 1) * (255 - fx) + cell(grid, gx + 1, gy + 1) * fx;
    // Up to 255^3 x 136, past 2^31: the sum is held in 64 bits.
    const std::int64_t w = top * (255 - fy) + bottom * fy;
    return (w * 136) >> (fractionShift + 11);
}

} // namespace

void smoothRandomGrid(std::uint8_t grid[cloudGridCells])
{
    std::uint8_t scratch[cloudGridCells];
    for (std::uint8_t& value : scratch)
        value = static_cast<std::uint8_t>(programRand() & 255);
    for (int y = 0; y < cloudGridSize; ++y)
        for (int x = 0; x < cloudGridSize; ++x) {
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += cell(scratch, x + dx, y + dy);
            grid[y * cloudGridSize + x] = static_cast<std::uint8_t>(sum / 9);
        }
}

void advanceOctave(int k, int position)
{
    CloudOctave& octave = cloudOctaves[k];
    const int c = (position >> 8) & 255;
    const int f = position & 255;
    if (c > octave.cycle) {
        std::copy_n(octave.next, cloudGridCells, octave.previous);
        std::copy_n(octave.next, cloudGridCells, octave.current);
        smoothRandomGrid(octave.next);
        octave.cycle = c;
        return;
    }
    for (int i = 0; i < cloudGridCells; ++i)
        octave.current[i] = static_cast<std::uint8_t>((octave.previous[i] * (255 - f) + octave.next[i] * f) >> 8);
}

void buildCloudTexture(float time)
{
    const double rates[4] = {1.0, 0.5, 0.25, 0.125};
    for (int k = 0; k < 4; ++k)
        advanceOctave(k, static_cast<int>(time * rates[k] * 256.0));

    const std::uint8_t* g0 = cloudOctaves[0].current;
    for (int y = 0; y < cloudTextureSize; ++y)
        for (int x = 0; x < cloudTextureSize; ++x) {
            // Octave 0 repeats every 32 texels uninterpolated; 3, 2 and 1
            // have cells of 8, 4 and 2 texels, coarsest first.
            std::int64_t sum = 17 * cell(g0, x, y);
            sum += interpolatedOctave(cloudOctaves[3].current, x, y, 3, 5);
            sum += interpolatedOctave(cloudOctaves[2].current, x, y, 2, 6);
            sum += interpolatedOctave(cloudOctaves[1].current, x, y, 1, 7);
            cloudTexture[y * cloudTextureSize + x] = static_cast<std::uint8_t>(sum >> 8);
        }
}
