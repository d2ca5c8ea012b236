// Folder watching on POSIX: inotify on Linux.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/folder_watch.h"

namespace velmar::platform {

struct FolderWatch::Watch {
    int descriptor = -1;
    std::string file_name;
    ~Watch() { close(descriptor); }
};

namespace {

std::string reason(int error) { return std::generic_category().message(error); }

// Reads every waiting event; true when one names the file or events were lost.
bool names_file(int descriptor, const std::string& file_name) {
    alignas(inotify_event) std::array<char, 16 * (sizeof(inotify_event) + 256)> buffer;
    bool found = false;
    for (;;) {
        const ssize_t size = read(descriptor, buffer.data(), buffer.size());
        if (size <= 0) {
            return found;  // EAGAIN: all read
        }
        for (ssize_t at = 0; at < size;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + at, sizeof event);
            const char* name = buffer.data() + at + sizeof event;
            // A name comes with its terminating zero.
            if ((event.mask & IN_Q_OVERFLOW) != 0 || (event.len > 0 && file_name == name)) {
                found = true;
            }
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
}

}  // namespace

FolderWatch::FolderWatch() = default;

std::string FolderWatch::start(const std::string& folder, const std::string& file_name) {
    auto watch = std::make_unique<Watch>();
    watch->file_name = file_name;
    watch->descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch->descriptor < 0) {
        return "inotify: " + reason(errno);
    }
    const std::string path = folder.empty() ? "." : folder;
    if (inotify_add_watch(watch->descriptor, path.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR) < 0) {
        return errno == ENOSPC ? "inotify watch limit reached" : "inotify: " + reason(errno);
    }
    watch_ = std::move(watch);
    return {};
}

FolderWatch::~FolderWatch() = default;

FolderWatch::Woken FolderWatch::wait_until(Wakeup& wakeup, std::chrono::steady_clock::time_point deadline) {
    std::array<pollfd, 2> entries{{{static_cast<int>(wakeup.native()), POLLIN, 0}, {-1, POLLIN, 0}}};
    if (watch_) {
        entries[1].fd = watch_->descriptor;
    }
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return Woken::timeout;
        }
        // Rounded up: a wait never ends before its deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        const int ready = poll(entries.data(), entries.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            // Not expected; the wakeup alone still ends the wait.
            return wakeup.wait(left) ? Woken::wakeup : Woken::timeout;
        }
        if (ready <= 0) {
            continue;
        }
        if (entries[0].revents != 0 && wakeup.wait(std::chrono::milliseconds(0))) {
            return Woken::wakeup;
        }
        if (entries[1].revents != 0 && names_file(watch_->descriptor, watch_->file_name)) {
            return Woken::file_changed;
        }
    }
}

}  // namespace velmar::platform
