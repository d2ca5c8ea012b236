// The exchange files against what users' machines do to them: files and
// folders that cannot be written or made, pipes in a file's place, a second
// bridge, closed standard handles. Nothing fails without a word.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

std::string failed_line(const fs::path& file, const std::string& reason) {
    return "[CUSTOM ERROR] Failed to write " + file.string() + ": " + reason;
}
std::string recovered_line(const fs::path& file) { return "[OK] Written again: " + file.string(); }

// A folder in place of each file while a status change is due: one line
// for it, one when it is written again, and the change lands then, with the
// failure counted in the state file.
TEST(WriteFaults, AFolderInPlaceOfAFileIsSaidOnceAndItsChangeLandsLater) {
    for (const auto file : {&BridgeRun::data_file, &BridgeRun::status_file, &BridgeRun::state_file}) {
        BridgeRun run({.standin_arguments = {"--rate", "60"}});
        const fs::path path = (run.*file)();
        SCOPED_TRACE(path.filename().string());
        ASSERT_TRUE(run.start_connected());
        ASSERT_TRUE(eventually([&] { return run.state().is_object(); }));
        ASSERT_TRUE(eventually([&] {  // the bridge may write it between the two
            std::error_code error;
            fs::remove(path, error);
            return fs::create_directory(path, error);
        }));
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(run.bridge->wait_for_error_output(failed_line(path, "Is a directory") + "\n", 15s));
        ASSERT_TRUE(run.bridge->wait_for_line("[DIAG] Received aircraft system state", 15s));  // time passes
        fs::remove(path);
        ASSERT_TRUE(run.bridge->wait_for_error_output(recovered_line(path) + "\n", 15s)) << run.bridge->error_output();
        EXPECT_TRUE(run.status_becomes(true, true)) << read_file(run.status_file());
        EXPECT_TRUE(eventually([&] { return is_flight_data(read_file(run.data_file())); }));
        EXPECT_TRUE(run.state_becomes([&](const nlohmann::json& state) {
            return state["write_errors"].get<int>() >= 1 && state["last_error"]["file"] == path.string() &&
                   state["last_error"]["reason"] == "Is a directory" && state["test_active"] == true;
        })) << read_file(run.state_file());
        EXPECT_TRUE(run.interrupt_cleanly());
        EXPECT_EQ(run.bridge->error_lines(), (Lines{failed_line(path, "Is a directory"), recovered_line(path)}));
    }
}

// A data folder that cannot be made ends the bridge before it connects:
// one line naming the folder and the reason, status 1.
TEST(DataFolder, ThatCannotBeMadeEndsTheBridgeWithStatusOne) {
    struct Case {
        const char* name;
        bool legacy;
    };
    for (const Case row : {Case{"parent missing", false}, Case{"a file in its place", false},
                           Case{"no right to create it", false}, Case{"app-data folder a file", true}}) {
        SCOPED_TRACE(row.name);
        BridgeRun run({.legacy = row.legacy});
        fs::path folder = run.data_folder();
        std::string reason = "Not a directory";
        const fs::path locked = run.scratch.path() / "locked";
        if (row.name == std::string("parent missing")) {
            folder = run.scratch.path() / "missing" / "data";
            reason = "No such file or directory";
        } else if (row.name == std::string("a file in its place")) {
            write_file(folder, "not a folder");
        } else if (row.name == std::string("no right to create it")) {
            fs::create_directory(locked);
            fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
            const bool mounted = ::geteuid() == 0 && ::mount("tmpfs", locked.c_str(), "tmpfs", MS_RDONLY, "") == 0;
            folder = locked / "data";
            reason = mounted ? "Read-only file system" : "Permission denied";
        } else {
            fs::remove_all(run.scratch.path() / "appdata");
            write_file(run.scratch.path() / "appdata", "");
            folder = run.scratch.path() / "appdata" / "Velmar";
        }
        ASSERT_EQ(run.start(row.legacy ? Lines{} : Lines{folder.string()}).wait(20s), 1);
        ::umount2(locked.c_str(), MNT_DETACH);
        EXPECT_EQ(run.bridge->error_lines(),
                  Lines{"[CUSTOM ERROR] Cannot create the data folder " + folder.string() + ": " + reason});
        EXPECT_EQ(run.standin.log_lines(), Lines{}) << "connected";
    }
}

