#include "platform/quit_signals.hpp"

#include <SDL.h>

#include <semaphore.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>

namespace {

sem_t arrived;
std::atomic<XpQuitHandler> quitHandler{nullptr};

// Runs on whatever thread the signal interrupts: only the post, which is
// safe there, and errno left as it was.
void onSignal(int)
{
    const int saved = errno;
    sem_post(&arrived);
    errno = saved;
}

void watchSignals()
{
    for (;;) {
        if (sem_wait(&arrived) != 0)
            continue;  // interrupted
        if (const XpQuitHandler handler = quitHandler.load(std::memory_order_acquire))
            handler();
    }
}

} // namespace

int xp_quit_signals_init(XpQuitHandler handler)
{
    if (quitHandler.exchange(handler, std::memory_order_acq_rel))
        return 0;  // already caught: only the handler changes
    // SDL's own handlers would turn them into a quit event for the window
    // thread, which may be busy or gone.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sem_init(&arrived, 0, 0) != 0) {
        std::perror("xp_quit_signals_init: sem_init");
        return -1;
    }
    try {
        std::thread(watchSignals).detach();
    } catch (...) {
        std::fprintf(stderr, "xp_quit_signals_init: the signal thread cannot be started\n");
        return -1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0) {
        std::perror("xp_quit_signals_init: sigaction");
        return -1;
    }
    return 0;
}
