// The simulator misbehaving: gone mid-session, or refusing each kind of call.
// Whatever happens, the bridge keeps running and polling, says what failed,
// and shuts down cleanly on Ctrl+C.

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

constexpr const char* kEFail = "-2147467259";

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Proof of life: an unknown word is still read, echoed and removed.
void expect_still_polling(BridgeRun& bridge, const std::string& word) {
    EXPECT_TRUE(bridge.command(word, "[DEBUG] Unknown command: " + word)) << bridge.process->output();
}

TEST(StandinGone, KilledMidTestTheBridgeGoesOnAndEndsCleanly) {
    ScratchDir scratch;
    Standin standin({"--rate", "200"});
    BridgeRun bridge(standin, scratch.path());
    ASSERT_TRUE(bridge.wait_started()) << bridge.process->output();
    ASSERT_TRUE(bridge.command("START_TEST", "[OK] Test started - Data collection active"));
    auto recording_folder = bridge.recording_folder();
    ASSERT_TRUE(wait_until([&] {
        auto files = recordings(recording_folder);
        return !files.empty() && recording_lines(files.back()).size() >= 50;
    }));

    standin.process().send_signal(SIGKILL);
    ASSERT_TRUE(bridge.process->wait_for_line("[CUSTOM ERROR] Disconnected from MSFS")) << bridge.process->output();
    ASSERT_TRUE(bridge.process->wait_for_line("Disconnected from MSFS SimConnect"));
    EXPECT_TRUE(wait_until([&] { return read_file(bridge.status_file()).starts_with("{\"connected\":false,"); }))
        << read_file(bridge.status_file());
    EXPECT_EQ(status_problem(read_file(bridge.status_file())), "");

    // Every command is still taken; those that need the simulator do nothing.
    EXPECT_TRUE(bridge.command("PAUSE_REGULAR", "[OK] Executing regular pause"));
    EXPECT_TRUE(bridge.command("STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/"));
    EXPECT_TRUE(bridge.command("START_TEST", "[OK] Test started - Data collection active"));
    expect_still_polling(bridge, "STILL_THERE");
    EXPECT_TRUE(bridge.interrupt_cleanly()) << bridge.process->output();

    EXPECT_EQ(read_file(bridge.status_file()).substr(0, 20), "{\"connected\":false,\"");
    auto files = recordings(recording_folder);
    ASSERT_EQ(files.size(), 2u);
    std::string torn;
    auto lines = recording_lines(files.front(), &torn);
    EXPECT_GE(lines.size(), 50u);
    EXPECT_EQ(torn, "");
    for (const auto& line : lines) {
        ASSERT_EQ(flight_data_problem(line), "");
    }
    EXPECT_EQ(flight_data_problem(read_file(bridge.data_file())), "");
}

TEST(StandinGone, ExitingBeforeAnyCommandLeavesAPollingBridge) {
    ScratchDir scratch;
    Standin standin;
    BridgeRun bridge(standin, scratch.path());
    ASSERT_TRUE(bridge.wait_started());
    standin.control("exit");
    ASSERT_TRUE(bridge.process->wait_for_line("Disconnected from MSFS SimConnect")) << bridge.process->output();
    expect_still_polling(bridge, "AFTER_EXIT");
    EXPECT_TRUE(bridge.interrupt_cleanly());
    // The connection is closed once, not again at shutdown.
    auto lines = bridge.process->output_lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Disconnected from MSFS SimConnect"), 1);
}

// One refused kind of call: when it is refused, what makes the bridge use it,
// and what the bridge says about it.
struct Refusal {
    const char* name;
    std::string function;
    bool before_connect;             // refuse from the start, or only once connected
    std::string command;             // written after the refusal; empty: none
    std::string command_line;        // the line that shows the command was taken
    std::vector<std::string> lines;  // further lines on standard output
    std::vector<std::string> error_lines;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class RefusedCall : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedCall, IsReportedAndTheBridgeGoesOn) {
    const Refusal& refusal = GetParam();
    ScratchDir scratch;
    Standin standin;
    std::string fail = "fail " + refusal.function + " " + kEFail;
    if (refusal.before_connect) standin.control(fail);
    BridgeRun bridge(standin, scratch.path());
    ASSERT_TRUE(bridge.wait_started()) << bridge.process->output() << bridge.process->error_output();
    if (!refusal.before_connect) standin.control(fail);

    if (!refusal.command.empty()) {
        EXPECT_TRUE(bridge.command(refusal.command, refusal.command_line)) << bridge.process->output();
    }
    for (const auto& line : refusal.lines) {
        EXPECT_TRUE(bridge.process->wait_for_line(line)) << line << "\n" << bridge.process->output();
    }
    for (const auto& line : refusal.error_lines) {
        EXPECT_TRUE(bridge.process->wait_for_error_output(line + "\n")) << line << "\n"
                                                                        << bridge.process->error_output();
    }
    expect_still_polling(bridge, "STILL_POLLING");
    EXPECT_TRUE(bridge.interrupt_cleanly()) << bridge.process->output();
    EXPECT_TRUE(has_line(bridge.process->output_lines(), "Disconnected from MSFS SimConnect"));
}

