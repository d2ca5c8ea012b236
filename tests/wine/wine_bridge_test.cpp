// The Windows executable, cross-built with mingw-w64, in bridge mode under
// Wine against a native sim-standin: its files under Wine's APPDATA, Windows
// paths on its console, a command taken, a recording in CR LF lines; the
// simulator's named pipe as the way in.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/process.h"
#include "wine/wine_support.h"

namespace velmar::wine {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

TEST(WineBridge, WritesUnderAppdataTakesCommandsAndRecordsInCrLf) {
    test::Standin standin;
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    test::Process bridge({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE, "--file-mode"}, options);
    ASSERT_TRUE(bridge.wait_for_line("[OK] Auto-started data collection for monitoring", kWineStartTimeout))
        << bridge.output() << bridge.error_output();

    // The folder is Wine's APPDATA with "\Velmar", shown with backslashes.
    const Lines lines = bridge.output_lines();
    static const std::regex kLegacyLine(
        R"(\[LEGACY\] Using APPDATA directory: (C:\\users\\[^\\]+\\AppData\\Roaming\\Velmar))");
    std::smatch match;
    const auto legacy = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return std::regex_match(line, match, kLegacyLine);
    });
    ASSERT_NE(legacy, lines.end()) << bridge.output();
    const std::string windows_folder = match[1];
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
    const Lines calls = standin.log_lines();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "SimConnect_Open \"MSFS Velmar Tracker\" 0 0 0 0 -> 0");
}

// Without SIMCONNECT_STANDIN_PORT or a SimConnect.cfg the Windows build takes
// the simulator's local named pipe; pipe-relay serves it and forwards to the
// native stand-in, in pieces of 5 bytes, so records arrive cut up.
TEST(WineBridge, ReachesTheSimulatorThroughItsNamedPipe) {
    test::Standin standin;
    test::Process relay({VELMAR_WINE_PROGRAM, VELMAR_PIPE_RELAY, "--split", "5", std::to_string(standin.port())});
    ASSERT_TRUE(relay.wait_for_line(R"(pipe-relay serving \\.\pipe\Microsoft Flight Simulator\SimConnect)",
                                    kWineStartTimeout))
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
    EXPECT_EQ(calls.front(), "SimConnect_Open \"MSFS Velmar Tracker\" 0 0 0 0 -> 0");
    EXPECT_TRUE(eventually([&] { return standin.log_lines().back() == "SimConnect_Close -> 0"; }));
}

}  // namespace
}  // namespace velmar::wine
