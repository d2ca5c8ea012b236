// The bridge from outside: velmar-tracker --file-mode against sim-standin,
// checked through its console, its files and the stand-in's call log.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
        EXPECT_EQ(run.standin.log_lines(), Lines{R"(SimConnect_Open "MSFS Velmar Tracker" 0 0 1 0 -> )" + kEFail});
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

// With --reconnect and no simulator: the failure once, the status file, a
// test started while waiting; the simulator started later is found, and the
// test records its samples.
TEST(BridgeStart, WithReconnectWaitsForASimulatorStartedLater) {
    BridgeRun run;
    const std::string port = std::to_string(run.standin.port());
    run.standin.control("exit");  // nothing listens on its port now
    Process& bridge = run.start(Lines{run.data_folder().string(), "--reconnect"});
    ASSERT_TRUE(bridge.wait_for_line(kWaitingLine, 20s)) << bridge.output();
    Lines expected = lines_before_connecting(run);
    expected.insert(expected.end(), {"[CUSTOM ERROR] Failed to connect to SimConnect",
                                     "Make sure Microsoft Flight Simulator is running.", kWaitingLine});
    Lines lines = bridge.output_lines();
    lines.resize(expected.size());  // command polling follows
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(run.status_becomes(false, false)) << read_file(run.status_file());
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    EXPECT_TRUE(run.status_becomes(false, true));
    EXPECT_TRUE(run.command("PAUSE_SIM", "[OK] Executing sim pause"));

    Standin later({"--port", port});
    ASSERT_TRUE(bridge.wait_for_line(kStartedLine, 30s)) << bridge.output();
    EXPECT_TRUE(in_order(
        bridge.output_lines(),
        {"[DEBUG] Minimal data definition (9 variables) - testing live data restoration",
         "[DEBUG] Pause control events mapped with input groups", "[OK] Connected to MSFS",
         "Connected to MSFS SimConnect", "[OK] SimConnect connection established",
         "[OK] File-based bridge ready for Python server", "[OK] Data collection started at 5Hz", kStartedLine},
        expected.size()));
    EXPECT_TRUE(run.status_becomes(true, true));
    ASSERT_TRUE(eventually([&] { return run.recorded_lines() >= 5; })) << "the test records the new connection";
    ASSERT_TRUE(run.command("PAUSE_SIM", "[DEBUG] Sim pause event sent successfully"));
    ASSERT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
    EXPECT_TRUE(run.interrupt_cleanly()) << bridge.output();
    EXPECT_EQ(bridge.error_lines(), Lines{"[CUSTOM ERROR] Failed to connect to MSFS SimConnect"})
        << "the tries while waiting are quiet";
    const Lines log = later.log_lines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), R"(SimConnect_Open "MSFS Velmar Tracker" 0 0 1 0 -> 0)");
    EXPECT_EQ(std::count(log.begin(), log.end(), "SimConnect_TransmitClientEvent 0 7 0 1 16 -> 0"), 1)
        << "the command given while waiting never reaches a later simulator";
    ASSERT_EQ(run.recordings().size(), 1u);
    EXPECT_EQ(recording_problem(run.recordings()[0]), "");
}

// Ctrl+C while waiting, with a test started: it ends in order, the recording
// closed (empty: no simulator ever sent a sample).
TEST(BridgeStart, WithReconnectAnInterruptWhileWaitingEndsTheBridge) {
    BridgeRun run;
    run.standin.control("fail SimConnect_Open " + kEFail);
    ASSERT_TRUE(run.start(Lines{run.data_folder().string(), "--reconnect"}).wait_for_line(kWaitingLine, 20s));
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
    EXPECT_EQ(run.bridge->count_lines(kDisconnectedLine), 0u) << "never connected";
    EXPECT_TRUE(run.status_becomes(false, false)) << "the test ended with the bridge";
    ASSERT_EQ(run.recordings().size(), 1u);
    EXPECT_EQ(read_file(run.recordings()[0]), "");
}

// The call-log lines from `from` on, without the aircraft-state thread's
// requests (they fall due at times of their own).
Lines calls_from(const Standin& standin, std::size_t from) {
    Lines calls;
    const Lines log = standin.log_lines();
    for (std::size_t i = from; i < log.size(); ++i) {
        if (!log[i].starts_with("SimConnect_RequestSystemState ")) calls.push_back(log[i]);
    }
    return calls;
}

double value_of(const BridgeRun& run, const char* key) {
    const auto sample = nlohmann::json::parse(read_file(run.data_file()), nullptr, false);
    return sample.is_object() && sample[key].is_number() ? sample[key].get<double>() : -1e9;
}

// What each command does to the aircraft, seen in the data file.
bool effect_shows(const BridgeRun& run, const std::string& word) {
    if (word == "POSITION_RTT") {
        return eventually([&] {
            const double altitude = value_of(run, "altitude");
            return altitude >= 9000 && altitude < 9100 && std::abs(value_of(run, "latitude") - 47.431833) < 0.01 &&
                   std::abs(value_of(run, "longitude") - 11.939667) < 0.01 &&
                   value_of(run, "airspeed_indicated") == 220;
        });
    }
    if (word == "SET_STANDARD_FUEL") {  // two main tanks of 659.03 gallons, then burnt slowly
        return eventually([&] { return std::abs(value_of(run, "fuel_quantity") - 1318.06) < 1; });
    }
    return true;
}

