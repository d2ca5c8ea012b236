// The Windows executable, cross-built with mingw-w64, under Wine against a
// native sim-standin: the same console lines, CR LF line ends, Windows paths
// under Wine's APPDATA.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// Wine starts its server and services on the first run in a prefix.
constexpr auto kWineStartTimeout = 120s;

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

fs::path wine_prefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/") / ".wine";
}

// "C:\users\u\AppData\Roaming\Velmar" -> <prefix>/drive_c/users/u/AppData/Roaming/Velmar
fs::path unix_path(std::string windows_path) {
    EXPECT_EQ(windows_path.rfind("C:\\", 0), 0U) << windows_path;
    std::replace(windows_path.begin(), windows_path.end(), '\\', '/');
    return wine_prefix() / "drive_c" / windows_path.substr(3);
}

std::string file_or_empty(const fs::path& path) { return fs::exists(path) ? test::read_file(path) : std::string(); }

// The lines of CR LF text; fails the test on a bare LF.
Lines crlf_lines(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            ADD_FAILURE() << "last line without a line end: " << lines.back();
            break;
        }
        EXPECT_TRUE(end > start && text[end - 1] == '\r') << "bare LF after: " << text.substr(start, end - start);
        lines.push_back(text.substr(start, end > start && text[end - 1] == '\r' ? end - start - 1 : end - start));
        start = end + 1;
    }
    return lines;
}

TEST(WineSimpleMode, ConnectsToTheNativeStandinAndEndsOnAKey) {
    test::Standin standin;
    test::ScratchDir scratch;
    const fs::path out = scratch.path() / "stdout.txt";
    const fs::path err = scratch.path() / "stderr.txt";
    // Keys come through a pseudo-terminal (_getch needs a console); the
    // output goes to files, since on a terminal Wine's console adds escape
    // sequences to it.
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    options.use_pty = true;
    test::Process tracker({"/bin/sh", "-c", "out=$1 err=$2; shift 2; exec \"$@\" >\"$out\" 2>\"$err\"", "sh",
                           out.string(), err.string(), VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE},
                          options);

    ASSERT_TRUE(eventually([&] { return file_or_empty(out).find("Press any key to exit...") != std::string::npos; },
                           kWineStartTimeout))
        << file_or_empty(out) << file_or_empty(err);
    tracker.write_input("x");
    EXPECT_EQ(tracker.wait(30s), 0) << file_or_empty(err);

    EXPECT_EQ(crlf_lines(test::read_file(out)), (Lines{
                                                    "MSFS Velmar Tracker - Simple Version",
                                                    "====================================",
                                                    "Version: 0.0.1",
                                                    "",
                                                    "Connecting to Microsoft Flight Simulator...",
                                                    "[OK] Connected to Flight Simulator!",
                                                    "SimConnect connection successful.",
                                                    "",
                                                    "This is the simple test version.",
                                                    "For full HTTP server with React UI, use the Python bridge:",
                                                    "  python python-server.py",
                                                    "",
                                                    "Press any key to exit...",
                                                }));
    ASSERT_TRUE(standin.wait_for_log_lines(2));
    EXPECT_EQ(standin.log_lines(),
              (Lines{"SimConnect_Open \"MSFS Velmar Tracker Simple\" 0 0 0 0 -> 0", "SimConnect_Close -> 0"}));
}

TEST(WineSimpleMode, WithoutAConsoleTheFailureBlockShowsOnce) {
    test::Standin standin;
    standin.control("fail SimConnect_Open -2147467259");
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    test::Process tracker({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE}, options);
    tracker.close_input();

    // _getch fails at once without a console: ESC, not an endless loop.
    EXPECT_EQ(tracker.wait(kWineStartTimeout), 0);
    const Lines lines = tracker.output_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Press ENTER to try again, or ESC to exit..."), 1);
    EXPECT_EQ(lines.back(), "Exiting...");
    EXPECT_NE(tracker.output().find("Exiting...\r\n"), std::string::npos) << "console lines end in CR LF";
}

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

}  // namespace
}  // namespace velmar
