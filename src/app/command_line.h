#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "bridge/file_bridge.h"

namespace velmar {

struct CommandLine {
    bool file_mode = false;
    std::string portable_directory;  // empty: use the application-data folder
    BridgeOptions bridge;
};

// Scans the arguments after the program name.
CommandLine scan_command_line(const std::vector<std::string_view>& arguments);

}  // namespace velmar
