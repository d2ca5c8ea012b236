// The aircraft diagnostic file: written here, beside the bridge's other files.
#include "bridge/diagnostic_file.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>

#include "bridge/app_folder.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace velmar {

bool append_aircraft_diagnostic(const AircraftStateReport& report, const std::string& aircraft_name) {
    const std::int64_t now = platform::wall_clock_seconds();
    const std::optional<std::string> app_data = platform::app_data_folder();
    if (!app_data) {
        platform::print_line("[DIAG ERROR] Could not get APPDATA path");
        return false;
    }
    const std::string path = platform::join_path(platform::join_path(*app_data, kAppFolderName), kDiagnosticFileName);
    std::ofstream file = platform::open_shared_output(path, std::ios::app);
    if (!file.is_open()) {
        const int reason = errno;
        platform::print_line("[DIAG ERROR] Could not open diagnostic file: " + path);
        platform::print_error_line("[CUSTOM ERROR] Failed to write " + path + ": " +
                                   std::generic_category().message(reason));
        return false;
    }
    platform::print_line("[DIAG] Writing to: " + path);
    // Write errors after a successful open go unreported, as the close does.
    file << format_aircraft_diagnostic(report, platform::format_local_time(now, kDiagnosticTimeFormat), aircraft_name)
         << std::flush;
    // The name is the simulator's text: shown with its control bytes escaped.
    platform::print_line("[OK] Aircraft detected from system state: '" + platform::escape_control_bytes(aircraft_name) +
                         "'");
    file.close();
    platform::print_line("[DIAG] Aircraft data dumped to: " + path);
    return true;
}

}  // namespace velmar
