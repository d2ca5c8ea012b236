#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/filesystem.h"
#include "platform/windows_api.h"

namespace velmar::platform {

bool create_directory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool is_directory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

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
// retries get past them. After that the old file stays.
std::error_code rename_over(const std::string& from, const std::string& to) {
    constexpr int kAttempts = 20;
    constexpr DWORD kRetryPauseMs = 1;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
            return {};
        }
        error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
            break;
        }
        Sleep(kRetryPauseMs);
    }
    return {static_cast<int>(error), std::system_category()};
}

// The caller's next write tries again when the rename fails.
bool replace_file(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp";
    return rewrite_file(temporary, text) && !rename_over(temporary, path);
}

// A writer holding the file without write sharing makes this fail (EACCES).
std::error_code empty_file(const std::string& path) {
    std::FILE* file = _fsopen(path.c_str(), "w", _SH_DENYNO);
    if (file == nullptr) {
        return {errno, std::generic_category()};
    }
    std::fclose(file);
    return {};
}

// Binary: the caller writes its own line ends. _O_EXCL is CREATE_NEW.
int AppendFile::open_new(const std::string& path) {
    return _sopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE);
}

long AppendFile::write_some(int descriptor, std::string_view text) {
    return _write(descriptor, text.data(), static_cast<unsigned int>(std::min<std::size_t>(text.size(), 1U << 30)));
}

bool AppendFile::cut_back() {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor_));
    LARGE_INTEGER position;
    position.QuadPart = size_;
    if (handle == INVALID_HANDLE_VALUE || !SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(handle) || _lseeki64(descriptor_, size_, SEEK_SET) != size_) {
        return false;
    }
    torn_ = false;
    return true;
}

void AppendFile::close_descriptor(int descriptor) { _close(descriptor); }

// Windows has no file-size-limit signal.
void ignore_file_size_limit_signal() {}

}  // namespace velmar::platform
