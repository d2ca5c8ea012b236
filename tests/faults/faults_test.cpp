// The bridge against a failing simulator and files it cannot write: it goes on
// polling, says what failed, keeps what it recorded and ends cleanly on Ctrl+C.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bridge/file_bridge.h"
#include "faults/fault_support.h"
#include "support/capture.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

// Proof of life: an unknown word is still read, echoed and removed.
bool still_polling(BridgeRun& run) { return run.command("STILL_POLLING", "[DEBUG] Unknown command: STILL_POLLING"); }

bool samples_go_on(const BridgeRun& run) {
    const std::string before = read_file(run.data_file());
    return eventually([&] {
        const std::string now = read_file(run.data_file());
        return now != before && is_flight_data(now);
    });
}

// While a test records: the data folder gone, a file, read-only (for root a
// read-only mount: it writes past permissions), then the simulator quits (a
// killed one: Reconnect below). Recording and polling go on.
TEST(Faults, DataFolderBrokenThenSimulatorGoneWhileRecording) {
    BridgeRun run({.standin_arguments = {"--rate", "120"}});
    ASSERT_TRUE(run.start_connected());
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    std::error_code absent;
    for (const std::string breakage : {"gone", "a file", "read-only"}) {
        SCOPED_TRACE(breakage);
        const std::size_t lines = run.recorded_lines();
        fs::rename(run.data_folder(), run.scratch.path() / breakage, absent);  // at once, not file by file
        if (breakage == "a file") write_file(run.data_folder(), "not a folder");
        if (breakage == "read-only") {
            fs::create_directory(run.data_folder());
            fs::permissions(run.data_folder(), fs::perms::owner_read | fs::perms::owner_exec);
            if (::geteuid() == 0) {
                ASSERT_EQ(::mount("tmpfs", run.data_folder().c_str(), "tmpfs", MS_RDONLY, "size=4096"), 0);
            }
            const int probe = ::open((run.data_folder() / "probe").c_str(), O_WRONLY | O_CREAT, 0666);
            ASSERT_LT(probe, 0) << "the folder is writable";
        }
        EXPECT_TRUE(eventually([&] { return run.recorded_lines() >= lines + 50; })) << "the recording stopped";
    }
    if (::geteuid() == 0) ::umount2(run.data_folder().c_str(), MNT_DETACH);
    fs::permissions(run.data_folder(), fs::perms::owner_all);
    EXPECT_TRUE(samples_go_on(run));
    // Each file's failure said once per cause, not once per sample.
    EXPECT_LT(run.bridge->error_lines().size(), 20u) << run.bridge->error_output();
    EXPECT_TRUE(run.bridge->wait_for_error_output("[OK] Written again: " + run.data_file().string()));

    run.standin.control("quit");
    ASSERT_TRUE(run.bridge->wait_for_line(kSessionClosedLine, 15s)) << run.bridge->output();
    EXPECT_TRUE(in_order(run.bridge->output_lines(), {kDisconnectedLine, kSessionClosedLine}));
    EXPECT_TRUE(run.status_becomes(false, true)) << read_file(run.status_file());
    // Every command is still taken; those that need the simulator do nothing.
    EXPECT_TRUE(run.command("PAUSE_SIM", "[OK] Executing sim pause"));
    EXPECT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
    EXPECT_TRUE(run.status_becomes(false, false));
    EXPECT_TRUE(still_polling(run));
    EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
    EXPECT_EQ(run.bridge->count_lines(kDisconnectedLine), 1u) << "closed once, not again at the end";
    EXPECT_EQ(run.bridge->count_lines(kSessionClosedLine), 1u);
    ASSERT_EQ(run.recordings().size(), 1u);
    EXPECT_EQ(recording_problem(run.recordings()[0]), "");
}

