#include "content/program_rand.hpp"

#include <gtest/gtest.h>

TEST(ProgramRand, KnownSequenceFromTheFirstStateAndRestart)
{
    resetProgramRand();
    const int expected[] = {41, 18467, 6334, 26500, 19169};
    for (int value : expected)
        EXPECT_EQ(programRand(), value);
    resetProgramRand();
    EXPECT_EQ(programRand(), 41);
    for (int i = 0; i < 100000; ++i) {
        const int v = programRand();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 32767);
    }
}
