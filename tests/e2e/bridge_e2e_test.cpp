// The bridge from outside: velmar-tracker --file-mode against sim-standin,
// checked through its console, its files and the stand-in's call log.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

std::int64_t timestamp_of(const std::string& json) { return nlohmann::json::parse(json)["timestamp"]; }

Lines lines_before_connecting(const BridgeRun& run) {
    const bool no_folder = run.options.legacy && run.options.without_app_data;
    const std::string data_file = no_folder ? "/current_flight_data.json" : run.data_file().string();
    Lines lines = {"[BRIDGE] Data file: " + data_file, "Starting MSFS Velmar Tracker (File-based Bridge)...",
                   "Data files location: " + data_file, ""};
    if (no_folder) return lines;
    lines.insert(lines.begin(), (run.options.legacy ? "[LEGACY] Using APPDATA directory: "
                                                    : "[PORTABLE] Using portable temp directory: ") +
                                    run.data_folder().string());
    return lines;
}

TEST(BridgeStart, FolderLinesThenARefusedConnectionEndsWithStatusZero) {
    for (const auto& [legacy, without_app_data, arguments] :
         {std::tuple{false, false, std::optional<Lines>()}, std::tuple{true, false, std::optional<Lines>()},
          std::tuple{true, false, std::optional<Lines>({""})}, std::tuple{true, true, std::optional<Lines>()}}) {
        SCOPED_TRACE(testing::Message() << "legacy " << legacy << ", no APPDATA " << without_app_data);
        BridgeRun run({.legacy = legacy, .without_app_data = without_app_data});
        fs::create_directories(run.data_folder());
        write_file(run.command_file(), "START_TEST\n");
        run.standin.control("fail SimConnect_Open " + kEFail);
        ASSERT_EQ(run.start(arguments).wait(20s), 0);
        Lines expected = lines_before_connecting(run);
        expected.insert(expected.end(), {"[CUSTOM ERROR] Failed to connect to SimConnect",
                                         "Make sure Microsoft Flight Simulator is running."});
        EXPECT_EQ(run.bridge->output_lines(), expected);
        EXPECT_EQ(run.bridge->error_lines(), Lines{"[CUSTOM ERROR] Failed to connect to MSFS SimConnect"});
        EXPECT_EQ(run.standin.log_lines(), Lines{R"(SimConnect_Open "MSFS Velmar Tracker" 0 0 0 0 -> )" + kEFail});
        EXPECT_FALSE(fs::exists(run.status_file()));
        EXPECT_EQ(read_file(run.command_file()), "START_TEST\n");  // never read
        if (legacy && without_app_data) {
            EXPECT_FALSE(fs::exists("/bridge_state.json")) << "nothing new in the root directory";
        } else {                                 // the bridge came and went without a simulator
            nlohmann::json state = run.state();  // not const: a missing member reads as null
            EXPECT_TRUE(state.is_object() && state["connected"] == false && state["last_command"].is_null() &&
                        state["pid"] == run.bridge->pid())
                << read_file(run.state_file());
        }
    }
}