// One bridge per folder: the second says who holds it and ends before
// connecting; the first takes every command; once it is killed the folder
// is free again.
TEST(DataFolder, ASecondBridgeEndsAndTheFirstKeepsEveryCommand) {
    BridgeRun run;
    ASSERT_TRUE(run.start_connected());
    ProcessOptions options;
    options.environment = run.standin.client_environment();
    Process second({bin_path("velmar-tracker"), "--file-mode", run.data_folder().string()}, options);
    ASSERT_EQ(second.wait(20s), 1);
    EXPECT_EQ(second.error_lines(),
              Lines{"[CUSTOM ERROR] The data folder " + run.data_folder().string() + " is in use by process " +
                    std::to_string(run.bridge->pid()) + ": one bridge per folder"});
    EXPECT_EQ(run.state()["pid"], run.bridge->pid()) << "the second one wrote the state file";
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
    }
    EXPECT_TRUE(run.command_result_is(6, "STOP_TEST", "done"));
    const Lines log = run.standin.log_lines();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.starts_with("SimConnect_Open"); }),
              1);
    run.bridge->send_signal(SIGKILL);
    run.bridge->wait(20s);
    EXPECT_TRUE(run.start_connected()) << "a killed bridge left the folder locked";
    EXPECT_TRUE(run.interrupt_cleanly());
}

// A pipe in place of the command file is never waited on: one line, the
// heartbeat goes on, a plain file's command (with a byte-order mark) runs
// after it, and one Ctrl+C ends the bridge.
TEST(CommandFile, APipeIsSaidOnceThenAPlainFileRuns) {
    BridgeRun run;
    ASSERT_TRUE(run.start_connected());
    ASSERT_EQ(::mkfifo(run.command_file().c_str(), 0666), 0);
    const std::string refused = "[CUSTOM ERROR] Cannot read the command file " + run.command_file().string() +
                                ": not a plain file (a pipe, device or socket)";
    ASSERT_TRUE(run.bridge->wait_for_error_output(refused + "\n", 15s));
    const auto alive = run.state()["alive_at"].get<std::int64_t>();
    EXPECT_TRUE(run.state_becomes([&](const nlohmann::json& state) { return state["alive_at"] > alive; }));
    fs::remove(run.command_file());
    ASSERT_TRUE(run.command("\xEF\xBB\xBFSTART_TEST\r\n", kTestStartedLine));
    EXPECT_TRUE(run.command_result_is(1, "START_TEST", "done"));
    fs::remove(run.command_file());
    ASSERT_EQ(::mkfifo(run.command_file().c_str(), 0666), 0);
    ASSERT_TRUE(run.bridge->wait_for_error_output(refused + "\n" + refused + "\n", 15s));
    EXPECT_TRUE(run.interrupt_cleanly());
    EXPECT_EQ(run.bridge->error_lines(), Lines(2, refused));
}

// START_TEST fails, and no test runs, when its recording cannot be created.
TEST(Recording, ThatCannotBeCreatedFailsStartTest) {
    BridgeRun run;
    write_file(run.recording_folder(), "a file in the app-data folder's place");
    ASSERT_TRUE(run.start_connected());
    ASSERT_TRUE(run.command("START_TEST"));
    EXPECT_TRUE(run.command_result_is(1, "START_TEST", "failed"));
    EXPECT_TRUE(run.status_becomes(true, false));
    const nlohmann::json state = run.state();
    EXPECT_EQ(state["test_active"], false);
    EXPECT_EQ(state["last_error"]["reason"], "Not a directory") << state;
    EXPECT_EQ(run.bridge->count_lines(kTestStartedLine), 0u);
    EXPECT_TRUE(run.interrupt_cleanly());
    ASSERT_EQ(run.bridge->error_lines().size(), 1u) << run.bridge->error_output();
    EXPECT_TRUE(run.bridge->error_lines()[0].starts_with("[CUSTOM ERROR] Failed to write " +
                                                         (run.recording_folder() / "flight_data_").string()));
}

