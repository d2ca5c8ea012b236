// The Windows executable, cross-built with mingw-w64, in bridge mode under
// Wine against a native sim-standin: its files under Wine's APPDATA, Windows
// paths on its console, a command taken, a recording in CR LF lines, the
// state file (replaced whole through MoveFileEx) beating and naming it;
// the simulator's named pipe as the way in; the record and command wakes; an export
// of the recording.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e/wake_checks.h"
#include "support/process.h"
#include "wine/wine_support.h"

namespace velmar::wine {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The Windows folder of the "[LEGACY] Using APPDATA directory: " line: Wine's
// APPDATA with "\Velmar", shown with backslashes; empty when missing.
std::string legacy_folder(const Lines& lines) {
    static const std::regex kLegacyLine(
        R"(\[LEGACY\] Using APPDATA directory: (C:\\users\\[^\\]+\\AppData\\Roaming\\Velmar))");
    std::smatch match;
    for (const std::string& line : lines) {
        if (std::regex_match(line, match, kLegacyLine)) return match[1];
    }
    return {};
}

TEST(WineBridge, WritesUnderAppdataTakesCommandsAndRecordsInCrLf) {
    test::Standin standin;
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    test::Process bridge({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE, "--file-mode"}, options);
    ASSERT_TRUE(bridge.wait_for_line("[OK] Auto-started data collection for monitoring", kWineStartTimeout))
        << bridge.output() << bridge.error_output();

    const Lines lines = bridge.output_lines();
    const std::string windows_folder = legacy_folder(lines);
    ASSERT_FALSE(windows_folder.empty()) << bridge.output();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "[BRIDGE] Data file: " + windows_folder + "\\current_flight_data.json"),
        lines.end());
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "Data files location: " + windows_folder + "\\current_flight_data.json"),
        lines.end());

    const fs::path folder = unix_path(windows_folder);
    EXPECT_TRUE(eventually([&] {
        return file_or_empty(folder / "simconnect_status.json").find("\"connected\":true") != std::string::npos;
    }));
    EXPECT_TRUE(eventually([&] { return !file_or_empty(folder / "current_flight_data.json").empty(); }));

    // Recordings of earlier runs in this prefix stay; find the new one.
    std::set<fs::path> earlier;
    for (const auto& entry : fs::directory_iterator(folder)) {
        earlier.insert(entry.path());
    }
    const fs::path command_file = folder / "python_commands.txt";
    test::write_file(command_file, "START_TEST\r\n");
    ASSERT_TRUE(bridge.wait_for_line("[OK] Test started - Data collection active"));
    EXPECT_TRUE(eventually([&] { return file_or_empty(command_file).empty(); })) << "the command was taken";

    fs::path recording;
    ASSERT_TRUE(eventually([&] {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (earlier.count(entry.path()) == 0 && name.rfind("flight_data_", 0) == 0) {
                recording = entry.path();
                return true;
            }
        }
        return false;
    }));
    ASSERT_TRUE(eventually([&] {
        const std::string text = file_or_empty(recording);
        return std::count(text.begin(), text.end(), '\n') >= 3;
    }));

    // The recording's Windows path and the command's result, while the heartbeat goes on.
    const fs::path state_file = folder / "bridge_state.json";
    const auto state = [&] { return nlohmann::json::parse(file_or_empty(state_file), nullptr, false); };
    std::int64_t alive_at = 0;
    EXPECT_TRUE(eventually([&] {
        auto now = state();
        if (!now.is_object() || !now["last_command"].is_object()) return false;
        alive_at = now["alive_at"];
        return now["recording"] == windows_folder + "\\" + recording.filename().string() &&
               now["last_command"]["seq"] == 1 && now["last_command"]["result"] == "done" && now["connected"] == true &&
               now["sim_paused"] == false && now["aircraft_type"] == "C172";
    })) << file_or_empty(state_file);
    EXPECT_TRUE(eventually([&] {
        auto now = state();
        return now.is_object() && now["alive_at"] > alive_at;
    }));

    // The Windows event and the folder's change notification: recorded
    // timestamps follow the sends, and commands do not wait for the next poll.
    std::string gaps, times;
    EXPECT_LE(test::median_timestamp_gap_error(
                  standin, [&] { return file_or_empty(recording); }, gaps),
              12.0)
        << "recorded/sent gaps in ms:" << gaps;
    EXPECT_GE(test::commands_taken_within_50ms(bridge, standin, command_file, 7, times), 4)
        << "ms from write to call:" << times;

    test::write_file(command_file, "STOP_TEST\n");
    ASSERT_TRUE(bridge.wait_for_line("[OK] Test stopped - Data saved to AppData/Velmar/"));

    const Lines recorded = crlf_lines(test::read_file(recording));
    ASSERT_GE(recorded.size(), 3U);
    for (const std::string& line : recorded) {
        EXPECT_TRUE(line.size() > 2 && line.front() == '{' && line.back() == '}') << line;
    }

    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(30s), 0);
    EXPECT_TRUE(bridge.wait_for_line("Shutting down..."));
    EXPECT_NE(file_or_empty(folder / "simconnect_status.json").find("\"connected\":false"), std::string::npos)
        << "an interrupt ends in an orderly shutdown";
    EXPECT_EQ(state()["connected"], false) << file_or_empty(state_file);
    const Lines calls = standin.log_lines();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "SimConnect_Open \"MSFS Velmar Tracker\" 0 0 1 0 -> 0");

    // Its export of the CR LF recording, by Windows paths, is the native one's
    // byte for byte; the second replaces the first (MoveFileEx).
    const fs::path native = folder / "native.csv";
    for (int run = 0; run < 2; ++run) {
        test::Process exporter({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE, "--export",
                                windows_folder + "\\" + recording.filename().string(),
                                windows_folder + "\\flight.csv"});
        EXPECT_EQ(exporter.wait(kWineStartTimeout), 0) << exporter.error_output();
    }
    EXPECT_EQ(test::Process({test::bin_path("velmar-tracker"), "--export", recording.string(), native.string()}).wait(),
              0);
    EXPECT_EQ(file_or_empty(folder / "flight.csv"), test::read_file(native));
    fs::remove(folder / "flight.csv");
    fs::remove(native);
}

