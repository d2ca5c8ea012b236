#include <string_view>
#include <vector>

#include "app/bridge_mode.h"
#include "app/command_line.h"
#include "app/simple_mode.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    const velmar::CommandLine command_line = velmar::scan_command_line(arguments);
    if (command_line.file_mode) {
        return velmar::run_bridge_mode(command_line.portable_directory, command_line.bridge);
    }
    return velmar::run_simple_mode();
}
