#include "app/command_line.h"

namespace velmar {

namespace {
constexpr std::string_view kFileModeFlag = "--file-mode";
}

CommandLine scan_command_line(const std::vector<std::string_view>& arguments) {
    CommandLine result;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == kFileModeFlag) {
            result.file_mode = true;
            if (i + 1 < arguments.size()) {
                result.portable_directory = std::string(arguments[i + 1]);
            }
            break;
        }
    }
    return result;
}

}  // namespace velmar
