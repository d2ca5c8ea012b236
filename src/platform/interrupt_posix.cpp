// Interrupts on POSIX: a thread that waits for the signals.
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/interrupt.h"

namespace velmar::platform {

namespace {

// Never destroyed: the waiting thread may wake while the process exits.
struct InterruptState {
    std::mutex mutex;  // guards handler and waiter_started
    std::function<void()> handler;
    bool waiter_started = false;
};

InterruptState& interrupt_state() {
    static auto* state = new InterruptState;
    return *state;
}

sigset_t interrupt_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // A closed terminal or SSH session: an interrupt like the others.
    sigaddset(&signals, SIGHUP);
    return signals;
}

// The handler runs here, on an ordinary thread, so it may lock, print and
// wake other threads, none of which is allowed inside a signal handler.
void wait_for_interrupts(sigset_t signals) {
    for (;;) {
        int signal_number = 0;
        if (sigwait(&signals, &signal_number) != 0) {
            continue;
        }
        std::function<void()> handler;
        {
            std::lock_guard lock(interrupt_state().mutex);
            handler = interrupt_state().handler;
        }
        if (handler) {
            handler();
        }
    }
}

}  // namespace

void install_interrupt_handler(std::function<void()> handler) {
    InterruptState& state = interrupt_state();
    std::lock_guard lock(state.mutex);
    state.handler = std::move(handler);
    if (state.waiter_started) {
        return;
    }
    // Blocked here, and so in every thread started from now on, the signals
    // reach only the waiting thread's sigwait.
    const sigset_t signals = interrupt_signals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
    try {
        // Detached: it lives as long as the process and holds nothing that dies.
        std::thread(wait_for_interrupts, signals).detach();
    } catch (...) {
        // Nobody would take the signals: leave them their default action.
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    state.waiter_started = true;
}

void exit_immediately(int status) { std::_Exit(status); }

}  // namespace velmar::platform
