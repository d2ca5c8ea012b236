// The bridge against a misbehaving simulator and files it cannot write, and
// its real output against the schemas published for server authors. Whatever
// happens it keeps running and polling, says what failed, keeps what it
// recorded, and shuts down cleanly on Ctrl+C. CI runs as root, for whom
// permissions mean nothing, so write faults are made in ways that bind root.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

// Proof of life: an unknown word is still read, echoed and removed.
bool still_polling(BridgeRun& run) { return run.command("STILL_POLLING", "[DEBUG] Unknown command: STILL_POLLING"); }

// The data file is rewritten with a whole sample again.
bool samples_go_on(const BridgeRun& run) {
    const std::string before = read_file(run.data_file());
    return eventually([&] {
        const std::string now = read_file(run.data_file());
        return now != before && flight_data_problem(now).empty();
    });
}

TEST(StandinGone, QuitOrKilledMidTestTheBridgeGoesOnAndEndsCleanly) {
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "quit record");
        BridgeRun run({.standin_arguments = {"--rate", "200"}});
        ASSERT_TRUE(run.start_connected());
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(eventually([&] { return run.recorded_lines() >= 20; }));
        killed ? run.standin.process().send_signal(SIGKILL) : run.standin.control("quit");
        ASSERT_TRUE(run.bridge->wait_for_line(kSessionClosedLine, 15s)) << run.bridge->output();
        EXPECT_TRUE(in_order(run.bridge->output_lines(), {kDisconnectedLine, kSessionClosedLine}));
        EXPECT_TRUE(run.status_becomes(false, true)) << read_file(run.status_file());
        // Every command is still taken; those that need the simulator do nothing.
        EXPECT_TRUE(run.command("PAUSE_SIM", "[OK] Executing sim pause"));
        EXPECT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
        EXPECT_TRUE(run.status_becomes(false, false));
        EXPECT_TRUE(run.command("START_TEST", kTestStartedLine));
        EXPECT_TRUE(still_polling(run));
        EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
        EXPECT_EQ(run.bridge->count_lines(kDisconnectedLine), 1u) << "closed once, not again at the end";
        EXPECT_EQ(run.bridge->count_lines(kSessionClosedLine), 1u);
        ASSERT_EQ(run.recordings().size(), 2u);
        EXPECT_GE(split_lines(read_file(run.recordings()[0])).size(), 20u);
        for (const auto& file : run.recordings()) EXPECT_EQ(recording_problem(file), "");
    }
}

