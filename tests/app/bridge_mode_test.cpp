// The bridge-mode entry end to end: exit statuses, and what an interrupt
// does, with the real executable against sim-standin.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "support/process.h"

namespace velmar {
namespace {

using Lines = std::vector<std::string>;

// A port on which nothing listens: a stand-in's, after it is gone.
int free_port() {
    test::Standin standin;
    return standin.port();
}

std::ptrdiff_t index_of(const Lines& lines, const std::string& line) {
    const auto found = std::find(lines.begin(), lines.end(), line);
    return found == lines.end() ? -1 : found - lines.begin();
}

class BridgeMode : public testing::Test {
protected:
    // The tracker in bridge mode with its data folder and its application
    // data (recordings) in the scratch folder.
    test::Process start_bridge(std::map<std::string, std::string> environment) {
        environment["APPDATA"] = (scratch_.path() / "appdata").string();
        test::ProcessOptions options;
        options.environment = std::move(environment);
        return test::Process({test::bin_path("velmar-tracker"), "--file-mode", data_folder()}, options);
    }
    std::string data_folder() const { return (scratch_.path() / "data").string(); }
    std::string status_file() const { return test::read_file(scratch_.path() / "data" / "simconnect_status.json"); }

    test::ScratchDir scratch_;
};

TEST_F(BridgeMode, AnUnreachableSimulatorEndsWithStatusZero) {
    test::Process bridge = start_bridge({{"SIMCONNECT_STANDIN_PORT", std::to_string(free_port())}});
    bridge.close_input();
    EXPECT_EQ(bridge.wait(), 0);
    const Lines lines = bridge.output_lines();
    EXPECT_GE(index_of(lines, "[CUSTOM ERROR] Failed to connect to SimConnect"), 0) << bridge.output();
    EXPECT_EQ(index_of(lines, "Shutting down..."), -1);
}

TEST_F(BridgeMode, AnInterruptShutsDownInOrderAndEndsWithStatusZero) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal_number == SIGINT ? "SIGINT" : "SIGTERM");
        test::Standin standin;
        test::Process bridge = start_bridge(standin.client_environment());
        ASSERT_TRUE(bridge.wait_for_line("[OK] Auto-started data collection for monitoring")) << bridge.output();

        bridge.send_signal(signal_number);
        EXPECT_EQ(bridge.wait(), 0);

        // A line end, "Shutting down...", then the orderly teardown: the
        // session closed and the status file saying so.
        const Lines lines = bridge.output_lines();
        const std::ptrdiff_t shutting_down = index_of(lines, "Shutting down...");
        ASSERT_GT(shutting_down, 0) << bridge.output();
        EXPECT_EQ(lines[static_cast<std::size_t>(shutting_down - 1)], "");
        const std::ptrdiff_t disconnected = index_of(lines, "[CUSTOM ERROR] Disconnected from MSFS");
        EXPECT_GT(disconnected, shutting_down) << bridge.output();
        EXPECT_GT(index_of(lines, "Disconnected from MSFS SimConnect"), disconnected) << bridge.output();
        EXPECT_NE(status_file().find("\"connected\":false"), std::string::npos) << status_file();
        const Lines calls = standin.log_lines();
        EXPECT_NE(std::find(calls.begin(), calls.end(), "SimConnect_Close -> 0"), calls.end());
    }
}

TEST_F(BridgeMode, ASecondInterruptDuringShutdownEndsAtOnce) {
    test::Standin standin;
    test::Process bridge = start_bridge(standin.client_environment());
    ASSERT_TRUE(bridge.wait_for_line("[OK] Auto-started data collection for monitoring")) << bridge.output();

    // A simulator that stops answering holds the main thread in a call (the
    // substitute library waits seconds for an answer), so the shutdown
    // cannot finish before the second interrupt.
    standin.process().send_signal(SIGSTOP);
    test::write_file(scratch_.path() / "data" / "python_commands.txt", "PAUSE_REGULAR\n");
    ASSERT_TRUE(bridge.wait_for_line("[OK] Executing regular pause")) << bridge.output();

    bridge.send_signal(SIGINT);
    ASSERT_TRUE(bridge.wait_for_line("Shutting down..."));
    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(), 0);
    EXPECT_EQ(index_of(bridge.output_lines(), "Disconnected from MSFS SimConnect"), -1)
        << "ended at once, without the teardown";
    standin.process().send_signal(SIGCONT);
}

}  // namespace
}  // namespace velmar
