// Files and folders: what both systems share.
#include "platform/filesystem.h"

#include <cerrno>

namespace velmar::platform {

std::string join_path(std::string_view folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    path.push_back(kPathSeparator);
    path.append(name);
    return path;
}

namespace {

class ExchangeFileCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "exchange file"; }
    std::string message(int) const override { return "not a plain file (a pipe, device or socket)"; }
};

}  // namespace

std::error_code not_a_regular_file() {
    static const ExchangeFileCategory category;
    return {1, category};
}

bool is_blocked_by_reader(const std::error_code& error) { return error == std::errc::device_or_resource_busy; }

bool create_directories(const std::string& path) {
    // Each level in turn, so no conversion of the narrow path is needed.
    for (std::size_t end = path.find_first_of("/\\", 1); end != std::string::npos;
         end = path.find_first_of("/\\", end + 1)) {
        create_directory(path.substr(0, end));
    }
    create_directory(path);
    return is_directory(path);
}

AppendFile::~AppendFile() { close(); }

std::error_code AppendFile::create_new(const std::string& path) {
    close();
    descriptor_ = open_new(path);
    if (descriptor_ < 0) {
        return {errno, std::generic_category()};
    }
    size_ = 0;
    torn_ = false;
    return {};
}

std::error_code AppendFile::write_all(std::string_view text) {
    while (!text.empty()) {
        const long count = write_some(descriptor_, text);
        if (count < 0) {
            return {errno, std::generic_category()};
        }
        if (count == 0) {
            return std::make_error_code(std::errc::no_space_on_device);
        }
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    return {};
}

void AppendFile::close() {
    if (descriptor_ >= 0) {
        close_descriptor(descriptor_);
        descriptor_ = -1;
    }
}

std::error_code AppendFile::append(std::string_view text) {
    if (!is_open()) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    if (torn_ && !cut_back()) {
        return std::make_error_code(std::errc::io_error);
    }
    if (const std::error_code error = write_all(text)) {
        torn_ = true;
        cut_back();
        return error;
    }
    size_ += static_cast<std::int64_t>(text.size());
    return {};
}

}  // namespace velmar::platform
