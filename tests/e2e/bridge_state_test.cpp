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

std::string fail(const std::string& function, int count = 1) {
    return "fail SimConnect_" + function + " " + kEFail + " " + std::to_string(count);
}

// One row after another on one bridge: what the simulator does meanwhile, the
// word written, the result the state file then shows, and its pause state.
TEST(StateFile, CommandResultsAndPauseState) {
    struct Row {
        std::string control, word, result;
        nlohmann::json paused, hresult = nullptr;
    };
    const Row rows[] = {
        {"", "PAUSE_REGULAR", "done", true},
        {"", "PAUSE_REGULAR", "done", false},  // a toggle
        {fail("TransmitClientEvent"), "PAUSE_REGULAR", "failed", false, -2147467259},
        {"", "PAUSE_ACTIVE", "done", true},
        {fail("TransmitClientEvent"), "UNPAUSE", "failed", true, -2147467259},
        {"", "UNPAUSE", "done", false},
        {fail("SetDataOnSimObject", 2), "SET_STANDARD_FUEL", "failed", false, -2147467259},
        {fail("RequestDataOnSimObject"), "START_TEST", "failed", false, -2147467259},
        {"", "STOP_TEST", "done", false},
        {"", "UNPAUSE ", "unknown", false},
        {"", "start_test", "unknown", false},
        {"", "BAD\x01\"\\\xc3\xa9", "unknown", false},
        {"quit", "START_TEST", "not_connected", nullptr},
        {"", "POSITION_RTT", "not_connected", nullptr},
        {"", "STOP_TEST", "done", nullptr},
    };
    BridgeRun run;
    ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
    std::uint64_t seq = 0;
    std::string states;  // each row's state file, one a line
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control + " then " + row.word);
        if (!row.control.empty()) run.standin.control(row.control);
        ASSERT_TRUE(run.command(row.word + "\n"));
        EXPECT_TRUE(run.command_result_is(++seq, row.word, row.result)) << read_file(run.state_file());
        EXPECT_TRUE(run.state_becomes([&](const nlohmann::json& state) {
            return state["last_command"]["hresult"] == row.hresult && state["sim_paused"] == row.paused &&
                   state["connected"] == !row.paused.is_null();
        })) << read_file(run.state_file());
        states += read_file(run.state_file()) + "\n";
    }
    EXPECT_TRUE(run.interrupt_cleanly());
    if (!have_jsonschema()) GTEST_SKIP() << "no jsonschema";
    write_file(run.scratch.path() / "states.jsonl", states);
    EXPECT_EQ(schema_problems(VELMAR_SCHEMA_DIR "/bridge-state.schema.json", run.scratch.path() / "states.jsonl"), "");
}

}  // namespace
}  // namespace velmar::test
