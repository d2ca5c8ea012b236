// The bridge wakes when a record arrives and when a command is written:
// recording timestamps follow the simulator's send times, commands do not wait
// for the next poll, and a folder that cannot be watched falls back to polling.
// The bounds are generous; the polling bridge fails each of them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMarkerAltitude = 70000;  // a frozen model aircraft never flies this high
const std::string kEmptyLine = "[DEBUG] Command file empty";

double milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

// Marker samples sent about 25 ms apart (the drain ran every 50 ms): each gap
// between recorded timestamps is the gap between sends, within a few ms.
TEST(Wake, RecordingTimestampsFollowTheSendTimes) {
    BridgeRun run;
    ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
    run.standin.control("freeze on");
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    constexpr int kMarkers = 20;
    std::map<int, Clock::time_point> sent;
    for (int i = 0; i < kMarkers; ++i) {
        sent[i] = Clock::now();
        run.standin.control("sample 2 " + std::to_string(kMarkerAltitude + i) + " 120 131 270 500 40 0 47.5 11.5");
        run.standin.control("wait 25");
    }
    std::map<int, std::int64_t> recorded;  // marker number -> timestamp
    ASSERT_TRUE(eventually([&] {
        const std::string content = read_file(run.recordings().back());
        recorded.clear();
        for (const std::string& line : split_lines(content)) {
            const auto sample = nlohmann::json::parse(line, nullptr, false);
            const double altitude = sample.value("altitude", 0.0);
            if (altitude >= kMarkerAltitude) {
                recorded[static_cast<int>(std::lround(altitude - kMarkerAltitude))] = sample["timestamp"];
            }
        }
        return recorded.size() == kMarkers;
    })) << recorded.size();
    std::vector<double> errors;  // |recorded gap - sent gap| in ms
    std::string gaps;
    for (int i = 1; i < kMarkers; ++i) {
        const auto recorded_gap = static_cast<double>(recorded[i] - recorded[i - 1]);
        const double sent_gap = milliseconds(sent[i] - sent[i - 1]);
        errors.push_back(std::abs(recorded_gap - sent_gap));
        gaps += " " + std::to_string(std::lround(recorded_gap)) + "/" + std::to_string(std::lround(sent_gap));
    }
    // The median, as a machine under load may hold up a few sends or wakes.
    std::nth_element(errors.begin(), errors.begin() + kMarkers / 2, errors.end());
    EXPECT_LE(errors[kMarkers / 2], 8.0) << "recorded/sent gaps in ms:" << gaps;
    EXPECT_TRUE(run.interrupt_cleanly());
}

// With the folder watched, a command written just after a poll is taken long
// before the next one; without a watch, the bridge says so once and polls.
TEST(Wake, CommandsAtOnceOrByPollingWhenTheFolderCannotBeWatched) {
    struct Row {
        Lines wrapper;
        bool watched;
    };
    for (const Row& row : {Row{{}, true}, Row{{"/usr/bin/env", "VELMAR_NO_FOLDER_WATCH=1"}, false}}) {
        SCOPED_TRACE(row.watched ? "watched" : "not watched");
        BridgeRun run({.wrapper = row.wrapper});
        ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
        write_file(run.command_file(), "");
        constexpr int kRounds = 5;
        int prompt = 0;
        std::string times;
        for (int i = 0; i < kRounds; ++i) {
            const std::string word = i % 2 == 0 ? "PAUSE_REGULAR" : "UNPAUSE";
            const std::size_t log_before = run.standin.log_lines().size();
            // A poll has just found the file empty: the next is 100 ms away.
            ASSERT_TRUE(run.bridge->wait_for_line_count(kEmptyLine, run.bridge->count_lines(kEmptyLine) + 1));
            const auto written = Clock::now();
            write_file(run.command_file(), word);
            ASSERT_TRUE(eventually([&] { return run.standin.log_lines().size() > log_before; }, 1s)) << word;
            const double taken = milliseconds(Clock::now() - written);
            prompt += taken <= 50.0;
            times += " " + std::to_string(taken);
            EXPECT_EQ(run.standin.log_lines()[log_before],
                      "SimConnect_TransmitClientEvent 0 " + std::string(i % 2 == 0 ? "4" : "5") + " 0 1 16 -> 0");
        }
        if (row.watched) {
            EXPECT_GE(prompt, kRounds - 1) << "ms from write to call:" << times;
        }
        EXPECT_TRUE(run.interrupt_cleanly());
        EXPECT_EQ(run.bridge->error_lines(),
                  row.watched ? Lines{}
                              : Lines{"[BRIDGE] Cannot watch " + run.data_folder().string() +
                                      "/ for commands (VELMAR_NO_FOLDER_WATCH is set): reading the command file "
                                      "every 100 ms"});
    }
}

}  // namespace
}  // namespace velmar::test
