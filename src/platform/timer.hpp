// The demo clock: seconds since the last reset, on a monotonic counter.
#pragma once

int xp_timer_init();      // 0, or -1 when there is no usable counter
double xp_timer_get();    // seconds since the last reset
void xp_timer_reset();    // the timer reads 0 from now on
void xp_sleep(int milliseconds);
