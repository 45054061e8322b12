#include "image/noise.hpp"

#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

std::uint32_t nextNoiseCounter = 0;

// trunc() toward zero, held inside the int range (and 0 for not a number)
// so that any float argument stays defined.
int truncToInt(float x)
{
    if (!(x == x))
        return 0;
    if (x <= -2147483648.0f)
        return -2147483647 - 1;
    if (x >= 2147483648.0f)
        return 2147483647;
    return static_cast<int>(x);
}

// The cosine weight of the fraction f: a function of f alone.
float cosineWeight(float f)
{
    return static_cast<float>(0.5 - std::cos(f * std::numbers::pi) * 0.5);
}

// The weights of the fractions k / steps, taken with the same expression, so
// a look-up gives the very float the cosine would.
template <int steps>
struct WeightTable {
    float weight[steps];
    WeightTable()
    {
        for (int k = 0; k < steps; ++k)
            weight[k] = cosineWeight(static_cast<float>(k) / steps);
    }
};

// Past 512 every float is a multiple of 1/16384, which covers the far-off
// bands of the row light; past 32768 only the fractions k / 256 occur, and
// their small table stays in the first-level cache while frames stream past.
constexpr int weightSteps = 16384;
constexpr int coarseSteps = 256;

float coarseWeight(int k)
{
    static const WeightTable<coarseSteps> table;
    return table.weight[k];
}

float weightOf(float f)
{
    static const WeightTable<weightSteps> table;
    // Scaling by a power of two is exact; NaN and infinities fail the range test.
    if (f >= 0.0f && f < 1.0f) {
        const float coarseScaled = f * coarseSteps;
        const int c = static_cast<int>(coarseScaled);
        if (static_cast<float>(c) == coarseScaled)
            return coarseWeight(c);
        const float scaled = f * weightSteps;
        const int k = static_cast<int>(scaled);
        if (static_cast<float>(k) == scaled)
            return table.weight[k];
    }
    return cosineWeight(f);
}

} // namespace

double noise(int n)
{
    // Unsigned arithmetic: every step wraps at 32 bits.
    const std::uint32_t u = static_cast<std::uint32_t>(n);
    const std::uint32_t m = u ^ (u << 13);
    const std::uint32_t v = (m * (m * m * 15731u + 789221u) - 771171059u) & 0x7FFFFFFFu;
    return 1.0 - v * (1.0 / 1073741824.0);
}

double nextNoise()
{
    return noise(static_cast<int>(nextNoiseCounter++));
}

void resetNextNoise()
{
    nextNoiseCounter = 0;
}

double smoothNoise(float x)
{
    const int i = truncToInt(x);
    const float f = x - static_cast<float>(i);
    // From 32768 up every float is a multiple of 1/256, so the fraction is
    // one of the coarse ones: no test of the fraction on the way.
    const float w = x >= 32768.0f && x < 2147483648.0f ? coarseWeight(static_cast<int>(f * coarseSteps))
                                                      : weightOf(f);
    // i + 1 wraps like the hash itself rather than overflowing.
    const int next = static_cast<int>(static_cast<std::uint32_t>(i) + 1u);
    return noise(next) * w + noise(i) * (1.0 - w);
}

float clampUnit(float value)
{
    if (!(value >= 0.0f))
        return 0.0f;
    return value > 1.0f ? 1.0f : value;
}