// Without SIMCONNECT_STANDIN_PORT or a SimConnect.cfg the Windows build takes
// the simulator's local named pipe; pipe-relay serves it and forwards to the
// native stand-in, in pieces of 5 bytes, so records arrive cut up.
TEST(WineBridge, ReachesTheSimulatorThroughItsNamedPipe) {
    test::Standin standin;
    test::Process relay({VELMAR_WINE_PROGRAM, VELMAR_PIPE_RELAY, "--split", "5", std::to_string(standin.port())});
    ASSERT_TRUE(
        relay.wait_for_line(R"(pipe-relay serving \\.\pipe\Microsoft Flight Simulator\SimConnect)", kWineStartTimeout))
        << relay.output() << relay.error_output();

    test::ScratchDir scratch;  // the working directory: no SimConnect.cfg in it
    std::string data_folder = "Z:" + (scratch.path() / "data").string();
    std::replace(data_folder.begin(), data_folder.end(), '/', '\\');
    test::ProcessOptions options;
    options.unset_environment = {"SIMCONNECT_STANDIN_PORT"};
    test::Process bridge({"/bin/sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", scratch.str(),
                          VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE, "--file-mode", data_folder},
                         options);
    ASSERT_TRUE(bridge.wait_for_line("[OK] Auto-started data collection for monitoring", kWineStartTimeout))
        << bridge.output() << bridge.error_output();
    // Samples come back through the pipe.
    EXPECT_TRUE(eventually([&] {
        return file_or_empty(scratch.path() / "data" / "current_flight_data.json").find("\"latitude\"") !=
               std::string::npos;
    }));
    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(30s), 0);
    ASSERT_TRUE(standin.wait_for_log_lines(2));
    const Lines calls = standin.log_lines();
    EXPECT_EQ(calls.front(), "SimConnect_Open \"MSFS Velmar Tracker\" 0 0 1 0 -> 0");
    EXPECT_TRUE(eventually([&] { return standin.log_lines().back() == "SimConnect_Close -> 0"; }));
}

