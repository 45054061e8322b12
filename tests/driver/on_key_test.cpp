#include "driver/run_demo.hpp"
#include "platform/quit_signals.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

// P pauses while it is down, whatever came before: a release whose press
// never arrived resumes, and so does every release after any number of
// presses.
TEST(OnKey, PFollowsTheKeyAndEscapeQuits)
{
    paused = false;
    quitRequested = false;
    EXPECT_EQ(onKey(80, 0), 0);
    EXPECT_FALSE(paused) << "a lone release must not freeze the picture";
    EXPECT_EQ(onKey(80, 1), 0);
    EXPECT_TRUE(paused);
    onKey(80, 1);
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

// Before the start-up wait nothing polls the flags (the preparations run
// straight through), so a quit signal ends the process itself, with 0.
TEST(QuitSignal, BeforeTheShowPollsEndsTheProcessWithZero)
{
    // The thread-safe style runs the test program again, which an emulated
    // cross-build cannot do by itself; there the child is a plain fork.
    GTEST_FLAG_SET(death_test_style, std::string(MORVANE_RUN_PREFIX).empty() ? "threadsafe" : "fast");
    for (int signal : {SIGTERM, SIGINT}) {
        EXPECT_EXIT(
            {
                if (xp_quit_signals_init(onQuitSignal) != 0)
                    std::_Exit(3);
                std::raise(signal);
                for (;;)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            },
            ::testing::ExitedWithCode(0), "")
            << "signal " << signal;
    }
}