// A misbehaviour: its control line (given before the bridge starts, or once it
// runs), a command that makes the bridge meet it, and the line it then prints.
struct Refusal {
    const char* name;
    std::string control;
    bool at_start;
    std::string command;
    std::string line;
    bool on_error_stream = false;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

std::string fail(const std::string& function) { return "fail SimConnect_" + function + " " + kEFail; }

const std::string kE = kEFail;
const Refusal kRefusals[] = {
    {"definitions_at_connect", fail("AddToDataDefinition"), true, "POSITION_RTT",
     "[DEBUG] Failed to create position data definition: " + kE},
    {"tank_definitions", fail("AddToDataDefinition"), false, "SET_STANDARD_FUEL",
     "[DEBUG] Failed to create tank data definitions: " + kE + ", " + kE + ", " + kE},
    {"event_mapping", fail("MapClientEventToSimEvent"), true, "PAUSE_REGULAR", "[DEBUG] Pause event sent successfully"},
    {"notification_group", fail("AddClientEventToNotificationGroup"), true, "", ""},
    {"group_priority", fail("SetNotificationGroupPriority"), true, "", ""},
    {"system_events", fail("SubscribeToSystemEvent"), true, "", ""},
    {"data_request_at_start", fail("RequestDataOnSimObject"), true, "START_TEST",
     "[CUSTOM ERROR] Failed to start data collection: " + kE, true},
    {"data_request_at_stop", fail("RequestDataOnSimObject"), false, "STOP_TEST", kTestStoppedLine},
    {"aircraft_state", fail("RequestSystemState"), true, "", "[DEBUG] Aircraft system state request failed: " + kE},
    {"pause_event", fail("TransmitClientEvent"), false, "PAUSE_SIM", "[DEBUG] Sim pause event failed: " + kE},
    {"unpause_event", fail("TransmitClientEvent"), false, "UNPAUSE", "[DEBUG] Unpause event failed: " + kE},
    {"position_write", fail("SetDataOnSimObject"), false, "POSITION_RTT", "[DEBUG] Position command failed: " + kE},
    {"fuel_write", fail("SetDataOnSimObject"), false, "SET_STANDARD_FUEL",
     "[DEBUG] Fuel distribution failed: Left=" + kE + ", Right=" + kE + ", Center=" + kE},
    {"close", fail("Close"), false, "", ""},
    {"exception_record", "exception 31", false, "", "[CUSTOM ERROR] SimConnect Exception: 31\nSimConnect Exception: 31",
     true},
};

class Misbehaviour : public ::testing::TestWithParam<Refusal> {};

TEST_P(Misbehaviour, IsReportedAndTheBridgeGoesOn) {
    const Refusal& refusal = GetParam();
    BridgeRun run;
    if (refusal.at_start) run.standin.control(refusal.control);
    ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
    if (!refusal.at_start) run.standin.control(refusal.control);
    EXPECT_TRUE(refusal.command.empty() || run.command(refusal.command));
    if (refusal.on_error_stream) {
        EXPECT_TRUE(run.bridge->wait_for_error_output(refusal.line + "\n")) << run.bridge->error_output();
    } else if (!refusal.line.empty()) {
        EXPECT_TRUE(run.bridge->wait_for_line(refusal.line)) << refusal.line << "\n" << run.bridge->output();
    }
    EXPECT_TRUE(still_polling(run));
    EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
    EXPECT_EQ(run.bridge->count_lines(kSessionClosedLine), 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, Misbehaviour, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

TEST(WriteFaults, DataFolderGoneAFileOrReadOnlyWhileRecording) {
    BridgeRun run({.standin_arguments = {"--rate", "120"}});
    ASSERT_TRUE(run.start_connected());
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    ASSERT_TRUE(eventually([&] { return run.recorded_lines() >= 20; }));
    for (const std::string breakage : {"gone", "a file", "read-only"}) {
        SCOPED_TRACE(breakage);
        fs::remove_all(run.data_folder());
        if (breakage == "a file") write_file(run.data_folder(), "not a folder");
        if (breakage == "read-only") {
            fs::create_directory(run.data_folder());
            fs::permissions(run.data_folder(), fs::perms::owner_read | fs::perms::owner_exec);
        }
        const std::size_t lines = run.recorded_lines();
        EXPECT_TRUE(eventually([&] { return run.recorded_lines() >= lines + 50; })) << "the recording stopped";
        ASSERT_TRUE(run.bridge->running());
    }
    fs::permissions(run.data_folder(), fs::perms::owner_all);
    EXPECT_TRUE(samples_go_on(run));
    EXPECT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
    EXPECT_TRUE(run.status_becomes(true, false));
    EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
    EXPECT_EQ(recording_problem(run.recordings().at(0)), "");
}

// A bridge that let SIGXFSZ end it at the limit would lose everything.
TEST(WriteFaults, RecordingCutByAFileSizeLimitOrAFullFileSystem) {
    for (const bool full_disk : {false, true}) {
        SCOPED_TRACE(full_disk ? "full file system" : "file-size limit");
        BridgeRun run({.standin_arguments = {"--rate", "120"},
                       .wrapper = full_disk ? Lines{} : Lines{"/usr/bin/prlimit", "--fsize=49152", "--"}});
        const fs::path app_data = run.recording_folder().parent_path();
        if (full_disk && ::mount("tmpfs", app_data.c_str(), "tmpfs", 0, "size=65536") != 0) {
            GTEST_SKIP() << "cannot mount a small tmpfs here";
        }
        const auto unmount = [](const fs::path* where) { ::umount2(where->c_str(), MNT_DETACH); };
        const std::unique_ptr<const fs::path, decltype(unmount)> mounted(full_disk ? &app_data : nullptr, unmount);
        ASSERT_TRUE(run.start_connected()) << run.bridge->output() << run.bridge->error_output();
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        std::uintmax_t last_size = 0;
        ASSERT_TRUE(eventually(
            [&] {  // stuck past most of the room
                const auto files = run.recordings();
                const std::uintmax_t size = files.empty() ? 0 : fs::file_size(files.back());
                const bool stuck = size > 32 * 1024 && size == last_size;
                last_size = size;
                std::this_thread::sleep_for(300ms);
                return stuck;
            },
            60s));
        ASSERT_TRUE(run.bridge->running()) << "ended at the limit with status " << run.bridge->wait(1s).value_or(-1);
        EXPECT_TRUE(samples_go_on(run)) << "the data file stopped with the recording";
        EXPECT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
        EXPECT_TRUE(run.status_becomes(true, false));
        EXPECT_TRUE(run.command("START_TEST", kTestStartedLine));  // and a second recording
        EXPECT_TRUE(samples_go_on(run));
        EXPECT_TRUE(run.interrupt_cleanly()) << run.bridge->output();
        EXPECT_GT(split_lines(read_file(run.recordings().at(0))).size(), 40u);
        for (const auto& file : run.recordings()) EXPECT_EQ(recording_problem(file, true), "");
    }
}

// Values that are not finite, and an aircraft path with quotes, control bytes
// and bytes that are not UTF-8.
TEST(Schema, RealOutputMatchesThePublishedSchemas) {
    const std::string python = "/usr/bin/python3";
    if (Process({python, "-c", "import jsonschema"}).wait(30s) != 0) GTEST_SKIP() << "no python3-jsonschema";
    const auto validate = [&](const std::string& schema, const Lines& files) {
        Lines argv = {python, VELMAR_SOURCE_DIR "/tests/faults/validate_json.py", VELMAR_SCHEMA_DIR "/" + schema};
        argv.insert(argv.end(), files.begin(), files.end());
        Process validator(argv);
        EXPECT_EQ(validator.wait(60s), 0) << validator.error_output();
    };
    BridgeRun run({.standin_arguments = {"--rate", "60", "--aircraft",
                                         "SimObjects\\Airplanes\\My \"Quoted\"\tCub\x01\xff\\aircraft.cfg"}});
    ASSERT_TRUE(run.start_connected());
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    // Past the aircraft answer, so that samples carry the awkward name.
    ASSERT_TRUE(run.bridge->wait_for_output("[OK] Aircraft detected from system state:", 15s));
    run.standin.control("freeze on");
    run.standin.control("sample 2 nan inf -inf 1e20 -0.004 0 1 -90 180");
    run.standin.control("sample 2 3500.254 120.5 131.4 271.3 -250 40 0 48.1234567891 11.5");
    ASSERT_TRUE(eventually([&] { return read_file(run.data_file()).find("48.12345679") != std::string::npos; }));
    run.standin.control("freeze off");
    ASSERT_TRUE(run.command("STOP_TEST", kTestStoppedLine));

    const std::string recording = read_file(run.recordings().at(0));
    EXPECT_NE(recording.find("\"altitude\":null"), std::string::npos) << "no sample with a value that is not finite";
    EXPECT_NE(recording.find("\\\"Quoted\\\""), std::string::npos) << "no sample with the awkward aircraft name";
    validate("flight-data.schema.json", {run.data_file().string(), "--lines", run.recordings().at(0).string()});
    validate("status.schema.json", {run.status_file().string()});
    EXPECT_TRUE(run.interrupt_cleanly());
    validate("status.schema.json", {run.status_file().string()});
}

}  // namespace
}  // namespace velmar::test
