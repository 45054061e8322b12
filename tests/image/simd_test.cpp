// The vector layer gives the bytes of x86-64 on every machine: the
// conversions from double at the edges of the 32-bit range, and minimum and
// maximum with NaN.
#include "image/simd.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

TEST(Simd, DoubleToInt32TruncatesAsX86AtTheEdgesOfTheRange)
{
    constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double value;
        std::int32_t expected;
    } cases[] = {
        {2147483647.0, 2147483647},  {2147483647.75, 2147483647}, {2147483648.0, lowest},
        {-2147483648.0, lowest},     {-2147483648.75, lowest},     {-2147483649.0, lowest},
        {-2147483647.5, -2147483647}, {1e300, lowest},             {-1e300, lowest},
        {nan, lowest},               {-0.75, 0},                   {65535.999, 65535},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(_mm_cvttsd_si32(_mm_set_sd(c.value)), c.expected) << c.value;
        alignas(16) std::int32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_cvttpd_epi32(_mm_setr_pd(1.5, c.value)));
        EXPECT_EQ(lanes[0], 1);
        EXPECT_EQ(lanes[1], c.expected) << c.value;
        EXPECT_EQ(lanes[2], 0);
        EXPECT_EQ(lanes[3], 0);
    }
}

TEST(Simd, MinimumAndMaximumTakeTheSecondOperandWhereEitherIsNaN)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    alignas(16) double out[2];
    const auto lanes = [&](__m128d v) {
        _mm_store_pd(out, v);
        return std::pair{out[0], out[1]};
    };
    // Lane 0: NaN first; lane 1: NaN second.
    const __m128d a = _mm_setr_pd(nan, 2.0), b = _mm_setr_pd(5.0, nan);
    auto [min0, min1] = lanes(_mm_min_pd(a, b));
    EXPECT_EQ(min0, 5.0);
    EXPECT_TRUE(min1 != min1);
    auto [max0, max1] = lanes(_mm_max_pd(a, b));
    EXPECT_EQ(max0, 5.0);
    EXPECT_TRUE(max1 != max1);
    // Ordinary values, and -0 against +0 (equal: the second operand).
    auto [lo, hi] = lanes(_mm_min_pd(_mm_setr_pd(-1.5, -0.0), _mm_setr_pd(3.0, 0.0)));
    EXPECT_EQ(lo, -1.5);
    EXPECT_FALSE(std::signbit(hi));
    auto [big, zero] = lanes(_mm_max_pd(_mm_setr_pd(-1.5, 0.0), _mm_setr_pd(3.0, -0.0)));
    EXPECT_EQ(big, 3.0);
    EXPECT_TRUE(std::signbit(zero));
}
