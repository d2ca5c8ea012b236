#include "platform/windows_api.h"

#include <share.h>

#include <cstdio>

#include "platform/filesystem.h"

namespace velmar::platform {

bool create_directory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

// Deny-none sharing, so the server may read and rewrite the exchange files
// while they are open here. msvcrt (mingw-w64) opens that way already; its
// libstdc++ streams have no share-mode argument.
std::ofstream open_shared_output(const std::string& path, std::ios::openmode mode) {
#ifdef _MSC_VER
    return std::ofstream(path, mode | std::ios::out, _SH_DENYNO);
#else
    return std::ofstream(path, mode | std::ios::out);
#endif
}

std::ifstream open_shared_input(const std::string& path) {
#ifdef _MSC_VER
    return std::ifstream(path, std::ios::in, _SH_DENYNO);
#else
    return std::ifstream(path);
#endif
}

bool rewrite_file(const std::string& path, std::string_view text) {
    std::FILE* file = _fsopen(path.c_str(), "w", _SH_DENYNO);
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// A reader that opened the old file without delete sharing makes the move
// fail until it closes it; readers hold a file for a moment, so a few short
// retries get past them. After that the old file stays and the caller's next
// write tries again.
bool replace_file(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp";
    if (!rewrite_file(temporary, text)) {
        return false;
    }
    constexpr int kAttempts = 20;
    constexpr DWORD kRetryPauseMs = 1;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
            return false;
        }
        Sleep(kRetryPauseMs);
    }
    return false;
}

// Windows has no file-size-limit signal.
void ignore_file_size_limit_signal() {}

}  // namespace velmar::platform
