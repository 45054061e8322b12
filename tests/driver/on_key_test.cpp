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

    onKey('Q', 1);
    onKey(13, 1);
    onKey('A', 0);
    EXPECT_FALSE(paused);
    EXPECT_FALSE(quitRequested);

    onKey(27, 1);
    EXPECT_TRUE(quitRequested);
    onKey(27, 0);
    EXPECT_TRUE(quitRequested);
    EXPECT_FALSE(paused);
}