// A file the bridge can read but not empty, whoever it runs as (root too):
// a sealed memory file, reached through this process's descriptor.
struct SealedFile {
    explicit SealedFile(std::string_view content) : descriptor(::memfd_create("sealed", MFD_ALLOW_SEALING)) {
        if (descriptor < 0 || ::write(descriptor, content.data(), content.size()) != std::ssize(content)) return;
        ::fcntl(descriptor, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    }
    ~SealedFile() { ::close(descriptor); }
    std::string path() const { return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(descriptor); }
    bool can_be_emptied() const {
        const int emptied = ::open(path().c_str(), O_WRONLY | O_TRUNC);
        return emptied < 0 ? false : (::close(emptied), true);
    }
    const int descriptor;
};

// Puts `target` (a file, or with `link` a symbolic link to it) in place of `path` at once.
void replace_file(const fs::path& path, const std::string& target, bool link) {
    const fs::path next = path.string() + ".next";
    link ? fs::create_symlink(target, next) : write_file(next, target);
    fs::rename(next, path);
}

// A command in a file that cannot be emptied is not carried out, and said so
// once; it runs, once, at the first poll that can empty the file.
TEST(Faults, ACommandThatCannotBeTakenOffItsFileWaits) {
    const SealedFile sealed("START_TEST\n");
    if (sealed.can_be_emptied()) GTEST_SKIP() << "no sealed memory files here";
    BridgeRun run;
    fs::create_directories(run.data_folder());
    replace_file(run.command_file(), sealed.path(), true);
    const std::string refused = "[CUSTOM ERROR] Cannot empty the command file " + run.command_file().string() +
                                " (Operation not permitted): 'START_TEST' is not carried out until the bridge can "
                                "empty it";
    ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
    ASSERT_TRUE(run.bridge->wait_for_error_output(refused + "\n")) << run.bridge->error_output();
    // Two seconds of polls, timed by the bridge itself: the aircraft answer.
    ASSERT_TRUE(run.bridge->wait_for_line("[DIAG] Received aircraft system state", 15s));
    EXPECT_EQ(run.bridge->error_lines(), Lines{refused});
    EXPECT_EQ(run.bridge->count_lines("[DEBUG] Processing command: 'START_TEST'"), 0u);
    EXPECT_EQ(run.recordings().size(), 0u);
    EXPECT_TRUE(run.status_becomes(true, false));

    replace_file(run.command_file(), "START_TEST\n", false);
    ASSERT_TRUE(run.bridge->wait_for_line(kTestStartedLine, 15s)) << run.bridge->output();
    replace_file(run.command_file(), sealed.path(), true);  // the situation changes: said again
    ASSERT_TRUE(run.bridge->wait_for_error_output(refused + "\n" + refused + "\n")) << run.bridge->error_output();
    EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
    EXPECT_EQ(run.bridge->count_lines("[DEBUG] Processing command: 'START_TEST'"), 1u);
    EXPECT_EQ(run.bridge->count_lines(kTestStartedLine), 1u);
    EXPECT_EQ(run.recordings().size(), 1u);
    EXPECT_EQ(run.bridge->error_lines(), Lines(2, refused));
    const Lines log = run.standin.log_lines();
    EXPECT_EQ(std::count(log.begin(), log.end(), kTestStartCall), 2) << "the start and the one START_TEST";
}

// A pipe for the bridge's standard output that nobody reads: full before the
// bridge starts, or with its reading end closed (the reader went away).
struct UnreadPipe {
    explicit UnreadPipe(bool reader_gone) {
        if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        if (reader_gone) {
            close(ends[0]);
            ends[0] = -1;
            return;
        }
        fcntl(ends[1], F_SETFL, O_NONBLOCK);
        const char byte = '#';
        while (write(ends[1], &byte, 1) == 1) {
        }
        fcntl(ends[1], F_SETFL, 0);
    }
    ~UnreadPipe() {
        for (const int end : ends) {
            if (end >= 0) close(end);
        }
    }
    UnreadPipe(const UnreadPipe&) = delete;
    UnreadPipe& operator=(const UnreadPipe&) = delete;
    int ends[2] = {-1, -1};
};

// Its real outputs are the files: a console that takes nothing holds up no
// command and no sample, and one SIGTERM or SIGHUP (the terminal closed) ends
// it in order, the status file saying disconnected.
TEST(Console, OutputNobodyReadsNeverHoldsUpTheBridgeAndOneSignalEndsIt) {
    struct Case {
        const char* name;
        std::optional<bool> reader_gone;  // nothing: standard output is read
        int signal_number;
    };
    for (const Case row : {Case{"full pipe", false, SIGTERM}, Case{"reader gone", true, SIGHUP},
                           Case{"hang-up", std::nullopt, SIGHUP}}) {
        SCOPED_TRACE(row.name);
        std::optional<UnreadPipe> output;
        if (row.reader_gone) output.emplace(*row.reader_gone);
        BridgeRun run({.output_fd = output ? output->ends[1] : -1});
        run.start();
        ASSERT_TRUE(run.status_becomes(true, false)) << run.bridge->error_output();
        const std::size_t calls = run.standin.log_lines().size();
        EXPECT_TRUE(run.command("UNPAUSE"));
        EXPECT_TRUE(eventually([&] {
            const Lines log = run.standin.log_lines();
            return std::find(log.begin() + static_cast<std::ptrdiff_t>(std::min(calls, log.size())), log.end(),
                             "SimConnect_TransmitClientEvent 0 5 0 1 16 -> 0") != log.end();
        })) << "the command was not carried out";
        EXPECT_TRUE(samples_go_on(run));
        run.bridge->send_signal(row.signal_number);
        EXPECT_EQ(run.bridge->wait(30s), 0);
        EXPECT_TRUE(run.status_becomes(false, false)) << read_file(run.status_file());
        EXPECT_EQ(run.bridge->error_output(), "");
        if (!output) {
            EXPECT_EQ(run.bridge->count_lines("Shutting down..."), 1u);
            EXPECT_EQ(run.bridge->count_lines(kSessionClosedLine), 1u);
        }
    }
}

std::string fail(const std::string& function) { return "fail SimConnect_" + function + " " + kEFail; }

// With --reconnect the simulator goes away during a test, killed (a new one is
// started on its port, with another aircraft) or quitting (it stays, and stops
// answering "AircraftLoaded"): the test ends whole, the bridge connects again
// with everything registered anew and the old aircraft forgotten.
TEST(Reconnect, SimulatorGoneWhileRecordingThenBack) {
    const std::string kPositionDefinition = R"(SimConnect_AddToDataDefinition 100 "Initial Position" null 12 0 )";
    const auto count_starting = [](const Lines& lines, const std::string& start) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.starts_with(start); });
    };
    const auto title = [](const std::string& json) {  // empty for a file caught half written
        const auto object = nlohmann::json::parse(json, nullptr, false);
        return object.is_object() ? object.value("aircraft_title", "") : "";
    };
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "quit record");
        BridgeRun run({.standin_arguments = {"--rate", "120"}});
        const std::string port = std::to_string(run.standin.port());
        ASSERT_TRUE(run.start(Lines{run.data_folder().string(), "--reconnect"}).wait_for_line(kStartedLine, 20s));
        ASSERT_TRUE(run.command("POSITION_RTT", "[DEBUG] Position command sent successfully"));
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(run.bridge->wait_for_line("[OK] Aircraft detected from system state: 'C172'", 20s));
        ASSERT_TRUE(eventually([&] { return title(read_file(run.data_file())) == "C172"; }));

        std::optional<Standin> restarted;
        if (killed) {
            run.standin.process().send_signal(SIGKILL);
        } else {
            run.standin.control(fail("RequestSystemState"));
            run.standin.control("quit");
        }
        ASSERT_TRUE(run.bridge->wait_for_line(kWaitingLine, 15s)) << run.bridge->output();
        EXPECT_TRUE(in_order(run.bridge->output_lines(),
                             {kTestEndedLine, kDisconnectedLine, kSessionClosedLine, kWaitingLine}));
        EXPECT_EQ(run.bridge->count_lines(kTestEndedLine), 1u);
        EXPECT_TRUE(run.status_becomes(false, false)) << read_file(run.status_file());
        ASSERT_EQ(run.recordings().size(), 1u);
        const std::string first_recording = read_file(run.recordings()[0]);
        EXPECT_EQ(recording_problem(run.recordings()[0]), "");

        if (killed) {
            restarted.emplace(Lines{"--port", port, "--rate", "120", "--aircraft",
                                    "SimObjects\\Airplanes\\Asobo_A320_Neo\\aircraft.cfg"});
        }
        Standin& simulator = killed ? *restarted : run.standin;
        ASSERT_TRUE(run.bridge->wait_for_line_count(kStartedLine, 2, 30s)) << run.bridge->output();
        EXPECT_TRUE(run.status_becomes(true, false));
        ASSERT_TRUE(run.command("POSITION_RTT", "[DEBUG] Position command sent successfully"));
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        if (killed) {
            ASSERT_TRUE(run.bridge->wait_for_line("[OK] Aircraft detected from system state: 'A320_Neo'", 20s));
            EXPECT_TRUE(eventually([&] { return title(read_file(run.data_file())) == "A320_Neo"; }));
        } else {  // both requests of the new connection refused: the name stays unknown
            ASSERT_TRUE(
                run.bridge->wait_for_line_count("[DEBUG] Aircraft system state request failed: " + kEFail, 2, 20s));
        }
        ASSERT_TRUE(eventually([&] { return run.recordings().size() == 2 && run.recorded_lines() >= 20; }));
        ASSERT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
        EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();

        EXPECT_EQ(read_file(run.recordings()[0]), first_recording) << "closed when the simulator went";
        const Lines second = split_lines(read_file(run.recordings()[1]));
        EXPECT_EQ(recording_problem(run.recordings()[1]), "");
        const auto titled = [&](const std::string& name) {
            return std::count_if(second.begin(), second.end(),
                                 [&](const std::string& line) { return title(line) == name; });
        };
        EXPECT_EQ(titled("C172"), 0) << "samples of the new connection with the old simulator's aircraft";
        EXPECT_EQ(titled(killed ? "A320_Neo" : "MSFS 2024 Aircraft") + titled(killed ? "MSFS 2024 Aircraft" : ""),
                  static_cast<std::ptrdiff_t>(second.size()));
        // The new connection got every registration, the ones made on first use too.
        const Lines log = simulator.log_lines();
        EXPECT_EQ(count_starting(log, kPositionDefinition), killed ? 1 : 2);
        EXPECT_EQ(count_starting(log, "SimConnect_AddToDataDefinition 0 \"PLANE ALTITUDE\""), killed ? 1 : 2);
        EXPECT_EQ(count_starting(log, "SimConnect_SubscribeToSystemEvent 4 \"Pause\""), killed ? 1 : 2);
    }
}

