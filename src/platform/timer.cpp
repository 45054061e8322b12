#include "platform/timer.hpp"

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double secondsPerTick = 0.0;
double base = 0.0;  // counter reading, in seconds, at the last reset

double counterSeconds()
{
    return static_cast<double>(Clock::now().time_since_epoch().count()) * secondsPerTick;
}

} // namespace

int xp_timer_init()
{
    constexpr double tick = static_cast<double>(Clock::period::num) / static_cast<double>(Clock::period::den);
    static_assert(tick > 0.0 && tick <= 1e-6, "the demo clock needs sub-millisecond resolution");
    secondsPerTick = tick;
    xp_timer_reset();
    return 0;
}

double xp_timer_get()
{
    return counterSeconds() - base;
}

void xp_timer_reset()
{
    base += xp_timer_get();
}

void xp_sleep(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
