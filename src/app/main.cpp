#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/simple_mode.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    const velmar::CommandLine command_line = velmar::scan_command_line(arguments);
    if (command_line.file_mode) {
        // Bridge mode joins with the file bridge.
        velmar::platform::print_error_line("[CUSTOM ERROR] Bridge mode is not available in this build");
        return 1;
    }
    return velmar::run_simple_mode();
}
