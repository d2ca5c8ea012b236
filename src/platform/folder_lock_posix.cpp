// The data folder's lock on POSIX: flock on the folder itself.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/folder_lock.h"

namespace velmar::platform {

namespace {

// The process that holds the flock on the file `status` describes, from
// /proc/locks ("1: FLOCK  ADVISORY  WRITE 1234 08:01:56789 0 EOF"); 0 when
// it cannot be told.
std::int64_t flock_holder(const struct stat& status) {
    std::ifstream locks("/proc/locks");
    std::ostringstream wanted;
    wanted << std::hex;
    wanted.width(2);
    wanted.fill('0');
    wanted << major(status.st_dev) << ':';
    wanted.width(2);
    wanted << minor(status.st_dev) << ':' << std::dec << status.st_ino;
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        fields >> number >> kind;
        if (kind == "->") {
            continue;  // a waiter, not the holder
        }
        fields >> mode >> access >> pid >> file;
        if (kind == "FLOCK" && file == wanted.str()) {
            try {
                return std::stoll(pid);
            } catch (const std::exception&) {
                return 0;
            }
        }
    }
    return 0;
}

}  // namespace

FolderLock::~FolderLock() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

// flock on the folder's own descriptor: nothing is created in it, and the
// lock goes with the last descriptor, so a killed process leaves none.
FolderLock::Outcome FolderLock::lock(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error_ = {errno, std::generic_category()};
        return Outcome::failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        struct stat status {};
        if (reason == EWOULDBLOCK && ::fstat(fd, &status) == 0) {
            holder_pid_ = flock_holder(status);
        }
        ::close(fd);
        if (reason == EWOULDBLOCK) {
            return Outcome::held_elsewhere;
        }
        error_ = {reason, std::generic_category()};
        return Outcome::failed;
    }
    handle_ = fd;
    return Outcome::taken;
}

}  // namespace velmar::platform
