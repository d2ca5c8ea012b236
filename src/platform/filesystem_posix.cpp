// Files and folders on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/filesystem.h"

namespace velmar::platform {

bool create_directory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool is_directory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// POSIX has no share modes: every open file may be opened again meanwhile.
std::ofstream open_shared_output(const std::string& path, std::ios::openmode mode) {
    return std::ofstream(path, mode | std::ios::out);
}

std::error_code make_directory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        return {};
    }
    const int error = errno;
    if (error == EEXIST) {
        return is_directory(path) ? std::error_code() : std::make_error_code(std::errc::not_a_directory);
    }
    return {error, std::generic_category()};
}

namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

// Non-blocking, so a pipe or device put in a file's place cannot hold the
// caller in open; then refused unless it is a plain file.
int open_plain(const std::string& path, int flags, std::error_code& error) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = last_error();
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? std::make_error_code(std::errc::is_a_directory) : not_a_regular_file();
        ::close(fd);
        return -1;
    }
    return fd;
}

// O_TRUNC does nothing to a pipe or device, so it may come before the check.
std::error_code write_whole(const std::string& path, std::string_view text) {
    std::error_code error;
    const int fd = open_plain(path, O_WRONLY | O_CREAT | O_TRUNC, error);
    if (fd < 0) {
        return error;
    }
    while (!error && !text.empty()) {
        const ssize_t count = ::write(fd, text.data(), text.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            error = count < 0 ? last_error() : std::make_error_code(std::errc::no_space_on_device);
            break;
        }
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    if (::close(fd) != 0 && !error) {
        error = last_error();
    }
    return error;
}

}  // namespace

std::error_code rewrite_in_place(const std::string& path, std::string_view text) { return write_whole(path, text); }

// rename() replaces the name in one step; open readers keep the old file.
std::error_code rename_over(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return {errno, std::generic_category()};
    }
    return {};
}

std::error_code replace_whole(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp";
    if (std::error_code error = write_whole(temporary, text)) {
        return error;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::error_code error = last_error();
        ::unlink(temporary.c_str());
        return error;
    }
    return {};
}

std::error_code read_head(const std::string& path, char* buffer, std::size_t capacity, std::size_t& size) {
    size = 0;
    std::error_code error;
    const int fd = open_plain(path, O_RDONLY, error);
    if (fd < 0) {
        return error;
    }
    while (size < capacity) {
        const ssize_t count = ::read(fd, buffer + size, capacity - size);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error = last_error();
        }
        if (count <= 0) {
            break;
        }
        size += static_cast<std::size_t>(count);
    }
    ::close(fd);
    return error;
}

std::error_code empty_file(const std::string& path) {
    std::error_code error;
    const int fd = open_plain(path, O_WRONLY | O_CREAT, error);
    if (fd < 0) {
        return error;
    }
    if (::ftruncate(fd, 0) != 0) {
        error = last_error();
    }
    ::close(fd);
    return error;
}

int AppendFile::open_new(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

long AppendFile::write_some(int descriptor, std::string_view text) {
    ssize_t count = 0;
    do {
        count = ::write(descriptor, text.data(), text.size());
    } while (count < 0 && errno == EINTR);
    return static_cast<long>(count);
}

bool AppendFile::cut_back() {
    if (::ftruncate(descriptor_, size_) != 0 || ::lseek(descriptor_, size_, SEEK_SET) != size_) {
        return false;
    }
    torn_ = false;
    return true;
}

void AppendFile::close_descriptor(int descriptor) { ::close(descriptor); }

void ignore_file_size_limit_signal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace velmar::platform
