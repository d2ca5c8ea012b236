// FileBridge's commands: taking them off the command file and carrying them out.
#include <string>
#include <string_view>
#include <utility>

#include "bridge/command_file.h"
#include "bridge/file_bridge.h"
#include "platform/console.h"
#include "platform/filesystem.h"

namespace velmar {

namespace {

using platform::print_error_line;
using platform::print_line;

}  // namespace

void FileBridge::poll_command_file(EmptyCommandFile empty) {
    // Bytes as they are, so CR LF is handled alike everywhere; a pipe or
    // device in the file's place is never waited on.
    char head[kCommandReadBytes];
    std::size_t size = 0;
    if (const std::error_code error = platform::read_head(command_file_path_, head, sizeof head, size)) {
        if (error == std::errc::no_such_file_or_directory) {
            command_file_problem_.clear();
        } else {
            report_command_file_problem("[CUSTOM ERROR] Cannot read the command file " + command_file_path_ + ": " +
                                        error.message());
        }
        return;
    }
    const std::string line = first_command_line(std::string_view(head, size));
    if (line.empty()) {
        command_file_problem_.clear();
        if (empty == EmptyCommandFile::report) {
            print_line("[DEBUG] Command file empty");
        }
        return;
    }
    if (!take_command(line)) {
        return;
    }
    print_line("[DEBUG] Processing command: '" + printable_command(line) + "'");
    simulator_.post([this, line] { process_command(line); });
}

bool FileBridge::take_command(const std::string& line) {
    // Emptied before it runs: a command left in a file that cannot be emptied
    // would otherwise run again at every poll.
    const std::error_code error = platform::empty_file(command_file_path_);
    if (!error) {
        command_file_problem_.clear();
        return true;
    }
    report_command_file_problem("[CUSTOM ERROR] Cannot empty the command file " + command_file_path_ + " (" +
                                error.message() + "): '" + printable_command(line) +
                                "' is not carried out until the bridge can empty it");
    return false;
}

void FileBridge::report_command_file_problem(std::string report) {
    if (report != command_file_problem_) {
        print_error_line(report);
        command_file_problem_ = std::move(report);
    }
}

void FileBridge::process_command(const std::string& line) {
    struct Command {
        std::string_view word;
        std::string_view confirmation;  // printed before the action; empty: none
        bool (*action)(FileBridge&);    // false: not carried out (each reports its own failures)
    };
    static constexpr Command kCommands[] = {
        {"START_TEST", "", [](FileBridge& bridge) { return bridge.start_test(); }},
        {"STOP_TEST", "",
         [](FileBridge& bridge) {
             bridge.stop_test();
             return true;  // the test ends with or without a simulator
         }},
        {"PAUSE_REGULAR", "[OK] Executing regular pause",
         [](FileBridge& bridge) { return bridge.simconnect_.trigger_regular_pause(); }},
        {"UNPAUSE", "[OK] Executing unpause", [](FileBridge& bridge) { return bridge.simconnect_.force_unpause(); }},
        {"PAUSE_ACTIVE", "[OK] Executing active pause",
         [](FileBridge& bridge) { return bridge.simconnect_.trigger_active_pause(); }},
        {"PAUSE_SIM", "[OK] Executing sim pause",
         [](FileBridge& bridge) { return bridge.simconnect_.trigger_sim_pause(); }},
        {"SET_STANDARD_FUEL", "[OK] Setting standard fuel load (5T)",
         [](FileBridge& bridge) { return bridge.simconnect_.set_standard_fuel_load(); }},
        {"POSITION_RTT", "[OK] Positioning aircraft at RTT Rattenberg",
         [](FileBridge& bridge) { return bridge.simconnect_.position_at_rattenberg(); }},
    };
    command_results_.begin(++commands_taken_, line);
    for (const Command& command : kCommands) {
        if (line == command.word) {
            if (!command.confirmation.empty()) {
                print_line(command.confirmation);
            }
            simconnect_.track_sends([this](DWORD send_id) { command_results_.sent(send_id); });
            const bool carried_out = command.action(*this);
            simconnect_.track_sends({});
            const CommandResult result = carried_out                   ? CommandResult::done
                                         : !simconnect_.is_connected() ? CommandResult::not_connected
                                                                       : CommandResult::failed;
            command_results_.finish(result, result == CommandResult::failed ? simconnect_.refused_result() : 0);
            return;
        }
    }
    print_line("[DEBUG] Unknown command: " + printable_command(line));
    command_results_.finish(CommandResult::unknown, 0);
}

}  // namespace velmar
