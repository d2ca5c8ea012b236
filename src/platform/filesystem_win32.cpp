// Files and folders on Windows.
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

std::error_code make_directory(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr) != 0) {
        return {};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        return is_directory(path) ? std::error_code() : std::make_error_code(std::errc::not_a_directory);
    }
    return {static_cast<int>(error), std::system_category()};
}

namespace {

std::error_code system_error(DWORD error) { return {static_cast<int>(error), std::system_category()}; }

// Shared for reading, writing and deleting, so the server may do all three
// meanwhile; a pipe or device in the file's place is refused.
HANDLE open_plain(const std::string& path, DWORD access, DWORD disposition, std::error_code& error) {
    if (is_directory(path)) {
        error = std::make_error_code(std::errc::is_a_directory);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = system_error(GetLastError());
        return file;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        error = not_a_regular_file();
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

std::error_code write_whole(const std::string& path, std::string_view text) {
    std::error_code error;
    const HANDLE file = open_plain(path, GENERIC_WRITE, OPEN_ALWAYS, error);
    if (file == INVALID_HANDLE_VALUE) {
        return error;
    }
    DWORD written = 0;
    if (!SetEndOfFile(file) ||
        (!text.empty() && (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
                           written != text.size()))) {
        error = system_error(GetLastError());
    }
    if (!CloseHandle(file) && !error) {
        error = system_error(GetLastError());
    }
    return error;
}

// Whether a reader holding `path` without delete sharing is what refuses the
// replace; access denied for any other reason is a real permission problem.
bool held_by_reader(const std::string& path) {
    const HANDLE probe = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return true;  // deletable: the refusal was a passing one
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

std::error_code rewrite_in_place(const std::string& path, std::string_view text) { return write_whole(path, text); }

// One try, no waiting: a reader that opened the old file without delete
// sharing makes the move fail until it closes it; the caller tries again.
std::error_code replace_whole(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp";
    if (std::error_code error = write_whole(temporary, text)) {
        return error;
    }
    if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
        return {};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
        (error == ERROR_ACCESS_DENIED && held_by_reader(path))) {
        return std::make_error_code(std::errc::device_or_resource_busy);
    }
    return system_error(error);
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

std::error_code read_head(const std::string& path, char* buffer, std::size_t capacity, std::size_t& size) {
    size = 0;
    std::error_code error;
    const HANDLE file = open_plain(path, GENERIC_READ, OPEN_EXISTING, error);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = static_cast<DWORD>(error.value());
        if (error.category() == std::system_category() &&
            (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)) {
            return std::make_error_code(std::errc::no_such_file_or_directory);
        }
        return error;
    }
    while (size < capacity) {
        DWORD count = 0;
        if (!ReadFile(file, buffer + size, static_cast<DWORD>(capacity - size), &count, nullptr)) {
            error = system_error(GetLastError());
            break;
        }
        if (count == 0) {
            break;
        }
        size += count;
    }
    CloseHandle(file);
    return error;
}

// A writer holding the file without write sharing makes this fail.
std::error_code empty_file(const std::string& path) {
    std::error_code error;
    const HANDLE file = open_plain(path, GENERIC_WRITE, OPEN_ALWAYS, error);
    if (file == INVALID_HANDLE_VALUE) {
        return error;
    }
    if (!SetEndOfFile(file)) {
        error = system_error(GetLastError());
    }
    CloseHandle(file);
    return error;
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
