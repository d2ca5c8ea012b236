// A wake one thread waits on and others (SimConnect's library too) set: the record wake.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace velmar::platform {

// A wake one thread waits on and any thread sets; SimConnect's library sets
// it too, once per record it queues, through library_handle(). Setting it
// before the wait is never lost: the next wait returns at once.
class Wakeup {
public:
    // Throws std::system_error when the system has no wake to give.
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // What SimConnect_Open takes as its event handle: a Win32 event on
    // Windows; on POSIX the descriptor (as an integer in a pointer) to which
    // the library writes an 8-byte 1 per record.
    void* library_handle() const;

    // Safe from any thread.
    void set();
    // Blocks until the wake is set or `timeout` has passed, and clears it;
    // true when it was set.
    bool wait(std::chrono::milliseconds timeout);

    // The system's own object, for waits on several things at once
    // (the descriptor on POSIX, the event handle on Windows).
    std::intptr_t native() const { return native_; }

private:
    std::intptr_t native_ = -1;
};

}  // namespace velmar::platform
