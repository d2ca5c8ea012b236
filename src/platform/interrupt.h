// Ctrl+C and the termination signals, and ending the process at once.
#pragma once

#include <functional>

namespace velmar::platform {

// Routes Ctrl+C (and SIGTERM and SIGHUP on POSIX; Ctrl+Break and closing the
// console on Windows) to `handler`, which runs on a thread of its own, never
// inside a signal handler, once per interrupt. Install it before any other
// thread starts. Throws std::system_error when that thread cannot be started.
void install_interrupt_handler(std::function<void()> handler);

// Ends the process at once with `status`: no flush, no destructors, so that
// nothing (a stalled console least of all) can hold it up.
[[noreturn]] void exit_immediately(int status);

}  // namespace velmar::platform
