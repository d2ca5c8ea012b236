// The entry point: help and version, --export, the connectivity test or the bridge.
#include <chrono>
#include <string_view>
#include <vector>

#include "app/bridge_mode.h"
#include "app/command_line.h"
#include "app/simple_mode.h"
#include "export/export_recording.h"
#include "platform/console.h"
#include "platform/interrupt.h"

namespace {

// Long enough for any console that takes output; a stalled one must not keep
// the process from ending.
constexpr std::chrono::seconds kConsoleDrainLimit{2};

}  // namespace

int main(int argc, char** argv) {
    velmar::platform::open_closed_standard_handles();  // before anything opens a file or a connection
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    const velmar::CommandLine command_line = velmar::scan_command_line(arguments);
    int status = 0;
    if (command_line.help || command_line.version) {
        velmar::platform::print_line(command_line.help ? velmar::help_text() : velmar::version_text());
    } else if (command_line.export_mode) {
        status = velmar::run_export_mode(command_line.export_recording, command_line.export_output);
    } else {
        status = command_line.file_mode ? velmar::run_bridge_mode(command_line.portable_directory, command_line.bridge)
                                        : velmar::run_simple_mode();
    }
    // The lines queued before a normal end are written; when the console does
    // not take them in time, the process ends without them.
    if (!velmar::platform::drain_console(kConsoleDrainLimit)) {
        velmar::platform::exit_immediately(status);
    }
    return status;
}
