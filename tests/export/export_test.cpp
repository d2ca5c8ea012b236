// --export from outside: a recording the bridge made against sim-standin,
// exported to each format and read back by other readers (python3's XML and
// CSV modules, a headless browser when one is installed); and bad input.
#include <gtest/gtest.h>

#include <memory>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

Process run_export(const Lines& arguments) {
    Lines argv = {bin_path("velmar-tracker"), "--export"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // No simulator and no data folder: an export must need neither.
    return Process(argv, {.environment = {{"SIMCONNECT_STANDIN_PORT", "1"}},
                          .unset_environment = {"APPDATA", "XDG_DATA_HOME", "HOME"}});
}

// Empty when read_back.py finds `file` true to `recording`; else what differs.
std::string read_back_problems(const fs::path& recording, const std::string& kind, const fs::path& file) {
    Process reader({"/usr/bin/python3", VELMAR_READ_BACK, recording.string(), kind, file.string()});
    return reader.wait(60s) == 0 ? "" : reader.output() + reader.error_output();
}

std::string find_browser() {
    for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (fs::exists(path)) return path;
    }
    return {};
}

// One recording for the suite: a test with the position and fuel commands in it.
class ExportOfARecording : public testing::Test {
protected:
    static void SetUpTestSuite() {
        run_ = std::make_unique<BridgeRun>();
        BridgeRun& run = *run_;
        ASSERT_TRUE(run.start_connected()) << run.bridge->output();
        ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
        ASSERT_TRUE(eventually([&] { return run.recorded_lines() >= 10; }));
        ASSERT_TRUE(run.command("POSITION_RTT", "[DEBUG] Position command sent successfully"));
        ASSERT_TRUE(run.command("SET_STANDARD_FUEL", "[DEBUG] Fuel distribution set successfully (L/C/R)"));
        const std::size_t after_commands = run.recorded_lines();
        ASSERT_TRUE(eventually([&] { return run.recorded_lines() >= after_commands + 10; }));
        ASSERT_TRUE(run.command("STOP_TEST", kTestStoppedLine));
        ASSERT_TRUE(run.interrupt_cleanly());
        ASSERT_EQ(run.recordings().size(), 1u);
        recording_ = run.recordings()[0];
    }
    static void TearDownTestSuite() { run_.reset(); }

    static fs::path output(const std::string& name) { return run_->scratch.path() / name; }

    static std::unique_ptr<BridgeRun> run_;
    static fs::path recording_;
};
std::unique_ptr<BridgeRun> ExportOfARecording::run_;
fs::path ExportOfARecording::recording_;

TEST_F(ExportOfARecording, EachFormatReadsBackTrue) {
    ASSERT_FALSE(recording_.empty());
    const std::string content = read_file(recording_);
    ASSERT_NE(content.find("\"latitude\":47.43"), std::string::npos) << "the position command shows";
    ASSERT_NE(content.find("\"fuel_quantity\":1318.0"), std::string::npos) << "the fuel command shows";
    const std::size_t lines = split_lines(content).size();
    for (const std::string kind : {"gpx", "kml", "csv", "html"}) {
        SCOPED_TRACE(kind);
        const fs::path file = output("flight." + kind);
        Process exporter = run_export({recording_.string(), file.string()});
        EXPECT_EQ(exporter.wait(30s), 0) << exporter.error_output();
        EXPECT_EQ(exporter.output_lines(), Lines{"[OK] Exported " + std::to_string(lines) + " samples of " +
                                                 recording_.string() + " to " + file.string()});
        EXPECT_EQ(read_back_problems(recording_, kind, file), "");
    }
}

// The page as a browser engine builds it: the same plots, read from its DOM.
TEST_F(ExportOfARecording, TheBrowserShowsThePlots) {
    const std::string browser = find_browser();
    if (browser.empty()) GTEST_SKIP() << "no chromium installed (scripts/install-deps installs it)";
    const fs::path page = output("browser.html");
    ASSERT_EQ(run_export({recording_.string(), page.string()}).wait(30s), 0);
    Process chromium({browser, "--headless", "--no-sandbox", "--disable-gpu",
                      "--user-data-dir=" + output("chromium").string(), "--dump-dom", "file://" + page.string()});
    ASSERT_EQ(chromium.wait(120s), 0) << chromium.error_output();
    const fs::path dom = output("dom.html");
    write_file(dom, chromium.output());
    EXPECT_NE(chromium.output().find("<svg"), std::string::npos);
    EXPECT_EQ(read_back_problems(recording_, "html", dom), "");
}

