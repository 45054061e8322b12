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
    const float w = static_cast<float>(0.5 - std::cos(f * std::numbers::pi) * 0.5);
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
