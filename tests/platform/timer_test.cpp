#include "platform/timer.hpp"

#include <gtest/gtest.h>

TEST(Timer, ResetsStartFromZeroAndTimeNeverGoesBack)
{
    ASSERT_EQ(xp_timer_init(), 0);
    xp_timer_reset();
    xp_timer_reset();
    const double first = xp_timer_get();
    EXPECT_GE(first, 0.0);
    EXPECT_LT(first, 0.05);

    double previous = first;
    for (int i = 0; i < 100000; ++i) {
        const double now = xp_timer_get();
        ASSERT_GE(now, previous);
        previous = now;
    }
    xp_sleep(20);
    EXPECT_GE(xp_timer_get(), 0.019);
    xp_timer_reset();
    EXPECT_LT(xp_timer_get(), 0.019);
}
