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

std::ifstream open_shared_input(const std::string& path) { return std::ifstream(path); }

namespace {

bool write_whole(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    bool written = true;
    while (!text.empty()) {
        const ssize_t count = ::write(fd, text.data(), text.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            written = false;
            break;
        }
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    return ::close(fd) == 0 && written;
}

}  // namespace

bool rewrite_file(const std::string& path, std::string_view text) { return write_whole(path, text); }

// rename() replaces the name in one step; open readers keep the old file.
std::error_code rename_over(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return {errno, std::generic_category()};
    }
    return {};
}

bool replace_file(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp";
    return write_whole(temporary, text) && ::rename(temporary.c_str(), path.c_str()) == 0;
}

std::error_code empty_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return {errno, std::generic_category()};
    }
    ::close(fd);
    return {};
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