// Threads, open descriptors and resident memory of this process, from /proc;
// the least of a few readings, so that a file open for a moment does not count.
struct Footprint {
    std::size_t threads = SIZE_MAX, descriptors = SIZE_MAX, resident_kib = SIZE_MAX;
};
Footprint footprint() {
    Footprint least;
    for (int reading = 0; reading < 5; ++reading) {
        const auto entries = [](const char* folder) {
            return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
        };
        least.threads = std::min(least.threads, entries("/proc/self/task"));
        least.descriptors = std::min(least.descriptors, entries("/proc/self/fd") - 1);  // less the iterator's own
        std::size_t resident = 0;
        for (const std::string& line : split_lines(read_file("/proc/self/status"))) {
            if (line.starts_with("VmRSS:")) resident = std::stoul(line.substr(6));
        }
        least.resident_kib = std::min(least.resident_kib, resident);
        std::this_thread::sleep_for(20ms);
    }
    return least;
}

// The bridge in this process, trying every 50 ms, against a stand-in that
// quits 50 times: each connection's threads, sockets and memory are given back.
TEST(Reconnect, FiftyConnectQuitCyclesLeaveNothingBehind) {
    constexpr int kCycles = 50;
    ScratchDir scratch;
    Standin standin({"--rate", "10"});
    setenv("SIMCONNECT_STANDIN_PORT", std::to_string(standin.port()).c_str(), 1);
    setenv("APPDATA", scratch.str().c_str(), 1);
    const std::string waiting = "[BRIDGE] Waiting for MSFS - trying to connect every 50 ms";
    Footprint first, last;
    {
        Capture out(1);
        FileBridge bridge({.reconnect = true, .reconnect_interval = 50ms});
        bridge.setup_data_folder((scratch.path() / "data").string());
        bridge.install_callbacks();
        std::thread runner([&] { bridge.run(); });
        // Whether `line` has been printed since the last one found; reads only
        // what is new, so the test's own memory does not grow with the console.
        const auto printed = [&](const std::string& line) {
            const std::string text = "\n" + out.text(out.mark);
            const std::size_t at = text.find("\n" + line + "\n");
            if (at != std::string::npos) out.mark += static_cast<off_t>(at + line.size() + 1);
            return at != std::string::npos;
        };
        for (int cycle = 1; cycle <= kCycles; ++cycle) {
            // Connected, collecting data, the aircraft-state thread running.
            ASSERT_TRUE(eventually([&] { return printed(kStartedLine); })) << "cycle " << cycle;
            // From the second on: the first connect runs before the dispatch thread starts.
            if (cycle == 2) first = footprint();
            if (cycle == kCycles) last = footprint();
            standin.control("quit");
            ASSERT_TRUE(eventually([&] { return printed(waiting); })) << "cycle " << cycle;
        }
        bridge.request_stop();
        runner.join();
    }
    std::printf(
        "after connection 2 and %d: threads %zu and %zu, descriptors %zu and %zu, resident %zu KiB and %zu KiB\n",
        kCycles, first.threads, last.threads, first.descriptors, last.descriptors, first.resident_kib,
        last.resident_kib);
    EXPECT_EQ(last.threads, first.threads);
    EXPECT_EQ(last.descriptors, first.descriptors);
#ifndef VELMAR_SANITIZED
    // Sanitizers hold freed memory back on purpose; elsewhere allow some allocator slack.
    EXPECT_LE(last.resident_kib, first.resident_kib + 1024);
#endif
}

