// Environment, application-data folder and process id on POSIX.
#include <unistd.h>

#include <cstdlib>

#include "platform/environment.h"

namespace velmar::platform {

std::optional<std::string> read_environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::string> app_data_folder() {
    // APPDATA first, so a user (or a test) can point the program anywhere the
    // way Windows users do; an empty value counts, as on Windows.
    if (auto appdata = read_environment("APPDATA")) {
        return appdata;
    }
    // The XDG rules: an empty or relative XDG_DATA_HOME is ignored.
    if (auto xdg = read_environment("XDG_DATA_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
        return xdg;
    }
    if (auto home = read_environment("HOME"); home && !home->empty()) {
        return *home + "/.local/share";
    }
    return std::nullopt;
}

std::int64_t process_id() { return ::getpid(); }

}  // namespace velmar::platform
