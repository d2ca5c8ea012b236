// The data folder's lock on Windows: a named mutex from the folder's full path.
#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/folder_lock.h"
#include "platform/windows_api.h"

namespace velmar::platform {

FolderLock::~FolderLock() {
    if (handle_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

// A named mutex from the folder's full path, case and separators made alike:
// nothing is created in the folder, and the system closes the handle of a
// process that ends. Object names take no backslash and have a length
// limit, so the path goes in as a hash.
FolderLock::Outcome FolderLock::lock(const std::string& folder) {
    std::vector<char> full(MAX_PATH);
    DWORD length = GetFullPathNameA(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length + 1);
        length = GetFullPathNameA(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0) {
        error_ = {static_cast<int>(GetLastError()), std::system_category()};
        return Outcome::failed;
    }
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (DWORD i = 0; i < length; ++i) {
        char c = full[i] == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(full[i])));
        if (c == '\\' && i + 1 == length) {
            break;  // "C:\Data\" is "C:\Data"
        }
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Local\\VelmarTrackerDataFolder-%016llx", static_cast<unsigned long long>(hash));
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) {
        error_ = {static_cast<int>(GetLastError()), std::system_category()};
        return Outcome::failed;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Outcome::held_elsewhere;
    }
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
    return Outcome::taken;
}

}  // namespace velmar::platform
