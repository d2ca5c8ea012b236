#include "app/command_line.h"

namespace velmar {

namespace {

constexpr std::string_view kFileModeFlag = "--file-mode";

// Options of bridge mode: exact arguments, anywhere but in the folder
// position right after --file-mode.
struct BridgeFlag {
    std::string_view name;
    bool BridgeOptions::*field;
};
constexpr BridgeFlag kBridgeFlags[] = {
    {"--atomic-files", &BridgeOptions::atomic_files},
};

}  // namespace

CommandLine scan_command_line(const std::vector<std::string_view>& arguments) {
    CommandLine result;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == kFileModeFlag && !result.file_mode) {
            result.file_mode = true;
            if (i + 1 < arguments.size()) {
                result.portable_directory = std::string(arguments[i + 1]);
                ++i;
            }
            continue;
        }
        for (const BridgeFlag& flag : kBridgeFlags) {
            if (arguments[i] == flag.name) {
                result.bridge.*flag.field = true;
            }
        }
    }
    return result;
}

}  // namespace velmar
