#include "render/interrupt.hpp"

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void onInterrupt(int signal)
{
    interruptSignal = signal;
}

} // namespace

void catchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool interrupted()
{
    return interruptSignal != 0;
}
