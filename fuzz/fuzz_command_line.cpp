// The command-line scan: arguments are the input split at zero bytes. The scan
// must pick bridge mode exactly when one argument is exactly "--file-mode",
// and take the argument after the first such one, verbatim, as the directory;
// --reconnect counts anywhere but there, --help and --version only before it.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> arguments;
    while (arguments.size() < 64) {
        std::size_t end = input.find('\0');
        arguments.push_back(input.substr(0, end));
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }

    velmar::CommandLine result = velmar::scan_command_line(arguments);

    std::size_t first = 0;
    while (first < arguments.size() && arguments[first] != "--file-mode") ++first;
    bool expected_mode = first < arguments.size();
    std::string_view expected_directory = expected_mode && first + 1 < arguments.size() ? arguments[first + 1] : "";
    if (result.file_mode != expected_mode || result.portable_directory != expected_directory) __builtin_trap();
    bool reconnect = false, help = false, version = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        reconnect |= arguments[i] == "--reconnect" && i != first + 1;
        help |= arguments[i] == "--help" && i < first;
        version |= arguments[i] == "--version" && i < first;
    }
    if (result.bridge.reconnect != reconnect || result.help != help || result.version != version) __builtin_trap();
    return 0;
}
