// Environment variables, the application-data folder, the process id.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmar::platform {

// The value of an environment variable, or nothing when it is not set.
// An empty value counts as set.
std::optional<std::string> read_environment(const char* name);

// The per-user application-data folder. Windows: exactly APPDATA. POSIX:
// APPDATA when set, else XDG_DATA_HOME, else $HOME/.local/share; nothing when
// none of them is set.
std::optional<std::string> app_data_folder();

// This process's id as the operating system shows it.
std::int64_t process_id();

}  // namespace velmar::platform
