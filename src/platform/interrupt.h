#pragma once

#include <functional>

namespace velmar::platform {

// Routes Ctrl+C (and SIGTERM on POSIX; Ctrl+Break and closing the console on
// Windows) to `handler`, which runs on a thread of its own, never inside a
// signal handler, once per interrupt. Install it before any other thread starts.
void install_interrupt_handler(std::function<void()> handler);

// Ends the process at once with `status`, after flushing standard output.
[[noreturn]] void exit_immediately(int status);

}  // namespace velmar::platform