TEST(Misbehaviour, EveryKindIsReportedAndTheBridgeGoesOn) {
    struct Case {  // a control line, before the bridge starts or once it runs; a command; the line printed
        std::string control;
        bool at_start;
        std::string command, line;
        bool on_error_stream = false;
    };
    const std::string e = kEFail;
    const Case cases[] = {
        {fail("AddToDataDefinition"), true, "POSITION_RTT", "[DEBUG] Failed to create position data definition: " + e},
        {fail("AddToDataDefinition"), false, "SET_STANDARD_FUEL",
         "[DEBUG] Failed to create tank data definitions: " + e + ", " + e + ", " + e},
        {fail("MapClientEventToSimEvent"), true, "PAUSE_REGULAR", "[DEBUG] Pause event sent successfully"},
        {fail("AddClientEventToNotificationGroup"), true, "", ""},
        {fail("SetNotificationGroupPriority"), true, "", ""},
        {fail("SubscribeToSystemEvent"), true, "", ""},
        {fail("RequestDataOnSimObject"), true, "START_TEST", "[CUSTOM ERROR] Failed to start data collection: " + e,
         true},
        {fail("RequestSystemState"), true, "", "[DEBUG] Aircraft system state request failed: " + e},
        {fail("TransmitClientEvent"), false, "PAUSE_SIM", "[DEBUG] Sim pause event failed: " + e},
        {fail("SetDataOnSimObject"), false, "POSITION_RTT", "[DEBUG] Position command failed: " + e},
        {fail("SetDataOnSimObject"), false, "SET_STANDARD_FUEL",
         "[DEBUG] Fuel distribution failed: Left=" + e + ", Right=" + e + ", Center=" + e},
        {fail("Close"), false, "", ""},
        {"exception 31", false, "", "[CUSTOM ERROR] SimConnect Exception: 31\nSimConnect Exception: 31", true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.control + (row.at_start ? " at start, " : ", ") + row.command);
        BridgeRun run;
        if (row.at_start) run.standin.control(row.control);
        ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
        if (!row.at_start) run.standin.control(row.control);
        EXPECT_TRUE(row.command.empty() || run.command(row.command));
        if (row.on_error_stream) {
            EXPECT_TRUE(run.bridge->wait_for_error_output(row.line + "\n")) << run.bridge->error_output();
        } else {
            EXPECT_TRUE(row.line.empty() || run.bridge->wait_for_line(row.line)) << row.line << run.bridge->output();
        }
        EXPECT_TRUE(still_polling(run));
        EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
        EXPECT_EQ(run.bridge->count_lines(kSessionClosedLine), 1u);
    }
}

