// bridge_state.json as a server reads it: a heartbeat that stops with the
// bridge, the aircraft without a test, each command's result (tight readers of
// the data and status files: tests/faults).

#include <gtest/gtest.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <thread>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

// Nothing happens (the aircraft stands still, no command), so only the
// heartbeat moves alive_at; once the bridge is killed nothing moves it.
TEST(StateFile, HeartbeatAndIdentityWithAFolderAndFreshAppData) {
    BridgeRun run({.standin_arguments = {"--aircraft", "SimObjects\\Airplanes\\Asobo_A320_Neo\\aircraft.cfg"}});
    ASSERT_FALSE(fs::exists(run.recording_folder()));
    run.standin.control("freeze on");
    const std::int64_t before = std::time(nullptr);
    ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
    ASSERT_TRUE(run.state_becomes([](const nlohmann::json& state) { return state["aircraft_type"] == "A320"; }))
        << read_file(run.state_file());
    EXPECT_TRUE(fs::is_directory(run.recording_folder()));
    const nlohmann::json first = run.state();
    EXPECT_EQ(first["pid"], run.bridge->pid());
    EXPECT_TRUE(first["started_at"] >= before && first["started_at"] <= first["alive_at"]) << first;
    EXPECT_EQ(first["connected"], true);
    EXPECT_EQ(first["sim_paused"], false);
    EXPECT_EQ(first["test_active"], false);
    EXPECT_EQ(first["recording"], nullptr);
    EXPECT_EQ(first["aircraft_title"], "A320_Neo");
    EXPECT_EQ(first["last_command"], nullptr);
    EXPECT_EQ(first["test_samples"], 0);

    std::int64_t alive = first["alive_at"];
    for (int beat = 0; beat < 3; ++beat) {
        ASSERT_TRUE(run.state_becomes([&](const nlohmann::json& state) { return state["alive_at"] > alive; }, 10s));
        const nlohmann::json now = run.state();
        EXPECT_EQ(now["samples"], first["samples"]) << "the aircraft stands still";
        EXPECT_EQ(now["started_at"], first["started_at"]);
        alive = now["alive_at"];
    }

    run.standin.control("freeze off");
    EXPECT_TRUE(eventually([&] {
        return read_file(run.data_file()).find(R"("aircraft_title":"A320_Neo","aircraft_type":"A320")") !=
               std::string::npos;
    })) << "samples carry it too";

    run.bridge->send_signal(SIGKILL);
    ASSERT_TRUE(run.bridge->wait(10s).has_value());
    const std::string last = read_file(run.state_file());
    std::this_thread::sleep_for(2500ms);  // longer than two beats of a bridge that still ran
    EXPECT_EQ(read_file(run.state_file()), last);
    EXPECT_EQ(nlohmann::json::parse(last)["connected"], true) << "a killed bridge cannot say otherwise";
}

std::string fail(const std::string& function) { return "fail SimConnect_" + function + " " + kEFail + " 1"; }

// The simulator's rules, one row after another on one bridge: what the
// simulator does (a control line), the word written (none: the simulator's
// side alone), the result the state file then shows with its failure, and
// the pause state.
TEST(StrictSimulator, CommandResultsAndPauseStateFromTheSimulatorsAnswers) {
    using Json = nlohmann::json;
    struct Row {
        std::string control, word, result;
        Json modes;              // pause_modes; sim_paused follows from it
        Json failure = nullptr;  // hresult, or [exception, exception_name]
    };
    const Json running = Json::array();
    const Row rows[] = {
        {"", "PAUSE_REGULAR", "done", {"pause"}},
        {"pause 4", "", "", {"active"}},
        {"", "PAUSE_REGULAR", "done", {"pause", "active"}},
        {"", "UNPAUSE", "done", running},
        {"refuse SimConnect_TransmitClientEvent 7 1", "PAUSE_SIM", "failed", running, {7, "NAME_UNRECOGNIZED"}},
        {"", "PAUSE_SIM", "done", {"sim"}},
        {"pause 13", "", "", {"pause", "active", "sim"}},
        {"pause 0", "", "", running},
        {fail("TransmitClientEvent"), "PAUSE_ACTIVE", "failed", running, -2147467259},
        {"refuse SimConnect_SetDataOnSimObject 20 1", "SET_STANDARD_FUEL", "failed", running, {20, "DATA_ERROR"}},
        {"", "POSITION_RTT", "done", running},
        {"refuse SimConnect_RequestDataOnSimObject 3 1", "START_TEST", "failed", running, {3, "UNRECOGNIZED_ID"}},
        {"", "STOP_TEST", "done", running},
        {"", "start_test", "unknown", running},
        {"quit", "START_TEST", "not_connected", nullptr},
    };
    BridgeRun run;
    ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
    std::uint64_t seq = 0;
    std::string states;  // each row's state file, one a line
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control + " then " + row.word);
        if (!row.control.empty()) run.standin.control(row.control);
        if (!row.word.empty()) {
            ASSERT_TRUE(run.command(row.word + "\n"));
            EXPECT_TRUE(run.command_result_is(++seq, row.word, row.result)) << read_file(run.state_file());
        }
        const Json hresult = row.failure.is_number() ? row.failure : Json();
        const Json exception = row.failure.is_array() ? row.failure[0] : Json();
        const Json name = row.failure.is_array() ? row.failure[1] : Json();
        EXPECT_TRUE(run.state_becomes([&](const Json& state) {
            const Json& command = state["last_command"];
            return state["pause_modes"] == row.modes &&
                   state["sim_paused"] == (row.modes.is_null() ? Json() : Json(!row.modes.empty())) &&
                   state["connected"] == !row.modes.is_null() &&
                   (seq == 0 || (command["hresult"] == hresult && command["exception"] == exception &&
                                 command["exception_name"] == name));
        })) << read_file(run.state_file());
        states += read_file(run.state_file()) + "\n";
    }
    // Real changes only: not the notifications of the pause events sent.
    EXPECT_EQ(run.bridge->count_lines("Simulator paused"), 2u) << run.bridge->output();
    EXPECT_EQ(run.bridge->count_lines("Simulator unpaused"), 2u);
    EXPECT_TRUE(run.interrupt_cleanly());
    if (!have_jsonschema()) GTEST_SKIP() << "no jsonschema";
    write_file(run.scratch.path() / "states.jsonl", states);
    EXPECT_EQ(schema_problems(VELMAR_SCHEMA_DIR "/bridge-state.schema.json", run.scratch.path() / "states.jsonl"), "");
}

