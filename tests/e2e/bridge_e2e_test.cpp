// The bridge from outside: velmar-tracker --file-mode against sim-standin,
// checked through its console, its files and the stand-in's call log.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>
#include <set>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

std::int64_t timestamp_of(const std::string& json) { return nlohmann::json::parse(json)["timestamp"]; }

// The start lines up to the connection attempt.
Lines start_lines(const std::string& folder_line, const std::string& data_file) {
    Lines lines = {"[BRIDGE] Data file: " + data_file, "Starting MSFS Velmar Tracker (File-based Bridge)...",
                   "Data files location: " + data_file, ""};
    if (!folder_line.empty()) lines.insert(lines.begin(), folder_line);
    return lines;
}

TEST(BridgeStart, FolderLinesThenARefusedConnectionEndsWithStatusZero) {
    struct Case {
        const char* name;
        bool legacy, without_app_data;
        std::optional<Lines> arguments;
    };
    for (const Case& row : {Case{"portable", false, false, std::nullopt}, Case{"legacy", true, false, std::nullopt},
                            Case{"empty argument is legacy", true, false, Lines{""}},
                            Case{"no folder at all", true, true, std::nullopt}}) {
        SCOPED_TRACE(row.name);
        BridgeRun run({.legacy = row.legacy, .without_app_data = row.without_app_data});
        fs::create_directories(run.data_folder());
        write_file(run.command_file(), "START_TEST\n");
        run.standin.control("fail SimConnect_Open " + kEFail);
        ASSERT_EQ(run.start(row.arguments).wait(20s), 0);

        const std::string folder_line =
            (row.legacy ? "[LEGACY] Using APPDATA directory: " : "[PORTABLE] Using portable temp directory: ") +
            run.data_folder().string();
        Lines expected = row.without_app_data ? start_lines("", "/current_flight_data.json")
                                              : start_lines(folder_line, run.data_file().string());
        expected.insert(expected.end(), {"[CUSTOM ERROR] Failed to connect to SimConnect",
                                         "Make sure Microsoft Flight Simulator is running."});
        EXPECT_EQ(run.bridge->output_lines(), expected);
        EXPECT_EQ(run.bridge->error_lines(), Lines{"[CUSTOM ERROR] Failed to connect to MSFS SimConnect"});
        EXPECT_EQ(run.standin.log_lines(), Lines{R"(SimConnect_Open "MSFS Velmar Tracker" 0 0 0 0 -> )" + kEFail});
        EXPECT_FALSE(fs::exists(run.status_file()));
        EXPECT_EQ(read_file(run.command_file()), "START_TEST\n");  // never read
    }
}

TEST(BridgeRun, PublishesRecordsAndEndsWholeOnASignal) {
    for (const auto& [signal_number, without_app_data] :
         {std::pair{SIGINT, false}, std::pair{SIGTERM, false}, std::pair{SIGINT, true}}) {
        SCOPED_TRACE((signal_number == SIGINT ? "SIGINT" : "SIGTERM") +
                     std::string(without_app_data ? ", no APPDATA" : ""));
        BridgeRun run({.without_app_data = without_app_data});
        const std::int64_t before = std::time(nullptr);
        ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
        Lines expected = start_lines("[PORTABLE] Using portable temp directory: " + run.data_folder().string(),
                                     run.data_file().string());
        expected.insert(expected.end(),
                        {"[DEBUG] Minimal data definition (9 variables) - testing live data restoration",
                         "[DEBUG] Pause control events mapped with input groups", "[OK] Connected to MSFS",
                         "Connected to MSFS SimConnect", "[OK] SimConnect connection established",
                         "[OK] File-based bridge ready for Python server", "[OK] Data collection started at 5Hz",
                         "[OK] Aircraft detection diagnostic mode enabled", kStartedLine});
        const Lines lines = run.bridge->output_lines();
        ASSERT_GE(lines.size(), expected.size());
        EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
        EXPECT_TRUE(in_order(run.standin.log_lines(), {R"(SimConnect_Open "MSFS Velmar Tracker" 0 0 0 0 -> 0)",
                                                       "SimConnect_RequestDataOnSimObject 2 0 0 2 1 0 0 0 -> 0"}));

        ASSERT_TRUE(run.status_becomes(true, false)) << read_file(run.status_file());
        const std::int64_t last_update = nlohmann::json::parse(read_file(run.status_file()))["last_update"];
        EXPECT_TRUE(last_update >= before && last_update <= std::time(nullptr)) << last_update;
        ASSERT_TRUE(eventually([&] { return flight_data_problem(read_file(run.data_file())).empty(); }));
        const std::string data = read_file(run.data_file());
        const auto sample = nlohmann::json::parse(data);
        EXPECT_EQ(sample["timestamp"], 0) << "no test runs";
        EXPECT_GT(sample["airspeed_indicated"].get<double>(), 0.0);
        EXPECT_EQ(sample["airspeed_true"], sample["airspeed_indicated"]);
        EXPECT_FALSE(data.ends_with("\n"));

        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(run.status_becomes(true, true));
        ASSERT_TRUE(eventually([&] {  // samples count from the test's start
            const std::string now = read_file(run.data_file());
            return flight_data_problem(now).empty() && timestamp_of(now) > 0;
        }));
        ASSERT_TRUE(without_app_data || eventually([&] { return run.recorded_lines() >= 3; }));
        EXPECT_TRUE(run.interrupt_cleanly(signal_number));
        const Lines final_lines = run.bridge->output_lines();
        const auto shutting_down = std::find(final_lines.begin(), final_lines.end(), "Shutting down...");
        ASSERT_NE(shutting_down, final_lines.end());
        EXPECT_EQ(*(shutting_down - 1), "");
        EXPECT_TRUE(in_order(Lines(shutting_down, final_lines.end()), {kDisconnectedLine, kSessionClosedLine}));
        EXPECT_TRUE(run.status_becomes(false, true)) << read_file(run.status_file());
        EXPECT_EQ(run.standin.log_lines().back(), "SimConnect_Close -> 0");
        if (without_app_data) {  // no recording, anywhere
            EXPECT_FALSE(fs::exists(run.recording_folder()));
            EXPECT_EQ(std::distance(fs::directory_iterator(run.data_folder()), {}), 3);
        } else {
            EXPECT_EQ(recording_problem(run.recordings().at(0)), "");
        }
    }
}

