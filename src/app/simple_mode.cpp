// The connectivity test: open, report, retry on a key, leave on ESC.
#include "app/simple_mode.h"

#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/simconnect_api.h"

namespace velmar {

namespace {

constexpr std::string_view kTitle = "MSFS Velmar Tracker - Simple Version";
constexpr std::string_view kClientName = "MSFS Velmar Tracker Simple";
constexpr std::string_view kConnectingLine = "Connecting to Microsoft Flight Simulator...";

bool open_connection(HANDLE& handle) {
    handle = nullptr;
    return SimConnect_Open(&handle, kClientName.data(), nullptr, 0, nullptr, 0) == S_OK;
}

}  // namespace

int run_simple_mode() {
    using platform::print_line;

    print_line(kTitle);
    print_line(std::string(kTitle.size(), '='));
    print_line("Version: " VELMAR_VERSION);
    print_line("");
    print_line(kConnectingLine);

    HANDLE handle = nullptr;
    while (!open_connection(handle)) {
        print_line("[CUSTOM ERROR] Failed to connect to Flight Simulator");
        print_line("Make sure Microsoft Flight Simulator is running.");
        print_line("");
        print_line("Press ENTER to try again, or ESC to exit...");
        // At the end of input the key read reports ESC, so this ends.
        if (platform::read_key() == platform::kEscapeKey) {
            print_line("Exiting...");
            return 0;
        }
        print_line("");
        print_line(kConnectingLine);
    }

    print_line("[OK] Connected to Flight Simulator!");
    print_line("SimConnect connection successful.");
    print_line("");
    print_line("This is the simple test version.");
    print_line("For full HTTP server with React UI, use the Python bridge:");
    print_line("  python python-server.py");
    print_line("");

    SimConnect_Close(handle);

    print_line("Press any key to exit...");
    platform::read_key();
    return 0;
}

}  // namespace velmar
