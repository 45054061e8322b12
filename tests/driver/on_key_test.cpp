#include "driver/run_demo.hpp"

#include <gtest/gtest.h>

TEST(OnKey, PFreezesWhileHeldAndEscapeQuits)
{
    paused = false;
    quitRequested = false;
    EXPECT_EQ(onKey(80, 1), 0);
    EXPECT_TRUE(paused);
    EXPECT_EQ(onKey(80, 0), 0);
    EXPECT_FALSE(paused) << "releasing P resumes";
    for (int other : {81, 13, 65})  // Q, Enter, A
        onKey(other, 1);
    EXPECT_FALSE(paused || quitRequested);
    onKey(27, 1);
    EXPECT_TRUE(quitRequested);
    EXPECT_FALSE(paused);
}