// A bridge that let SIGXFSZ end it at the limit would lose everything. A line
// the disk cannot take is cut back off and reported once; with room again
// the recording goes on. The diagnostic file shares the room: no figure here
// depends on its size.
TEST(WriteFaults, RecordingCutByAFileSizeLimitOrAFullFileSystem) {
    for (const bool full_disk : {false, true}) {
        constexpr std::uintmax_t kLimit = 49152, kDisk = 262144, kFiller = 229376;  // bytes, whole pages
        SCOPED_TRACE(full_disk ? "full file system" : "file-size limit");
        BridgeRun run(
            {.standin_arguments = {"--rate", "120"},
             .wrapper = full_disk ? Lines{} : Lines{"/usr/bin/prlimit", "--fsize=" + std::to_string(kLimit), "--"}});
        const fs::path app_data = run.recording_folder().parent_path();
        if (full_disk &&
            ::mount("tmpfs", app_data.c_str(), "tmpfs", 0, ("size=" + std::to_string(kDisk)).c_str()) != 0) {
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
        }
        const auto unmount = [](const fs::path* where) { ::umount2(where->c_str(), MNT_DETACH); };
        const std::unique_ptr<const fs::path, decltype(unmount)> mounted(full_disk ? &app_data : nullptr, unmount);
        const fs::path filler = app_data / "filler";
        if (full_disk) write_file(filler, std::string(kFiller, 'x'));
        ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        const std::string failed = "[CUSTOM ERROR] Failed to append to recording ";
        ASSERT_TRUE(run.bridge->wait_for_error_output(failed, 60s)) << "not full";
        EXPECT_TRUE(samples_go_on(run)) << "the data file stopped with the recording";
        EXPECT_TRUE(samples_go_on(run));
        if (full_disk) {  // room again: the recording grows past what it could hold before
            fs::remove(filler);
            EXPECT_TRUE(eventually([&] { return fs::file_size(run.recordings().at(0)) > kDisk - kFiller; }));
        }
        EXPECT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
        EXPECT_TRUE(run.status_becomes(true, false));
        EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
        const std::string reason = full_disk ? "No space left on device" : "File too large";
        EXPECT_EQ(run.bridge->error_lines(),
                  Lines{failed + run.recordings().at(0).string() + ": " + reason +
                        " (the line was cut back; later samples are appended once there is room)"});
        EXPECT_GT(split_lines(read_file(run.recordings().at(0))).size(), 40u);
        EXPECT_TRUE(full_disk || fs::file_size(run.recordings().at(0)) > kLimit - 1000);
        for (const auto& file : run.recordings()) EXPECT_EQ(recording_problem(file), "");
    }
}