const std::string kSampleLine =
    R"({"timestamp":200,"altitude":9000.00,"indicated_altitude":9000.00,"altitude_above_ground":8000.00,)"
    R"("airspeed_indicated":220.00,"airspeed_true":250.00,"gps_ground_speed":240.00,"heading_magnetic":205.00,)"
    R"("heading_true":207.00,"vertical_speed":0.00,"elevator_position":0.00,"aileron_position":0.00,)"
    R"("rudder_position":0.00,"throttle_position":80.00,"fuel_quantity":1318.06,"engine_rpm":2400.00,)"
    R"("autopilot_master":false,"autopilot_heading":false,"autopilot_altitude":false,"autopilot_speed":false,)"
    R"("is_paused":false,"latitude":47.43183300,"longitude":11.93966700,"aircraft_title":"TBM 930",)"
    R"("aircraft_type":"TBM9"})"
    "\n";
const std::string kFolder = "<a folder>";
const std::string kRecording = "flight_data_20250314_093005.json";

// Bad input ends with status 1 and one line naming the file; the output that
// was there stays as it was and nothing else is left behind. A cut-short last
// line is skipped with a warning.
TEST(ExportBadInput, OneLineNothingLeftBehind) {
    struct Row {
        std::string label;
        std::optional<std::string> content;  // of the recording; nullopt: none
        int status;
        std::string error;  // the start of standard error's one line; @ is the recording, % the output
        std::string recording = kRecording;
        std::string output = "out.gpx";  // empty: left out
    };
    const Row rows[] = {
        {"missing", std::nullopt, 1, "[CUSTOM ERROR] Cannot export @: No such file or directory"},
        {"a folder", kFolder, 1, "[CUSTOM ERROR] Cannot export @: it is a folder"},
        {"a line of another kind", kSampleLine + R"({"timestamp":5})" + "\n" + kSampleLine, 1,
         R"([CUSTOM ERROR] Cannot export @: line 2 is not a sample ("altitude" expected at column 15))"},
        {"a blank line", kSampleLine + "\n" + kSampleLine, 1,
         "[CUSTOM ERROR] Cannot export @: line 2 is not a sample (no JSON object)"},
        {"a title that is not UTF-8", std::regex_replace(kSampleLine, std::regex("TBM 930"), "TBM\xff"), 1,
         R"([CUSTOM ERROR] Cannot export @: line 1 is not a sample (a bad value of "aircraft_title")"},
        {"a member more", kSampleLine.substr(0, kSampleLine.size() - 2) + R"(,"x":1})" + "\n", 1,
         "[CUSTOM ERROR] Cannot export @: line 1 is not a sample (more than a sample"},
        {"a name without the start time", kSampleLine, 1,
         "[CUSTOM ERROR] Cannot export @: its name does not carry the start time", "recording.json"},
        {"an unknown extension", kSampleLine, 1,
         "[CUSTOM ERROR] Cannot export to %: the name must end in .gpx, .kml, .csv or .html", kRecording,
         "out.gpx.txt"},
        {"a missing output folder", kSampleLine, 1, "[CUSTOM ERROR] Cannot write %: No such file or directory",
         kRecording, "missing/out.gpx"},
        {"no output", kSampleLine, 1, "[CUSTOM ERROR] Usage: velmar-tracker --export RECORDING OUTPUT", kRecording, ""},
        {"a cut-short last line", kSampleLine + kSampleLine + kSampleLine.substr(0, 90), 0,
         "[WARNING] @: line 3 was cut short (the recording ended mid-write) and is left out"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ScratchDir scratch;
        const fs::path recording = scratch.path() / row.recording;
        const fs::path output = scratch.path() / row.output;
        if (row.content == kFolder) fs::create_directory(recording);
        if (row.content && row.content != kFolder) write_file(recording, *row.content);
        write_file(scratch.path() / "out.gpx", "old");
        write_file(scratch.path() / "out.gpx.tmp", "someone else's");  // never taken or removed
        Lines arguments = {recording.string()};
        if (!row.output.empty()) arguments.push_back(output.string());
        Process exporter = run_export(arguments);
        EXPECT_EQ(exporter.wait(30s), row.status);
        std::string expected = std::regex_replace(row.error, std::regex("@"), recording.string());
        expected = std::regex_replace(expected, std::regex("%"), output.string());
        const Lines errors = exporter.error_lines();
        EXPECT_TRUE(errors.size() == 1 && errors[0].starts_with(expected)) << exporter.error_output();
        EXPECT_EQ(read_file(scratch.path() / "out.gpx.tmp"), "someone else's");
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(scratch.path())) names.insert(entry.path().filename().string());
        std::set<std::string> wanted = {"out.gpx", "out.gpx.tmp"};
        if (row.content) wanted.insert(row.recording);
        EXPECT_EQ(names, wanted);
        const std::string written = read_file(scratch.path() / "out.gpx");
        if (row.status == 0) {
            EXPECT_EQ(exporter.output_lines().size(), 1u);
            EXPECT_EQ(read_back_problems(recording, "gpx", scratch.path() / "out.gpx"), "");
        } else {
            EXPECT_EQ(written, "old");
            EXPECT_EQ(exporter.output(), "");
        }
    }
}

}  // namespace
}  // namespace velmar::test