const std::string kE = kEFail;

INSTANTIATE_TEST_SUITE_P(
    EveryKind, RefusedCall,
    ::testing::Values(Refusal{"definitions_at_connect",
                              "SimConnect_AddToDataDefinition",
                              true,
                              "POSITION_RTT",
                              "[OK] Positioning aircraft at RTT Rattenberg",
                              {"[DEBUG] Failed to create position data definition: " + kE},
                              {}},
                      Refusal{"tank_definitions",
                              "SimConnect_AddToDataDefinition",
                              false,
                              "SET_STANDARD_FUEL",
                              "[OK] Setting standard fuel load (5T)",
                              {"[DEBUG] Failed to create tank data definitions: " + kE + ", " + kE + ", " + kE},
                              {}},
                      Refusal{"event_mapping",
                              "SimConnect_MapClientEventToSimEvent",
                              true,
                              "PAUSE_REGULAR",
                              "[OK] Executing regular pause",
                              {"[DEBUG] Pause event sent successfully"},
                              {}},
                      Refusal{
                          "notification_group", "SimConnect_AddClientEventToNotificationGroup", true, "", "", {}, {}},
                      Refusal{"group_priority", "SimConnect_SetNotificationGroupPriority", true, "", "", {}, {}},
                      Refusal{"system_events", "SimConnect_SubscribeToSystemEvent", true, "", "", {}, {}},
                      Refusal{"data_request_at_start",
                              "SimConnect_RequestDataOnSimObject",
                              true,
                              "START_TEST",
                              "[OK] Test started - Data collection active",
                              {},
                              {"[CUSTOM ERROR] Failed to start data collection: " + kE}},
                      Refusal{"data_request_at_stop",
                              "SimConnect_RequestDataOnSimObject",
                              false,
                              "STOP_TEST",
                              "[OK] Test stopped - Data saved to AppData/Velmar/",
                              {},
                              {}},
                      Refusal{"aircraft_state",
                              "SimConnect_RequestSystemState",
                              true,
                              "",
                              "",
                              {"[DEBUG] Aircraft system state request failed: " + kE},
                              {}},
                      Refusal{"pause_event",
                              "SimConnect_TransmitClientEvent",
                              false,
                              "PAUSE_SIM",
                              "[OK] Executing sim pause",
                              {"[DEBUG] Sim pause event failed: " + kE},
                              {}},
                      Refusal{"unpause_event",
                              "SimConnect_TransmitClientEvent",
                              false,
                              "UNPAUSE",
                              "[OK] Executing unpause",
                              {"[DEBUG] Unpause event failed: " + kE},
                              {}},
                      Refusal{"position_write",
                              "SimConnect_SetDataOnSimObject",
                              false,
                              "POSITION_RTT",
                              "[OK] Positioning aircraft at RTT Rattenberg",
                              {"[DEBUG] Position command failed: " + kE},
                              {}},
                      Refusal{"fuel_write",
                              "SimConnect_SetDataOnSimObject",
                              false,
                              "SET_STANDARD_FUEL",
                              "[OK] Setting standard fuel load (5T)",
                              {"[DEBUG] Fuel distribution failed: Left=" + kE + ", Right=" + kE + ", Center=" + kE},
                              {}},
                      Refusal{"close", "SimConnect_Close", false, "", "", {}, {}}),
    [](const ::testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

TEST(RefusedCall, OpenRefusedEndsTheRunWithStatusZeroAndNoStatusFile) {
    ScratchDir scratch;
    Standin standin;
    standin.control(std::string("fail SimConnect_Open ") + kEFail);
    BridgeRun bridge(standin, scratch.path());
    EXPECT_EQ(bridge.process->wait(15s), 0);
    EXPECT_TRUE(has_line(bridge.process->output_lines(), "[CUSTOM ERROR] Failed to connect to SimConnect"));
    EXPECT_TRUE(has_line(bridge.process->error_lines(), "[CUSTOM ERROR] Failed to connect to MSFS SimConnect"));
    EXPECT_FALSE(std::filesystem::exists(bridge.status_file()));
}

TEST(RefusedCall, ExceptionRecordsAreReportedAndTheBridgeGoesOn) {
    ScratchDir scratch;
    Standin standin;
    BridgeRun bridge(standin, scratch.path());
    ASSERT_TRUE(bridge.wait_started());
    for (const char* code : {"1", "2", "31"}) {
        standin.control(std::string("exception ") + code);
        EXPECT_TRUE(bridge.process->wait_for_error_output(std::string("[CUSTOM ERROR] SimConnect Exception: ") + code +
                                                          "\nSimConnect Exception: " + code + "\n"))
            << bridge.process->error_output();
    }
    expect_still_polling(bridge, "AFTER_EXCEPTIONS");
    EXPECT_TRUE(bridge.interrupt_cleanly());
}

}  // namespace
}  // namespace velmar::test