// Started, every command word with a test whose recording name collides with
// an earlier run's, a test and another started during it, and a signal; without
// APPDATA the tests run but nothing is recorded.
TEST(BridgeRun, CommandsRecordingsAndShutdownByASignal) {
    struct Case {
        int signal_number;
        bool legacy, without_app_data;
    };
    for (const Case row : {Case{SIGINT, false, false}, Case{SIGTERM, true, false}, Case{SIGINT, false, true}}) {
        SCOPED_TRACE(testing::Message() << "signal " << row.signal_number << ", legacy " << row.legacy);
        BridgeRun run({.legacy = row.legacy, .without_app_data = row.without_app_data});
        if (!row.without_app_data) fs::create_directories(run.recording_folder());
        for (std::time_t second = std::time(nullptr) - 1, end = second + 60; !row.without_app_data && second <= end;
             ++second) {  // an earlier run's recordings, for every second in which the first test may start
            std::tm local{};
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", localtime_r(&second, &local));
            write_file(run.recording_folder() / ("flight_data_" + std::string(stamp) + ".json"), "earlier\n");
        }
        const std::int64_t before = std::time(nullptr);
        ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
        Lines expected = lines_before_connecting(run);
        expected.insert(expected.end(),
                        {"[DEBUG] Minimal data definition (9 variables) - testing live data restoration",
                         "[DEBUG] Pause control events mapped with input groups", "[OK] Connected to MSFS",
                         "Connected to MSFS SimConnect", "[OK] SimConnect connection established",
                         "[OK] File-based bridge ready for Python server", "[OK] Data collection started at 5Hz",
                         "[OK] Aircraft detection diagnostic mode enabled", kStartedLine});
        Lines lines = run.bridge->output_lines();
        lines.resize(expected.size());  // what follows may come from the other thread
        EXPECT_EQ(lines, expected);
        ASSERT_TRUE(run.status_becomes(true, false)) << read_file(run.status_file());
        const std::int64_t last_update = nlohmann::json::parse(read_file(run.status_file()))["last_update"];
        EXPECT_TRUE(last_update >= before && last_update <= std::time(nullptr)) << last_update;
        ASSERT_TRUE(eventually([&] { return is_flight_data(read_file(run.data_file())); }));
        const std::string data = read_file(run.data_file());
        const auto sample = nlohmann::json::parse(data);
        EXPECT_EQ(sample["timestamp"], 0) << "no test runs";
        EXPECT_TRUE(sample["airspeed_indicated"] > 0 && sample["airspeed_true"] == sample["airspeed_indicated"]);
        EXPECT_FALSE(data.ends_with("\n"));

        std::uint64_t seq = 0;
        bool paused = false;  // what the stand-in's pause flags add up to
        for (const CommandWord& command : kCommandWords) {
            SCOPED_TRACE(command.word);
            if (command.word == "STOP_TEST") {  // once samples count from the test's start
                ASSERT_TRUE(eventually([&] {
                    const std::string now = read_file(run.data_file());
                    return is_flight_data(now) && timestamp_of(now) > 0;
                }));
                ASSERT_TRUE(row.without_app_data || eventually([&] { return run.recorded_lines() >= 5; }));
            }
            const std::size_t log_before = run.standin.log_lines().size();
            const std::size_t lines_before = run.bridge->output_lines().size();
            ASSERT_TRUE(run.command(command.word + "\n", command.lines.back()));
            Lines printed = {"[DEBUG] Processing command: '" + command.word + "'"};
            printed.insert(printed.end(), command.lines.begin(), command.lines.end());
            EXPECT_TRUE(in_order(run.bridge->output_lines(), printed, lines_before)) << run.bridge->output();
            const Lines log = run.standin.log_lines();
            EXPECT_TRUE(std::any_of(log.begin() + static_cast<std::ptrdiff_t>(log_before), log.end(),
                                    [&](const std::string& line) { return line.starts_with(command.call); }));
            EXPECT_TRUE(run.status_becomes(true, command.word != "STOP_TEST"));
            // Each one in the state file, with the pause state the simulator reports.
            paused = command.word.starts_with("PAUSE_") || (paused && command.word != "UNPAUSE");
            EXPECT_TRUE(run.command_result_is(++seq, command.word, "done")) << read_file(run.state_file());
            EXPECT_TRUE(run.state_becomes([&](const nlohmann::json& state) {
                const bool recording = !row.without_app_data && command.word != "STOP_TEST";
                return state["sim_paused"] == paused && state["test_active"] == (command.word != "STOP_TEST") &&
                       state["recording"] == (recording ? nlohmann::json(run.recordings().at(0).string()) : nullptr);
            })) << read_file(run.state_file());
        }
        if (!row.without_app_data) {
            ASSERT_EQ(run.recordings().size(), 1u);
            EXPECT_TRUE(run.recordings()[0].string().ends_with("_2.json")) << run.recordings()[0];
            const Lines recorded = split_lines(read_file(run.recordings()[0]));
            EXPECT_TRUE(timestamp_of(recorded.front()) < 10'000 && timestamp_of(recorded.back()) > 0)
                << "test-relative";
            EXPECT_TRUE(run.state_becomes([&](const nlohmann::json& state) {
                return state["test_samples"] == recorded.size() && state["samples"] > recorded.size();
            })) << "the test's samples counted as recorded: "
                << recorded.size() << read_file(run.state_file());
        }

        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(row.without_app_data || eventually([&] { return run.recorded_lines() >= 3; }));
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));  // the running test's recording is closed whole
        const std::string closed = row.without_app_data ? "" : read_file(run.recordings().at(1));
        ASSERT_TRUE(row.without_app_data || eventually([&] { return run.recorded_lines() >= 3; }));
        EXPECT_TRUE(run.interrupt_cleanly(row.signal_number));
        EXPECT_TRUE(in_order(run.bridge->output_lines(),
                             {"", "Shutting down...", kDisconnectedLine, kSessionClosedLine}, expected.size()));
        EXPECT_TRUE(run.status_becomes(false, true)) << read_file(run.status_file());
        EXPECT_EQ(run.standin.log_lines().back(), "SimConnect_Close -> 0");
        if (row.without_app_data) {  // nothing recorded, anywhere
            EXPECT_FALSE(fs::exists(run.recording_folder()));
            EXPECT_EQ(std::distance(fs::directory_iterator(run.data_folder()), {}),
                      4);  // the exchange files and bridge_state.json
        } else {
            ASSERT_EQ(run.recordings().size(), 3u);
            EXPECT_EQ(read_file(run.recordings()[1]), closed);
            for (const auto& path : run.earlier) EXPECT_EQ(read_file(path), "earlier\n") << path;
        }
        for (const auto& file : run.recordings()) EXPECT_EQ(recording_problem(file), "");
    }
}

}  // namespace
}  // namespace velmar::test
