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

// The folder is watched only for files that appear in it, and the file itself
// for writes: the other files' rewrites (a sample each) wake nobody.
struct FolderWatch::Watch {
    int descriptor = -1;
    int file_watch = -1;  // none while the file is missing
    std::string file_path;
    std::string file_name;
    ~Watch() { close(descriptor); }

    void watch_file() { file_watch = inotify_add_watch(descriptor, file_path.c_str(), IN_CLOSE_WRITE); }

    // Reads every waiting event; true when the file may have changed or events were lost.
    bool file_changed() {
        alignas(inotify_event) std::array<char, 16 * (sizeof(inotify_event) + 256)> buffer;
        bool changed = false;
        for (;;) {
            const ssize_t size = read(descriptor, buffer.data(), buffer.size());
            if (size <= 0) {
                return changed;  // EAGAIN: all read
            }
            for (ssize_t at = 0; at < size;) {
                inotify_event event;
                std::memcpy(&event, buffer.data() + at, sizeof event);
                const char* name = buffer.data() + at + sizeof event;
                if ((event.mask & IN_Q_OVERFLOW) != 0) {
                    changed = true;
                } else if (event.wd == file_watch && (event.mask & IN_CLOSE_WRITE) != 0) {
                    changed = true;
                } else if (event.len > 0 && file_name == name) {  // a name comes with its terminating zero
                    // Created or moved in: a new file, watched from now on, and
                    // read at once in case it was written before the watch.
                    watch_file();
                    changed = true;
                }
                at += static_cast<ssize_t>(sizeof event + event.len);
            }
        }
    }
};

namespace {

std::string reason(int error) { return std::generic_category().message(error); }

}  // namespace

FolderWatch::FolderWatch() = default;

std::string FolderWatch::start(const std::string& folder, const std::string& file_name) {
    auto watch = std::make_unique<Watch>();
    watch->file_name = file_name;
    const std::string path = folder.empty() ? "." : folder;
    watch->file_path = folder.empty() ? file_name : folder + file_name;
    watch->descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch->descriptor < 0) {
        return "inotify: " + reason(errno);
    }
    if (inotify_add_watch(watch->descriptor, path.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) < 0) {
        return errno == ENOSPC ? "inotify watch limit reached" : "inotify: " + reason(errno);
    }
    watch->watch_file();
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
        if (entries[1].revents != 0 && watch_->file_changed()) {
            return Woken::file_changed;
        }
    }
}

}  // namespace velmar::platform
