// The command line: which mode, which folder, which options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "bridge/file_bridge.h"

namespace velmar {

struct CommandLine {
    bool file_mode = false;
    std::string portable_directory;  // empty: use the application-data folder
    BridgeOptions bridge;            // --atomic-files, --reconnect
    // --export RECORDING OUTPUT: the two arguments after it, whatever they hold
    // (empty when missing).
    bool export_mode = false;
    std::string export_recording;
    std::string export_output;
    bool help = false;
    bool version = false;
};

// Scans the arguments after the program name. The argument right after the
// first "--file-mode" is always the directory, whatever it holds.
CommandLine scan_command_line(const std::vector<std::string_view>& arguments);

// What --help and --version print; no line end after the last line.
std::string help_text();
std::string version_text();

}  // namespace velmar
