// Files that cannot be written: the data folder gone or turned into a file,
// the recording folder unusable, a file-size limit, a full file system. The
// bridge must not crash or hang, the other outputs go on, and the recording
// lines written before the failure stay whole.
// CI runs as root, for whom read-only permissions mean nothing, so the folders
// are made unusable in ways that bind root too.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

std::size_t recorded_lines(const BridgeRun& bridge) {
    auto files = recordings(bridge.recording_folder());
    return files.empty() ? 0 : recording_lines(files.back()).size();
}

// The data file changes again: samples are still being written.
bool data_file_moves(const BridgeRun& bridge) {
    std::string before = read_file(bridge.data_file());
    return wait_until([&] {
        std::string now = read_file(bridge.data_file());
        return !now.empty() && now != before;
    });
}

// Every line of every recording is a whole flight-data object; only a last
// line cut off by the failure may be torn.
void expect_whole_lines(const BridgeRun& bridge, bool may_be_torn) {
    for (const auto& file : recordings(bridge.recording_folder())) {
        std::string torn;
        auto lines = recording_lines(file, &torn);
        for (const auto& line : lines) {
            ASSERT_EQ(flight_data_problem(line), "") << file;
        }
        if (!may_be_torn) {
            EXPECT_EQ(torn, "") << file;
        }
    }
}

class WriteFaults : public ::testing::Test {
protected:
    ScratchDir scratch;
    Standin standin{{"--rate", "120"}};
};

TEST_F(WriteFaults, DataFolderRemovedAndReplacedByAFileWhileRecording) {
    BridgeRun bridge(standin, scratch.path());
    ASSERT_TRUE(bridge.wait_started());
    ASSERT_TRUE(bridge.command("START_TEST", "[OK] Test started - Data collection active"));
    ASSERT_TRUE(wait_until([&] { return recorded_lines(bridge) >= 20; }));

    fs::remove_all(bridge.data_folder);
    std::size_t lines_at_removal = recorded_lines(bridge);
    EXPECT_TRUE(wait_until([&] { return recorded_lines(bridge) >= lines_at_removal + 50; }))
        << "the recording stopped when the data folder went away";
    EXPECT_FALSE(fs::exists(bridge.data_folder)) << "the bridge must not create its data folder again";

    // A file where the folder was: no open below it can succeed, even for root.
    write_file(bridge.data_folder, "not a folder");
    std::size_t lines_at_file = recorded_lines(bridge);
    EXPECT_TRUE(wait_until([&] { return recorded_lines(bridge) >= lines_at_file + 50; }));
    EXPECT_TRUE(bridge.process->running());

    // The folder comes back: the next sample is written again.
    fs::remove(bridge.data_folder);
    fs::create_directory(bridge.data_folder);
    EXPECT_TRUE(wait_until([&] { return fs::exists(bridge.data_file()); }));
    EXPECT_TRUE(data_file_moves(bridge));
    EXPECT_TRUE(bridge.command("STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/"));
    EXPECT_EQ(status_problem(read_file(bridge.status_file())), "");

    EXPECT_TRUE(bridge.interrupt_cleanly()) << bridge.process->output();
    expect_whole_lines(bridge, false);
}

TEST_F(WriteFaults, RecordingFolderIsAFile) {
    BridgeRun bridge(standin, scratch.path());
    write_file(bridge.recording_folder(), "not a folder");
    ASSERT_TRUE(bridge.wait_started());
    // The test runs without a recording; samples and status go on.
    ASSERT_TRUE(bridge.command("START_TEST", "[OK] Test started - Data collection active"));
    EXPECT_TRUE(
        wait_until([&] { return read_file(bridge.status_file()).find("\"test_active\":true") != std::string::npos; }));
    EXPECT_TRUE(data_file_moves(bridge));
    EXPECT_TRUE(wait_until([&] { return read_file(bridge.data_file()).find("\"timestamp\":0,") == std::string::npos; }))
        << "samples of a running test count from its start";
    EXPECT_TRUE(bridge.command("STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/"));
    EXPECT_TRUE(bridge.interrupt_cleanly()) << bridge.process->output();
    EXPECT_EQ(read_file(bridge.recording_folder()), "not a folder");
}

// The bridge under a file-size limit: the recording reaches it first. A bridge
// that lets SIGXFSZ end it loses everything; it must see a failed write instead.
TEST_F(WriteFaults, FileSizeLimitStopsTheRecordingNotTheBridge) {
    if (access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "prlimit (util-linux) is not installed";
    constexpr int kLimitBytes = 48 * 1024;
    BridgeRun bridge(standin, scratch.path(), {"/usr/bin/prlimit", "--fsize=" + std::to_string(kLimitBytes), "--"});
    ASSERT_TRUE(bridge.wait_started()) << bridge.process->output();
    ASSERT_TRUE(bridge.command("START_TEST", "[OK] Test started - Data collection active"));
    auto files = [&] { return recordings(bridge.recording_folder()); };
    ASSERT_TRUE(wait_until([&] { return !files().empty() && fs::file_size(files().back()) >= kLimitBytes; }, 30s))
        << "the recording never reached the limit";

    std::this_thread::sleep_for(500ms);  // well past the limit
    ASSERT_TRUE(bridge.process->running())
        << "the bridge died at the file-size limit, status " << bridge.process->wait(1s).value_or(-1);
    EXPECT_EQ(fs::file_size(files().back()), static_cast<std::uintmax_t>(kLimitBytes));
    EXPECT_TRUE(data_file_moves(bridge)) << "the data file stopped with the recording";
    EXPECT_TRUE(bridge.command("STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/"));
    EXPECT_NE(read_file(bridge.status_file()).find("\"test_active\":false"), std::string::npos);
    EXPECT_TRUE(bridge.interrupt_cleanly()) << bridge.process->output();

    std::string torn;
    auto lines = recording_lines(files().back(), &torn);
    EXPECT_GT(lines.size(), 40u);
    for (const auto& line : lines) {
        ASSERT_EQ(flight_data_problem(line), "");
    }
}

TEST_F(WriteFaults, FullFileSystemUnderTheRecordings) {
    SmallTmpfs small(scratch.path() / "appdata", 64 * 1024);
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (" << small.error() << ")";
    BridgeRun bridge(standin, scratch.path());
    ASSERT_TRUE(bridge.wait_started());
    ASSERT_TRUE(bridge.command("START_TEST", "[OK] Test started - Data collection active"));
    auto files = [&] { return recordings(bridge.recording_folder()); };
    // Full: the recording stops growing while samples go on.
    std::uintmax_t last_size = 0;
    ASSERT_TRUE(wait_until(
        [&] {
            if (files().empty()) return false;
            std::uintmax_t size = fs::file_size(files().back());
            bool stuck = size > 32 * 1024 && size == last_size;
            last_size = size;
            if (!stuck) std::this_thread::sleep_for(300ms);
            return stuck;
        },
        30s));
    EXPECT_TRUE(data_file_moves(bridge));

    // A second test on the full disk: no file, or an empty one; no crash.
    EXPECT_TRUE(bridge.command("STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/"));
    std::this_thread::sleep_for(1100ms);  // a new second, a new name
    EXPECT_TRUE(bridge.command("START_TEST", "[OK] Test started - Data collection active"));
    EXPECT_TRUE(data_file_moves(bridge));
    EXPECT_TRUE(bridge.interrupt_cleanly()) << bridge.process->output();
    expect_whole_lines(bridge, true);
    EXPECT_GT(recording_lines(files().front()).size(), 40u);
}

}  // namespace
}  // namespace velmar::test
