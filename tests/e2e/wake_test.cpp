// The bridge wakes when a record arrives and when a command is written:
// recording timestamps follow the simulator's send times, commands do not wait
// for the next poll, and a folder that cannot be watched falls back to polling.

#include <gtest/gtest.h>

#include "e2e/wake_checks.h"
#include "faults/fault_support.h"

namespace velmar::test {
namespace {

TEST(Wake, RecordingTimestampsFollowTheSendTimes) {
    BridgeRun run;
    ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
    run.standin.control("freeze on");
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    std::string gaps;
    const auto recording = [&] { return read_file(run.recordings().back()); };
    EXPECT_LE(median_timestamp_gap_error(run.standin, recording, gaps), 12.0) << "recorded/sent gaps in ms:" << gaps;
    EXPECT_TRUE(run.interrupt_cleanly());
}

// Without a watch the bridge says so once and still takes every command, by polling.
TEST(Wake, CommandsAtOnceOrByPollingWhenTheFolderCannotBeWatched) {
    struct Row {
        bool watched, by_rename;
    };
    for (const auto [watched, by_rename] : {Row{true, false}, Row{true, true}, Row{false, false}}) {
        SCOPED_TRACE(std::string(watched ? "watched" : "not watched") + (by_rename ? ", renamed into place" : ""));
        BridgeRun run({.wrapper = watched ? Lines{} : Lines{"/usr/bin/env", "VELMAR_NO_FOLDER_WATCH=1"}});
        ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
        write_file(run.command_file(), "");
        constexpr int kRounds = 7;
        std::string times;
        const int prompt =
            commands_taken_within_50ms(*run.bridge, run.standin, run.command_file(), kRounds, times, by_rename);
        EXPECT_EQ(times.find('('), std::string::npos) << "ms from write to call:" << times;
        if (watched) {
            // A majority: a sanitizer build on a busy machine is slow to warm up.
            EXPECT_GT(2 * prompt, kRounds) << "ms from write to call:" << times;
        }
        EXPECT_TRUE(run.interrupt_cleanly());
        EXPECT_EQ(run.bridge->error_lines(),
                  watched ? Lines{}
                          : Lines{"[BRIDGE] Cannot watch " + run.data_folder().string() +
                                  "/ for commands (VELMAR_NO_FOLDER_WATCH is set): reading the command file every "
                                  "100 ms"});
    }
}

}  // namespace
}  // namespace velmar::test