// A simulator that hangs (the stand-in goes silent, keeping the connection
// open) is noticed without a quit record: the running test ends whole and
// the bridge says it is disconnected; with --reconnect it connects again once
// the simulator answers. Meanwhile commands, the heartbeat and Ctrl+C stay
// prompt, even with a call blocked on the silent simulator.
TEST(StrictSimulator, ASilentSimulatorIsNoticedWhileTheBridgeStaysPrompt) {
    for (const bool resume : {true, false}) {
        SCOPED_TRACE(resume ? "resumed" : "interrupted while silent");
        BridgeRun run;
        ASSERT_TRUE(run.start({Lines{run.data_folder().string(), "--reconnect"}}).wait_for_line(kStartedLine, 20s));
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(eventually([&] { return run.recorded_lines() > 0; }));
        run.standin.control("silence");
        // A call that now waits on the simulator, then commands behind it.
        ASSERT_TRUE(run.command("PAUSE_REGULAR"));
        for (const std::string word : {"UNKNOWN_1", "UNKNOWN_2"}) {
            ASSERT_TRUE(run.command(word)) << "the command file is still taken";
            EXPECT_TRUE(run.bridge->wait_for_line("[DEBUG] Processing command: '" + word + "'", 5s));
        }
        const std::int64_t alive = run.state()["alive_at"];
        EXPECT_TRUE(run.state_becomes([&](const nlohmann::json& state) { return state["alive_at"] > alive; }, 5s))
            << "the heartbeat goes on";
        if (!resume) {
            EXPECT_TRUE(run.interrupt_cleanly());
            EXPECT_EQ(run.state()["connected"], false);
            EXPECT_EQ(recording_problem(run.recordings().back()), "");
            continue;
        }
        EXPECT_TRUE(run.state_becomes(
            [](const nlohmann::json& state) { return state["connected"] == false && state["test_active"] == false; },
            12s))
            << read_file(run.state_file());
        EXPECT_TRUE(run.status_becomes(false, false));
        EXPECT_TRUE(run.command_result_is(4, "UNKNOWN_2", "unknown")) << "the commands behind the call are not lost";
        EXPECT_TRUE(run.bridge->wait_for_line(kTestEndedLine, 5s));
        EXPECT_EQ(recording_problem(run.recordings().back()), "");
        run.standin.control("resume");
        EXPECT_TRUE(run.state_becomes([](const nlohmann::json& state) { return state["connected"] == true; }, 12s))
            << read_file(run.state_file());
        EXPECT_TRUE(run.interrupt_cleanly());
    }
}

// A variable the simulator does not know is left out of its definition, so
// its records are shorter: named once on standard error and never read, so
// no value lands under another's key; the data file keeps the last good sample.
TEST(StrictSimulator, AnUnknownVariableAndItsShortRecordsLeaveTheLastGoodSample) {
    BridgeRun run;
    run.standin.control("freeze on");
    ASSERT_TRUE(run.start({Lines{run.data_folder().string(), "--reconnect"}}).wait_for_line(kStartedLine, 20s));
    ASSERT_TRUE(eventually([&] { return is_flight_data(read_file(run.data_file())); }));
    const std::string good = read_file(run.data_file());
    run.standin.control("unknown-var AIRSPEED INDICATED");
    run.standin.control("quit");
    ASSERT_TRUE(run.bridge->wait_for_line_count(kStartedLine, 2, 20s));
    const std::string refused =
        "[CUSTOM ERROR] Variable \"AIRSPEED INDICATED\" refused by the simulator "
        "(NAME_UNRECOGNIZED): left out of the sample definition";
    const std::string short_record =
        "[CUSTOM ERROR] Sample record not read: definition 0, 8 values, 64 bytes of data; expected definition 0, 9 "
        "values, 72 bytes of data";
    EXPECT_TRUE(run.bridge->wait_for_error_output(short_record, 10s)) << run.bridge->error_output();
    run.standin.control("freeze off");  // more short records: still one line
    EXPECT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
    EXPECT_EQ(read_file(run.data_file()), good);
    EXPECT_TRUE(run.interrupt_cleanly());
    const Lines errors = run.bridge->error_lines();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), refused), 1) << run.bridge->error_output();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), short_record), 1);
}
}  // namespace
}  // namespace velmar::test
