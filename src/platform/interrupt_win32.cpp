// Interrupts on Windows: the console control handler.
#include "platform/windows_api.h"

#include <cstdlib>
#include <mutex>

#include "platform/interrupt.h"

namespace velmar::platform {

namespace {

// Never destroyed: a control event may arrive while the process exits.
struct InterruptState {
    std::mutex mutex;  // guards handler and registered
    std::function<void()> handler;
    bool registered = false;
};

InterruptState& interrupt_state() {
    static auto* state = new InterruptState;
    return *state;
}

void call_handler() {
    std::function<void()> handler;
    {
        std::lock_guard lock(interrupt_state().mutex);
        handler = interrupt_state().handler;
    }
    if (handler) {
        handler();
    }
}

// Windows runs this on a thread of its own for each control event.
BOOL WINAPI on_console_control(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            call_handler();
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            call_handler();
            // Windows ends the process as soon as this returns; waiting here
            // leaves the main thread time for its orderly shutdown, whose
            // exit ends this thread too.
            Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void install_interrupt_handler(std::function<void()> handler) {
    InterruptState& state = interrupt_state();
    std::lock_guard lock(state.mutex);
    state.handler = std::move(handler);
    if (!state.registered) {
        state.registered = SetConsoleCtrlHandler(on_console_control, TRUE) != 0;
    }
}

void exit_immediately(int status) { std::_Exit(status); }

}  // namespace velmar::platform