// Started, every command word with a test whose recording name collides with
// an earlier run's (a file, or a name taken by a link to nowhere), a test and
// another started during it, and a signal that ends the running test too;
// without APPDATA the tests run but nothing is recorded; with only a fresh
// HOME the folders above the recordings are made.
TEST(BridgeRun, CommandsRecordingsAndShutdownByASignal) {
    enum class Earlier { files, links, none };
    struct Case {
        int signal_number;
        bool legacy, without_app_data, fresh_home;
        Earlier earlier;
    };
    for (const Case row :
         {Case{SIGINT, false, false, false, Earlier::files}, Case{SIGTERM, true, false, false, Earlier::links},
          Case{SIGINT, false, true, false, Earlier::none}, Case{SIGTERM, true, false, true, Earlier::none}}) {
        SCOPED_TRACE(testing::Message() << "signal " << row.signal_number << ", legacy " << row.legacy
                                        << ", fresh home " << row.fresh_home);
        BridgeRun run({.standin_arguments = {"--aircraft", "SimObjects\\Airplanes\\Asobo_TBM930\\aircraft.cfg"},
                       .legacy = row.legacy,
                       .without_app_data = row.without_app_data,
                       .fresh_home = row.fresh_home});
        if (row.earlier != Earlier::none) fs::create_directories(run.recording_folder());
        for (std::time_t second = std::time(nullptr) - 1, end = second + 60;
             row.earlier != Earlier::none && second <= end;
             ++second) {  // an earlier run's recordings, for every second in which the first test may start
            std::tm local{};
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", localtime_r(&second, &local));
            const fs::path name = run.recording_folder() / ("flight_data_" + std::string(stamp) + ".json");
            row.earlier == Earlier::files ? write_file(name, "earlier\n")
                                          : fs::create_symlink(run.scratch.path() / "nowhere" / stamp, name);
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
        // The stand-in's aircraft, once it has answered (and the diagnostic file was written).
        EXPECT_TRUE(row.without_app_data || eventually([&] {
                        const auto now = nlohmann::json::parse(read_file(run.data_file()), nullptr, false);
                        return now.is_object() && now["aircraft_title"] == "TBM930" && now["aircraft_type"] == "TBM9";
                    }))
            << read_file(run.data_file());

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
            EXPECT_TRUE(eventually([&] { return calls_from(run.standin, log_before).size() >= command.calls.size(); }));
            EXPECT_EQ(calls_from(run.standin, log_before), command.calls);
            EXPECT_TRUE(effect_shows(run, command.word)) << read_file(run.data_file());
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
            EXPECT_EQ(run.recordings()[0].string().ends_with("_2.json"), row.earlier != Earlier::none)
                << run.recordings()[0];
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
        EXPECT_TRUE(run.status_becomes(false, false)) << read_file(run.status_file());
        EXPECT_EQ(run.standin.log_lines().back(), "SimConnect_Close -> 0");
        EXPECT_EQ(run.bridge->error_output(), "");
        if (row.without_app_data) {  // nothing recorded, anywhere
            EXPECT_FALSE(fs::exists(run.recording_folder()));
            EXPECT_EQ(std::distance(fs::directory_iterator(run.data_folder()), {}),
                      4);  // the exchange files and bridge_state.json
        } else {
            ASSERT_EQ(run.recordings().size(), 3u);
            EXPECT_EQ(read_file(run.recordings()[1]), closed);
            for (const auto& path : run.earlier) {
                EXPECT_EQ(row.earlier == Earlier::files ? read_file(path) : "",
                          row.earlier == Earlier::files ? "earlier\n" : "")
                    << path;
            }
            EXPECT_FALSE(fs::exists(run.scratch.path() / "nowhere")) << "a recording went through a link";
        }
        for (const auto& file : run.recordings()) EXPECT_EQ(recording_problem(file), "");
    }
}

// Command files as servers get them wrong, through the real bridge (the first
// line's rules themselves: tests/bridge): silence without the file, "empty" on
// each poll of an empty one, only the first line counts, and a file starting
// with a line end is left alone.
TEST(BridgeRun, CommandFileFirstLines) {
    BridgeRun run;
    const std::string empty = "[DEBUG] Command file empty";
    ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
    // Two seconds of polls, timed by the bridge itself: the aircraft request.
    ASSERT_TRUE(run.bridge->wait_for_line("[DIAG] Received aircraft system state", 15s));
    EXPECT_EQ(run.bridge->count_lines(empty), 0u) << "no file, no line";
    write_file(run.command_file(), "");
    ASSERT_TRUE(run.bridge->wait_for_line_count(empty, 3));
    ASSERT_TRUE(run.command("PAUSE_SIM\r\nSTART_TEST\n", "[DEBUG] Sim pause event sent successfully"));
    write_file(run.command_file(), "\nSTART_TEST\n");
    ASSERT_TRUE(run.bridge->wait_for_line_count(empty, run.bridge->count_lines(empty) + 3));
    EXPECT_EQ(read_file(run.command_file()), "\nSTART_TEST\n");
    EXPECT_TRUE(run.interrupt_cleanly());
    EXPECT_EQ(run.bridge->count_lines("[DEBUG] Processing command: 'START_TEST'"), 0u);
    EXPECT_EQ(run.bridge->count_lines(kTestStartedLine), 0u);
    const Lines log = run.standin.log_lines();
    EXPECT_EQ(std::count(log.begin(), log.end(), "SimConnect_TransmitClientEvent 0 7 0 1 16 -> 0"), 1);
    EXPECT_EQ(run.bridge->error_output(), "");
    EXPECT_TRUE(run.status_becomes(false, false));
}

}  // namespace
}  // namespace velmar::test
