// The command-line scan: arguments are the input split at zero bytes. The first
// "--file-mode" takes the next argument verbatim as its folder, the first
// "--export" the next two as its files; the flags count anywhere else, --help
// and --version only before --file-mode.

#include <algorithm>
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

    // The first --file-mode takes the argument after it as its folder, the
    // first --export the two after it as its files; no taken argument is a flag.
    bool file_mode = false, export_mode = false;
    std::string_view directory;
    bool reconnect = false, atomic = false, help = false, version = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "--file-mode" && !file_mode) {
            file_mode = true;
            if (i + 1 < arguments.size()) directory = arguments[++i];
            continue;
        }
        if (argument == "--export" && !export_mode) {
            export_mode = true;
            i += std::min<std::size_t>(2, arguments.size() - 1 - i);
            continue;
        }
        reconnect |= argument == "--reconnect";
        atomic |= argument == "--atomic-files";
        help |= argument == "--help" && !file_mode;
        version |= argument == "--version" && !file_mode;
    }
    if (result.file_mode != file_mode || result.portable_directory != directory || result.export_mode != export_mode)
        __builtin_trap();
    if (result.bridge.reconnect != reconnect || result.bridge.atomic_files != atomic || result.help != help ||
        result.version != version)
        __builtin_trap();
    return 0;
}
