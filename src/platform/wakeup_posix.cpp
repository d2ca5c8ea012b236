// The wake on POSIX: an eventfd where there is one, else a pipe.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/wakeup.h"

namespace velmar::platform {

namespace {

// A null event handle means "none" to the library: descriptor 0 cannot be one.
int above_zero(int descriptor) {
    if (descriptor != 0) {
        return descriptor;
    }
    const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, 1);
    close(descriptor);
    return moved;
}

}  // namespace

Wakeup::Wakeup() {
    const int descriptor = above_zero(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (descriptor < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    native_ = descriptor;
}

Wakeup::~Wakeup() { close(static_cast<int>(native_)); }

void* Wakeup::library_handle() const { return reinterpret_cast<void*>(native_); }

void Wakeup::set() {
    const std::uint64_t one = 1;
    // Full only after 2^64 - 2 sets without a wait: set either way.
    [[maybe_unused]] const ssize_t written = write(static_cast<int>(native_), &one, sizeof one);
}

bool Wakeup::wait(std::chrono::milliseconds timeout) {
    pollfd entry{static_cast<int>(native_), POLLIN, 0};
    int ready = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        ready = poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    std::uint64_t count = 0;
    // Reading an eventfd clears it; another thread's wait may have done so first.
    return read(static_cast<int>(native_), &count, sizeof count) == sizeof count;
}

}  // namespace velmar::platform