// A portable folder given as a Windows path (with a blank) holds the data
// files; the diagnostic record goes to Wine's APPDATA in CR LF lines.
TEST(WineBridge, PortableWindowsFolderAndTheDiagnosticFileInCrLf) {
    test::Standin standin;
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    const std::string windows_folder = "C:\\velmar portable " + std::to_string(::getpid());
    const fs::path folder = unix_path(windows_folder);
    test::Process bridge({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE, "--file-mode", windows_folder}, options);
    ASSERT_TRUE(bridge.wait_for_line("[OK] Auto-started data collection for monitoring", kWineStartTimeout))
        << bridge.output() << bridge.error_output();
    const Lines lines = bridge.output_lines();
    for (const std::string& line : {"[PORTABLE] Using portable temp directory: " + windows_folder,
                                    "[BRIDGE] Data file: " + windows_folder + "\\current_flight_data.json"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << bridge.output();
    }
    EXPECT_TRUE(eventually([&] {
        return file_or_empty(folder / "simconnect_status.json").find("\"connected\":true") != std::string::npos;
    }));
    EXPECT_TRUE(eventually([&] { return !file_or_empty(folder / "current_flight_data.json").empty(); }));

    ASSERT_TRUE(bridge.wait_for_line("[OK] Aircraft detected from system state: 'C172'", 30s)) << bridge.output();
    static const std::regex kWritingLine(R"(\[DIAG\] Writing to: (C:\\.*\\Velmar\\aircraft_diagnostic\.txt))");
    std::smatch match;
    const std::string output = bridge.output();
    ASSERT_TRUE(std::regex_search(output, match, kWritingLine)) << output;
    const Lines diagnostic = crlf_lines(test::read_file(unix_path(match[1])));
    ASSERT_GE(diagnostic.size(), 14U);
    const Lines last(diagnostic.end() - 14, diagnostic.end());  // the newest record, 14 lines
    EXPECT_EQ((Lines(last.begin(), last.begin() + 2)), (Lines{"", "=== AIRCRAFT SYSTEM STATE ==="}));
    EXPECT_EQ((Lines(last.end() - 5, last.end())),
              (Lines{"Full Path: 'SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg'", "Length: 44 characters",
                     "Extracted Aircraft Name: 'C172'", "", ""}));

    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(30s), 0);
    EXPECT_NE(file_or_empty(folder / "simconnect_status.json").find("\"connected\":false"), std::string::npos);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// A simulator that refuses the connection: the failure on the console (CR LF
// lines through the pipe) and exit status 0, the queued lines all written.
TEST(WineBridge, ARefusedConnectionEndsWithStatusZero) {
    test::Standin standin;
    standin.control("fail SimConnect_Open -2147467259");
    test::ScratchDir scratch;
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    test::Process bridge({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE, "--file-mode", "Z:" + scratch.str()}, options);
    EXPECT_EQ(bridge.wait(kWineStartTimeout), 0);
    EXPECT_NE(bridge.output().find("[CUSTOM ERROR] Failed to connect to SimConnect\r\n"
                                   "Make sure Microsoft Flight Simulator is running.\r\n"),
              std::string::npos)
        << bridge.output();
    EXPECT_EQ(bridge.output().rfind("Make sure Microsoft Flight Simulator is running.\r\n"),
              bridge.output().size() - 50)
        << "the last line";
    EXPECT_EQ(standin.log_lines(), Lines{"SimConnect_Open \"MSFS Velmar Tracker\" 0 0 1 0 -> -2147467259"});
}

}  // namespace
}  // namespace velmar::wine