// last_recording names the test's file and its lines after the test ends,
// however it ends.
TEST(StateFile, LastRecordingIsKeptAfterStopQuitAndInterrupt) {
    for (const std::string ending : {"STOP_TEST", "quit", "interrupt"}) {
        SCOPED_TRACE(ending);
        BridgeRun run({.standin_arguments = {"--rate", "60"}});
        ASSERT_TRUE(run.start_connected());
        EXPECT_TRUE(run.state_becomes([](const nlohmann::json& state) { return state["last_recording"].is_null(); }));
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(eventually([&] { return run.recorded_lines() >= 10; }));
        if (ending == "STOP_TEST") {
            ASSERT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
        } else if (ending == "quit") {
            run.standin.control("quit");
        } else {
            ASSERT_TRUE(run.interrupt_cleanly());
        }
        // Without --reconnect a test outlives its simulator.
        EXPECT_TRUE(run.status_becomes(ending == "STOP_TEST", ending == "quit"));
        EXPECT_TRUE(run.state_becomes([&](const nlohmann::json& state) {
            const auto& last = state["last_recording"];
            return last.is_object() && last["path"] == run.recordings().at(0).string() &&
                   last["lines"] == run.recorded_lines();
        })) << read_file(run.state_file());
    }
}

// Started with standard output and error closed, the bridge's own files and
// connection never take their numbers: no line reaches the simulator or a
// recording. A folder in the data file's place makes it print on both.
TEST(Console, ClosedStandardHandlesTakeNothingOver) {
    BridgeRun run({.standin_arguments = {"--rate", "60"}, .wrapper = {"/bin/sh", "-c", R"(exec "$@" >&- 2>&-)", "sh"}});
    fs::create_directories(run.data_file());
    run.start();
    ASSERT_TRUE(run.status_becomes(true, false));
    ASSERT_TRUE(run.command("START_TEST"));
    ASSERT_TRUE(eventually([&] { return run.recorded_lines() >= 20; }));
    ASSERT_TRUE(run.command("STOP_TEST"));
    ASSERT_TRUE(run.command("NOT_A_WORD"));
    EXPECT_TRUE(run.command_result_is(3, "NOT_A_WORD", "unknown"));
    run.bridge->send_signal(SIGINT);
    EXPECT_EQ(run.bridge->wait(30s), 0);
    EXPECT_EQ(recording_problem(run.recordings().at(0)), "");
    EXPECT_EQ(run.standin.process().error_output(), "");
    const Lines log = run.standin.log_lines();
    EXPECT_EQ(std::count(log.begin(), log.end(), kTestStartCall), 2);
}

// A reader that reads the whole file in one read finds the old text or the
// new, never a mix, across test starts and stops (status) at a high sample
// rate (data): in the default mode it may find a file empty, with
// --atomic-files never.
TEST(TightReader, OneReadNeverFindsABrokenStatusOrDataText) {
    for (const bool atomic : {false, true}) {
        SCOPED_TRACE(atomic ? "--atomic-files" : "in place");
        BridgeRun run({.standin_arguments = {"--rate", "850"}});
        Lines arguments{run.data_folder().string()};
        if (atomic) arguments.push_back("--atomic-files");
        ASSERT_TRUE(run.start(arguments).wait_for_line(kStartedLine, 20s));
        ASSERT_TRUE(eventually([&] { return is_flight_data(read_file(run.data_file())); }));
        std::atomic<bool> reading{true};
        std::atomic<long> reads{0}, empty{0}, broken{0};
        std::string example;
        std::mutex example_mutex;  // guards example
        const auto reader = [&](const fs::path& file, bool status) {
            std::vector<char> buffer(1 << 16);
            while (reading) {
                const int fd = ::open(file.c_str(), O_RDONLY);
                if (fd < 0) continue;
                const ssize_t size = ::read(fd, buffer.data(), buffer.size());
                ::close(fd);
                ++reads;
                const std::string text(buffer.data(), size > 0 ? static_cast<std::size_t>(size) : 0);
                const auto json = nlohmann::json::parse(text, nullptr, false);
                if (text.empty()) {
                    ++empty;
                } else if (status ? !json.is_object() || json.size() != 3 : !is_flight_data(text)) {
                    ++broken;
                    std::lock_guard lock(example_mutex);
                    example = text;
                }
            }
        };
        std::thread data_reader(reader, run.data_file(), false), status_reader(reader, run.status_file(), true);
        for (int cycle = 0; cycle < 30; ++cycle) {
            EXPECT_TRUE(run.command("START_TEST", kTestStartedLine));
            EXPECT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
        }
        reading = false;
        data_reader.join();
        status_reader.join();
        std::printf("one-read reader, %s: %ld reads, %ld empty, %ld broken\n", atomic ? "atomic" : "in place",
                    reads.load(), empty.load(), broken.load());
        EXPECT_EQ(broken, 0) << example;
        EXPECT_TRUE(!atomic || empty == 0);
        EXPECT_TRUE(run.interrupt_cleanly());
    }
}

}  // namespace
}  // namespace velmar::test