// Read as a server would (strict UTF-8, no NaN), with values that are not
// finite and an aircraft path with quotes, C0 and C1 control codes and
// non-UTF-8 bytes.
TEST(Schema, RealOutputMatchesThePublishedSchemas) {
    if (!have_jsonschema()) GTEST_SKIP() << "no jsonschema";
    BridgeRun run(
        {.standin_arguments = {"--rate", "60", "--aircraft",
                               "SimObjects\\Airplanes\\My \"Quoted\"\tCub\x01\xff\x9b\xc2\x9b\\aircraft.cfg"}});
    ASSERT_TRUE(run.start_connected());
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    // Past the aircraft answer, so that samples carry the awkward name; the
    // console shows its control bytes escaped, the files JSON-escaped.
    ASSERT_TRUE(run.bridge->wait_for_line(
        "[OK] Aircraft detected from system state: 'My \"Quoted\"\\x09Cub\\x01\xff\\x9B\\xC2\\x9B'", 15s))
        << run.bridge->output();
    run.standin.control("freeze on");
    run.standin.control("sample 2 nan inf -inf 1e20 -0.004 0 1 -90 180");
    run.standin.control("sample 2 3500.254 120.5 131.4 271.3 -250 40 0 48.1234567891 11.5");
    ASSERT_TRUE(eventually([&] { return read_file(run.data_file()).find("48.12345679") != std::string::npos; }));
    run.standin.control("freeze off");
    ASSERT_TRUE(run.command("STOP_TEST", kTestStoppedLine));

    const std::string recording = read_file(run.recordings().at(0));
    EXPECT_NE(recording.find("\"altitude\":null"), std::string::npos) << "no sample with a value that is not finite";
    EXPECT_NE(recording.find("\\\"Quoted\\\""), std::string::npos) << "no sample with the awkward aircraft name";
    const std::string schemas = VELMAR_SCHEMA_DIR;
    EXPECT_EQ(schema_problems(schemas + "/flight-data.schema.json", run.data_file()), "");
    EXPECT_EQ(schema_problems(schemas + "/flight-data.schema.json", run.recordings()[0]), "");
    EXPECT_EQ(schema_problems(schemas + "/status.schema.json", run.status_file()), "");
    EXPECT_EQ(schema_problems(schemas + "/bridge-state.schema.json", run.state_file()), "");
    EXPECT_NE(read_file(run.state_file()).find("\\\"Quoted\\\""), std::string::npos) << read_file(run.state_file());
    EXPECT_TRUE(run.interrupt_cleanly());
}

}  // namespace
}  // namespace velmar::test
