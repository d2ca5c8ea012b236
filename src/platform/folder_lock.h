// One bridge per data folder: a lock that the system frees when the process dies.
#pragma once

// One process per folder: a lock on the folder itself, released by the
// system when the process ends, however it ends.

#include <cstdint>
#include <string>
#include <system_error>

namespace velmar::platform {

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    enum class Outcome { taken, held_elsewhere, failed };
    // Takes the lock on `folder` for this object's life, creating nothing in
    // the folder. held_elsewhere sets holder_pid (0 when unknown); failed
    // sets error.
    Outcome lock(const std::string& folder);

    std::int64_t holder_pid() const { return holder_pid_; }
    const std::error_code& error() const { return error_; }

private:
    std::intptr_t handle_ = -1;  // a descriptor (POSIX) or a HANDLE (Windows)
    std::int64_t holder_pid_ = 0;
    std::error_code error_;
};

}  // namespace velmar::platform