TEST(BridgeRun, EveryCommandWordAndATestRecording) {
    BridgeRun run({.legacy = true});  // data files and recordings both under APPDATA
    ASSERT_TRUE(run.start_connected());
    for (const CommandWord& row : kCommandWords) {
        SCOPED_TRACE(row.word);
        ASSERT_TRUE(row.word != "STOP_TEST" || eventually([&] { return run.recorded_lines() >= 5; }));
        const std::size_t log_before = run.standin.log_lines().size();
        const std::size_t lines_before = run.bridge->output_lines().size();
        ASSERT_TRUE(run.command(row.word + "\n", row.lines.back()));
        Lines expected = {"[DEBUG] Processing command: '" + row.word + "'"};
        expected.insert(expected.end(), row.lines.begin(), row.lines.end());
        EXPECT_TRUE(in_order(run.bridge->output_lines(), expected, lines_before)) << run.bridge->output();
        const Lines log = run.standin.log_lines();
        EXPECT_TRUE(std::any_of(log.begin() + static_cast<std::ptrdiff_t>(log_before), log.end(),
                                [&](const std::string& line) { return line.starts_with(row.call); }))
            << row.call;
        EXPECT_TRUE(run.status_becomes(true, row.word != "STOP_TEST"));
    }
    const auto recordings = run.recordings();
    ASSERT_EQ(recordings.size(), 1u);
    EXPECT_EQ(recordings[0].filename().string().size(), std::string("flight_data_20250314_093005.json").size());
    EXPECT_EQ(recording_problem(recordings[0]), "");
    const Lines lines = split_lines(read_file(recordings[0]));
    EXPECT_LT(timestamp_of(lines.front()), 10'000) << "test-relative";
    EXPECT_GT(timestamp_of(lines.back()), 0);
    EXPECT_TRUE(run.interrupt_cleanly());
}

TEST(BridgeRun, NameCollisionAndDoubleStartNeverOverwrite) {
    BridgeRun run;
    fs::create_directories(run.recording_folder());
    std::set<fs::path> earlier;  // an earlier run's recordings, for every second this test may start in
    for (std::time_t second = std::time(nullptr) - 1, end = second + 40; second <= end; ++second) {
        std::tm local{};
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", localtime_r(&second, &local));
        const fs::path path = run.recording_folder() / ("flight_data_" + std::string(stamp) + ".json");
        write_file(path, "earlier\n");
        earlier.insert(path);
    }
    const auto new_recordings = [&] {
        Lines found;
        for (const auto& path : run.recordings()) {
            if (!earlier.contains(path)) found.push_back(path.string());
        }
        return found;
    };
    ASSERT_TRUE(run.start_connected());
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    ASSERT_TRUE(eventually([&] { return new_recordings().size() == 1; }));
    const std::string first = new_recordings()[0];
    EXPECT_TRUE(first.ends_with("_2.json")) << first;
    ASSERT_TRUE(eventually([&] { return split_lines(read_file(first)).size() >= 3; }));
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));  // while the first test runs
    const std::string first_content = read_file(first);
    ASSERT_TRUE(eventually(
        [&] { return new_recordings().size() == 2 && split_lines(read_file(new_recordings()[1])).size() >= 3; }));
    ASSERT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
    EXPECT_EQ(read_file(first), first_content) << "closed whole at the second start";
    for (const auto& path : new_recordings()) EXPECT_EQ(recording_problem(path), "");
    for (const auto& path : earlier) EXPECT_EQ(read_file(path), "earlier\n") << path;
    EXPECT_TRUE(run.interrupt_cleanly());
}

}  // namespace
}  // namespace velmar::test
