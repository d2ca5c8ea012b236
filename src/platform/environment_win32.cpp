// Environment, application-data folder and process id on Windows.
#include <cstdlib>

#include "platform/environment.h"
#include "platform/windows_api.h"

namespace velmar::platform {

std::optional<std::string> read_environment(const char* name) {
#ifdef _MSC_VER
    char* buffer = nullptr;
    std::size_t length = 0;
    _dupenv_s(&buffer, &length, name);
    if (buffer == nullptr) {
        return std::nullopt;
    }
    std::string value(buffer);
    std::free(buffer);
    return value;
#else
    // mingw-w64's msvcrt import library has no _dupenv_s.
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
#endif
}

std::optional<std::string> app_data_folder() { return read_environment("APPDATA"); }

std::int64_t process_id() { return static_cast<std::int64_t>(GetCurrentProcessId()); }

}  // namespace velmar::platform
