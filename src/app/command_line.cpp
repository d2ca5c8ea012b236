// The command line: which mode, which folder, which options.
#include "app/command_line.h"

namespace velmar {

namespace {

constexpr std::string_view kFileModeFlag = "--file-mode";
constexpr std::string_view kExportFlag = "--export";

// Options of bridge mode: exact arguments, anywhere but in the folder
// position right after --file-mode.
struct BridgeFlag {
    std::string_view name;
    bool BridgeOptions::*field;
};
constexpr BridgeFlag kBridgeFlags[] = {
    {"--atomic-files", &BridgeOptions::atomic_files},
    {"--reconnect", &BridgeOptions::reconnect},
};

// Exact arguments that count only before --file-mode: after it they would
// turn a folder-less bridge command into something else.
struct EntryFlag {
    std::string_view name;
    bool CommandLine::*field;
};
constexpr EntryFlag kEntryFlags[] = {
    {"--help", &CommandLine::help},
    {"--version", &CommandLine::version},
};

}  // namespace

CommandLine scan_command_line(const std::vector<std::string_view>& arguments) {
    CommandLine result;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == kFileModeFlag && !result.file_mode) {
            result.file_mode = true;
            if (i + 1 < arguments.size()) {
                result.portable_directory = std::string(arguments[i + 1]);
                ++i;  // the folder, never a flag
            }
            continue;
        }
        if (arguments[i] == kExportFlag && !result.export_mode) {
            result.export_mode = true;
            for (std::string* file : {&result.export_recording, &result.export_output}) {
                if (i + 1 < arguments.size()) *file = std::string(arguments[++i]);  // a file name, never a flag
            }
            continue;
        }
        for (const BridgeFlag& flag : kBridgeFlags) {
            if (arguments[i] == flag.name) {
                result.bridge.*flag.field = true;
            }
        }
        for (const EntryFlag& flag : kEntryFlags) {
            if (arguments[i] == flag.name && !result.file_mode) {
                result.*flag.field = true;
            }
        }
    }
    return result;
}

std::string help_text() {
    return "Usage:\n"
           "  velmar-tracker                          connectivity test: tries to reach the simulator,\n"
           "                                          any key tries again, ESC ends\n"
           "  velmar-tracker --file-mode [DIR]        file-based bridge between the simulator and a server\n"
           "  velmar-tracker --reconnect --file-mode [DIR]\n"
           "                                          bridge that waits for the simulator and reconnects\n"
           "                                          after it quits (--reconnect may also follow DIR)\n"
           "  velmar-tracker --atomic-files --file-mode [DIR]\n"
           "                                          bridge that replaces the data and status files whole\n"
           "                                          (temporary file, then rename) instead of in place\n"
           "  velmar-tracker --export RECORDING OUTPUT\n"
           "                                          writes a test recording as GPX, KML, CSV or a page\n"
           "                                          (HTML) by the extension of OUTPUT; needs no simulator\n"
           "  velmar-tracker --help | --version\n"
           "\n"
           "Files: current_flight_data.json, simconnect_status.json, bridge_state.json and\n"
           "python_commands.txt go to DIR,\n"
           "or without DIR to the Velmar folder of the application-data folder (APPDATA); test\n"
           "recordings (flight_data_<time>.json) and aircraft_diagnostic.txt always go to the latter.\n"
           "\n"
           "Exit status: 0 after Ctrl+C, after the connectivity test, and when the bridge cannot reach\n"
           "the simulator at start (without --reconnect); 1 when an unexpected error ends the bridge\n"
           "or an export fails.";
}

std::string version_text() { return std::string("velmar-tracker ") + VELMAR_VERSION; }

}  // namespace velmar
