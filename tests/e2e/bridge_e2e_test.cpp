// The bridge from outside: velmar-tracker --file-mode against sim-standin,
// checked through its console, its files and the stand-in's call log.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace velmar::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::ordered_json;

constexpr std::size_t kSampleMembers = 25;
const std::string kStartedLine = "[OK] Auto-started data collection for monitoring";
const std::string kTestStartedLine = "[OK] Test started - Data collection active";
const std::string kTestStoppedLine = "[OK] Test stopped - Data saved to AppData/Velmar/";
const std::string kDisconnectedLine = "[CUSTOM ERROR] Disconnected from MSFS";
const std::string kSessionClosedLine = "Disconnected from MSFS SimConnect";
const std::string kCommandFileEmptyLine = "[DEBUG] Command file empty";

// Polls for a condition of the file system or the call log, where there is
// nothing to block on.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
}

std::optional<ordered_json> parse_json(const std::string& text) {
    try {
        return ordered_json::parse(text);
    } catch (const ordered_json::exception&) {
        return std::nullopt;
    }
}

// Whether `expected` appears in `lines` in this order, other lines (of other
// threads) allowed in between.
bool in_order(const std::vector<std::string>& lines, const std::vector<std::string>& expected, std::size_t from = 0) {
    std::size_t next = 0;
    for (std::size_t i = from; i < lines.size() && next < expected.size(); ++i) {
        if (lines[i] == expected[next]) ++next;
    }
    return next == expected.size();
}

std::size_t index_of(const std::vector<std::string>& lines, const std::string& line, std::size_t from = 0) {
    const auto found =
        std::find(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())), lines.end(), line);
    return static_cast<std::size_t>(found - lines.begin());
}

bool is_sample(const ordered_json& object) { return object.is_object() && object.size() == kSampleMembers; }

std::string local_stamp(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
    return text;
}

std::set<fs::path> recordings_in(const fs::path& folder) {
    std::set<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("flight_data_") && name.ends_with(".json")) found.insert(entry.path());
    }
    return found;
}

// One bridge run in a scratch folder: the portable data folder "data" and an
// application-data folder "appdata" that APPDATA names.
class BridgeRun {
public:
    struct Options {
        bool portable = true;
        bool with_standin = true;
        bool without_app_data = false;  // APPDATA, XDG_DATA_HOME and HOME all unset
    };

    explicit BridgeRun(Options options) : options_(options) {
        fs::create_directories(app_data());
        if (options.with_standin) standin_.emplace();
    }

    fs::path app_data() const { return scratch_.path() / "appdata"; }
    fs::path velmar_folder() const { return app_data() / "Velmar"; }
    fs::path data_folder() const { return options_.portable ? scratch_.path() / "data" : velmar_folder(); }
    fs::path data_file() const { return data_folder() / "current_flight_data.json"; }
    fs::path status_file() const { return data_folder() / "simconnect_status.json"; }
    fs::path command_file() const { return data_folder() / "python_commands.txt"; }

    Process& start(std::vector<std::string> arguments = {}) {
        if (arguments.empty()) {
            arguments = {"--file-mode"};
            if (options_.portable) arguments.push_back(data_folder().string());
        }
        arguments.insert(arguments.begin(), bin_path("velmar-tracker"));
        ProcessOptions process_options;
        if (standin_) {
            process_options.environment = standin_->client_environment();
        } else {
            process_options.environment["SIMCONNECT_STANDIN_PORT"] = "1";  // nothing listens there
        }
        if (options_.without_app_data) {
            process_options.unset_environment = {"APPDATA", "XDG_DATA_HOME", "HOME"};
        } else {
            process_options.environment["APPDATA"] = app_data().string();
        }
        bridge_.emplace(arguments, process_options);
        return *bridge_;
    }

    // Starts and waits for the last line of a connected start.
    Process& start_connected() {
        Process& process = start();
        EXPECT_TRUE(process.wait_for_line(kStartedLine)) << process.output() << process.error_output();
        return process;
    }

    Standin& standin() { return *standin_; }
    Process& bridge() { return *bridge_; }

    // Writes a command into the (empty) command file and waits until the
    // bridge has emptied it again, as a server does.
    bool send_command(const std::string& content) {
        write_file(command_file(), content);
        return eventually([&] { return read_file(command_file()).empty(); });
    }

    std::optional<ordered_json> status() const { return parse_json(read_file(status_file())); }

    // Waits for the status file to show this connection state and test state.
    bool status_becomes(bool connected, bool test_active) const {
        return eventually([&] {
            const auto parsed = status();
            return parsed && (*parsed)["connected"] == connected && (*parsed)["test_active"] == test_active;
        });
    }

    std::optional<int> stop(int signal_number = SIGINT) {
        bridge_->send_signal(signal_number);
        return bridge_->wait(15s);
    }

private:
    Options options_;
    ScratchDir scratch_;
    std::optional<Standin> standin_;
    std::optional<Process> bridge_;
};

std::vector<std::string> connected_start_lines(const std::string& folder_line, const std::string& data_file) {
    std::vector<std::string> lines;
    if (!folder_line.empty()) lines.push_back(folder_line);
    const std::vector<std::string> rest = {
        "[BRIDGE] Data file: " + data_file,
        "Starting MSFS Velmar Tracker (File-based Bridge)...",
        "Data files location: " + data_file,
        "",
        "[DEBUG] Minimal data definition (9 variables) - testing live data restoration",
        "[DEBUG] Pause control events mapped with input groups",
        "[OK] Connected to MSFS",
        "Connected to MSFS SimConnect",
        "[OK] SimConnect connection established",
        "[OK] File-based bridge ready for Python server",
        "[OK] Data collection started at 5Hz",
        "[OK] Aircraft detection diagnostic mode enabled",
        kStartedLine,
    };
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

TEST(BridgeStart, FolderChoiceLinesAndTheFailurePath) {
    struct Case {
        const char* name;
        bool portable;
        bool without_app_data;
        std::vector<std::string> extra_arguments;  // after --file-mode; empty: the portable folder if any
        std::map<std::string, std::string> environment;
    };
    const Case cases[] = {
        {"portable", true, false, {}, {}},
        {"legacy", false, false, {}, {}},
        {"empty argument is legacy", false, false, {""}, {}},
        {"no folder at all", false, true, {}, {}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        BridgeRun run({.portable = row.portable, .with_standin = false, .without_app_data = row.without_app_data});
        if (!row.without_app_data) {
            fs::create_directories(run.data_folder());
            write_file(run.command_file(), "START_TEST\n");
        }
        std::vector<std::string> arguments = {"--file-mode"};
        arguments.insert(arguments.end(), row.extra_arguments.begin(), row.extra_arguments.end());
        Process& bridge = run.start(row.portable ? std::vector<std::string>{} : arguments);
        ASSERT_EQ(bridge.wait(15s), 0);

        std::string folder_line;
        std::string data_file = "/current_flight_data.json";
        if (row.portable) {
            folder_line = "[PORTABLE] Using portable temp directory: " + run.data_folder().string();
            data_file = run.data_file().string();
        } else if (!row.without_app_data) {
            folder_line = "[LEGACY] Using APPDATA directory: " + run.velmar_folder().string();
            data_file = run.data_file().string();
        }
        std::vector<std::string> expected = connected_start_lines(folder_line, data_file);
        expected.resize(expected.size() - 9);  // up to the empty line
        expected.push_back("[CUSTOM ERROR] Failed to connect to SimConnect");
        expected.push_back("Make sure Microsoft Flight Simulator is running.");
        EXPECT_EQ(bridge.output_lines(), expected);
        EXPECT_EQ(bridge.error_lines(),
                  std::vector<std::string>{"[CUSTOM ERROR] Failed to connect to MSFS SimConnect"});
        if (!row.without_app_data) {
            EXPECT_TRUE(fs::is_directory(run.data_folder()));
            EXPECT_FALSE(fs::exists(run.status_file()));
            EXPECT_EQ(read_file(run.command_file()), "START_TEST\n");  // never read
        }
    }
}

TEST(BridgeStart, ConnectsPublishesSamplesAndShutsDownOnInterrupt) {
    BridgeRun run({});
    const std::int64_t before = std::time(nullptr);
    Process& bridge = run.start_connected();
    const auto lines = bridge.output_lines();
    const auto expected = connected_start_lines(
        "[PORTABLE] Using portable temp directory: " + run.data_folder().string(), run.data_file().string());
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(expected.size())),
              expected);

    const std::string status_text = read_file(run.status_file());
    const std::string status_start = R"({"connected":true,"test_active":false,"last_update":)";
    ASSERT_TRUE(status_text.starts_with(status_start) && status_text.ends_with("}")) << status_text;
    const std::string seconds = status_text.substr(status_start.size(), status_text.size() - status_start.size() - 1);
    ASSERT_TRUE(!seconds.empty() && seconds.find_first_not_of("0123456789") == std::string::npos) << status_text;
    EXPECT_GE(std::stoll(seconds), before);
    EXPECT_LE(std::stoll(seconds), std::time(nullptr));

    std::optional<ordered_json> sample;
    ASSERT_TRUE(eventually([&] {
        sample = parse_json(read_file(run.data_file()));
        return sample && is_sample(*sample);
    })) << read_file(run.data_file());
    EXPECT_EQ((*sample)["timestamp"], 0);
    EXPECT_GT((*sample)["airspeed_indicated"].get<double>(), 0.0);
    EXPECT_EQ((*sample)["airspeed_true"], (*sample)["airspeed_indicated"]);
    EXPECT_FALSE(read_file(run.data_file()).ends_with("\n"));

    const auto log = run.standin().log_lines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), R"(SimConnect_Open "MSFS Velmar Tracker" 0 0 0 0 -> 0)");
    EXPECT_NE(std::find(log.begin(), log.end(), "SimConnect_RequestDataOnSimObject 2 0 0 2 1 0 0 0 -> 0"), log.end());

    EXPECT_EQ(run.stop(SIGINT), 0);
    const auto final_lines = bridge.output_lines();
    EXPECT_TRUE(in_order(final_lines, {"", "Shutting down...", kDisconnectedLine, kSessionClosedLine}, expected.size()))
        << bridge.output();
    ASSERT_TRUE(run.status());
    EXPECT_EQ((*run.status())["connected"], false);
    EXPECT_EQ(run.standin().log_lines().back(), "SimConnect_Close -> 0");
}

TEST(BridgeCommands, EveryWordPrintsItsLinesMakesItsCallAndEmptiesTheFile) {
    struct Case {
        std::string word;
        std::vector<std::string> lines;  // after the processing line, in order
        std::string call;                // a call-log line that the command makes, by its start
    };
    const Case cases[] = {
        {"PAUSE_REGULAR",
         {"[OK] Executing regular pause", "[DEBUG] Triggering regular pause (P key equivalent)",
          "[DEBUG] Pause event sent successfully"},
         "SimConnect_TransmitClientEvent 0 4 0 1 16 -> 0"},
        {"UNPAUSE",
         {"[OK] Executing unpause", "[DEBUG] Force unpause", "[DEBUG] Unpause event sent successfully"},
         "SimConnect_TransmitClientEvent 0 5 0 1 16 -> 0"},
        {"PAUSE_ACTIVE",
         {"[OK] Executing active pause", "[DEBUG] Triggering active pause (position only)",
          "[DEBUG] Active pause event sent successfully"},
         "SimConnect_TransmitClientEvent 0 6 0 1 16 -> 0"},
        {"PAUSE_SIM",
         {"[OK] Executing sim pause", "[DEBUG] Triggering sim pause (dev mode)",
          "[DEBUG] Sim pause event sent successfully"},
         "SimConnect_TransmitClientEvent 0 7 0 1 16 -> 0"},
        {"SET_STANDARD_FUEL",
         {"[OK] Setting standard fuel load (5T)", "[DEBUG] Setting standard fuel load: 5T total (2.5T per tank)",
          "[DEBUG] Fuel distribution set successfully (L/C/R)"},
         "SimConnect_SetDataOnSimObject 103 0 0 0 8 "},
        {"POSITION_RTT",
         {"[OK] Positioning aircraft at RTT Rattenberg", "[DEBUG] Position command sent successfully"},
         "SimConnect_SetDataOnSimObject 100 0 0 0 56 "},
        {"START_TEST", {kTestStartedLine}, "SimConnect_RequestDataOnSimObject 2 0 0 2 1 0 0 0 -> 0"},
        {"STOP_TEST", {kTestStoppedLine}, "SimConnect_RequestDataOnSimObject 2 0 0 0 0 0 0 0 -> 0"},
    };
    BridgeRun run({});
    Process& bridge = run.start_connected();
    for (const Case& row : cases) {
        SCOPED_TRACE(row.word);
        const std::size_t log_before = run.standin().log_lines().size();
        const std::size_t lines_before = bridge.output_lines().size();
        ASSERT_TRUE(run.send_command(row.word + "\n"));
        ASSERT_TRUE(bridge.wait_for_line(row.lines.back()));
        std::vector<std::string> expected = {"[DEBUG] Processing command: '" + row.word + "'"};
        expected.insert(expected.end(), row.lines.begin(), row.lines.end());
        EXPECT_TRUE(in_order(bridge.output_lines(), expected, lines_before)) << bridge.output();

        const auto log = run.standin().log_lines();
        EXPECT_TRUE(std::any_of(log.begin() + static_cast<std::ptrdiff_t>(log_before), log.end(),
                                [&](const std::string& line) { return line.starts_with(row.call); }))
            << row.call;
        EXPECT_EQ(fs::file_size(run.command_file()), 0u);
    }
    EXPECT_EQ(run.stop(), 0);
}

TEST(BridgeCommands, FirstLineRulesSeenFromOutside) {
    BridgeRun run({});
    Process& bridge = run.start_connected();
    const std::string long_line(5000, 'A');
    struct Case {
        const char* name;
        std::string content;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"CR LF", "PAUSE_SIM\r\n", {"[DEBUG] Processing command: 'PAUSE_SIM'", "[OK] Executing sim pause"}},
        {"lower case",
         "pause_sim\n",
         {"[DEBUG] Processing command: 'pause_sim'", "[DEBUG] Unknown command: pause_sim"}},
        {"trailing blank",
         "UNPAUSE \n",
         {"[DEBUG] Processing command: 'UNPAUSE '", "[DEBUG] Unknown command: UNPAUSE "}},
        {"two lines: the second is discarded",
         "UNPAUSE\nPAUSE_REGULAR\n",
         {"[DEBUG] Processing command: 'UNPAUSE'", "[OK] Executing unpause"}},
        {"control bytes are shown as hex",
         "\x1b[2J\x07\r\x7f\n",
         {"[DEBUG] Processing command: '\\x1B[2J\\x07\\x0D\\x7F'", "[DEBUG] Unknown command: \\x1B[2J\\x07\\x0D\\x7F"}},
        {"a first line beyond 4096 bytes is cut",
         long_line,
         {"[DEBUG] Processing command: '" + long_line.substr(0, 4096) + "'",
          "[DEBUG] Unknown command: " + long_line.substr(0, 4096)}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const std::size_t lines_before = bridge.output_lines().size();
        ASSERT_TRUE(run.send_command(row.content));
        ASSERT_TRUE(bridge.wait_for_line(row.lines.back()));
        EXPECT_TRUE(in_order(bridge.output_lines(), row.lines, lines_before));
    }
    EXPECT_EQ(bridge.count_lines("[OK] Executing regular pause"), 0u);

    // An empty first line: the command below it is never taken, on any poll.
    const std::size_t empty_before = bridge.count_lines(kCommandFileEmptyLine);
    write_file(run.command_file(), "\nPAUSE_REGULAR\n");
    ASSERT_TRUE(bridge.wait_for_line_count(kCommandFileEmptyLine, empty_before + 3));
    EXPECT_EQ(read_file(run.command_file()), "\nPAUSE_REGULAR\n");
    EXPECT_EQ(bridge.count_lines("[OK] Executing regular pause"), 0u);
    EXPECT_EQ(run.stop(), 0);
}

TEST(BridgeRecording, StartAndStopRecordTestRelativeLines) {
    BridgeRun run({.portable = false});  // legacy: data files and recordings both under APPDATA
    Process& bridge = run.start_connected();
    ASSERT_TRUE(run.send_command("START_TEST"));
    ASSERT_TRUE(bridge.wait_for_line(kTestStartedLine));
    ASSERT_TRUE(run.status_becomes(true, true));

    std::set<fs::path> recordings;
    ASSERT_TRUE(eventually([&] { return (recordings = recordings_in(run.velmar_folder())).size() == 1; }));
    const fs::path recording = *recordings.begin();
    EXPECT_EQ(recording.filename().string().size(), std::string("flight_data_20250314_093005.json").size());
    ASSERT_TRUE(eventually([&] { return split_lines(read_file(recording)).size() >= 5; }));

    ASSERT_TRUE(run.send_command("STOP_TEST"));
    ASSERT_TRUE(bridge.wait_for_line(kTestStoppedLine));
    ASSERT_TRUE(run.status_becomes(true, false));

    const std::string content = read_file(recording);
    ASSERT_TRUE(content.ends_with("\n"));
    std::int64_t previous = 0;
    const auto lines = split_lines(content);
    for (const std::string& line : lines) {
        const auto sample = parse_json(line);
        ASSERT_TRUE(sample && is_sample(*sample)) << line;
        const auto timestamp = (*sample)["timestamp"].get<std::int64_t>();
        EXPECT_GE(timestamp, previous);
        previous = timestamp;
    }
    EXPECT_GT(previous, 0);
    EXPECT_LT(parse_json(lines.front()).value()["timestamp"].get<std::int64_t>(), 10'000);
    EXPECT_EQ(run.stop(), 0);
}

TEST(BridgeRecording, NameCollisionAndDoubleStartNeverOverwrite) {
    BridgeRun run({});
    fs::create_directories(run.velmar_folder());
    // Recordings of an earlier run for every second this test may start in.
    std::set<fs::path> earlier;
    const std::time_t now = std::time(nullptr);
    for (std::time_t second = now - 1; second <= now + 30; ++second) {
        const fs::path path = run.velmar_folder() / ("flight_data_" + local_stamp(second) + ".json");
        write_file(path, "earlier\n");
        earlier.insert(path);
    }
    Process& bridge = run.start_connected();
    auto new_recordings = [&] {
        std::set<fs::path> found;
        for (const auto& path : recordings_in(run.velmar_folder())) {
            if (!earlier.count(path)) found.insert(path);
        }
        return found;
    };

    ASSERT_TRUE(run.send_command("START_TEST"));
    ASSERT_TRUE(eventually([&] { return new_recordings().size() == 1; }));
    const fs::path first = *new_recordings().begin();
    EXPECT_TRUE(first.filename().string().ends_with("_2.json")) << first;
    ASSERT_TRUE(eventually([&] { return split_lines(read_file(first)).size() >= 3; }));

    ASSERT_TRUE(run.send_command("START_TEST"));  // while the first test runs
    ASSERT_TRUE(bridge.wait_for_line_count(kTestStartedLine, 2));
    ASSERT_TRUE(eventually([&] { return new_recordings().size() == 2; }));
    fs::path second;
    for (const auto& path : new_recordings()) {
        if (path != first) second = path;
    }
    ASSERT_TRUE(eventually([&] { return split_lines(read_file(second)).size() >= 3; }));
    const std::string first_content = read_file(first);

    ASSERT_TRUE(run.send_command("STOP_TEST"));
    ASSERT_TRUE(run.status_becomes(true, false));
    EXPECT_EQ(read_file(first), first_content);  // closed whole at the second start
    for (const fs::path& recording : {first, second}) {
        const std::string content = read_file(recording);
        EXPECT_TRUE(content.ends_with("\n")) << recording;
        for (const std::string& line : split_lines(content)) {
            const auto sample = parse_json(line);
            EXPECT_TRUE(sample && is_sample(*sample)) << line;
        }
    }
    for (const fs::path& path : earlier) {
        EXPECT_EQ(read_file(path), "earlier\n") << path;
    }
    EXPECT_EQ(run.stop(), 0);
}

TEST(BridgeRecording, WithoutAppDataTheTestRunsButNothingIsRecorded) {
    BridgeRun run({.portable = true, .without_app_data = true});
    Process& bridge = run.start_connected();
    ASSERT_TRUE(run.send_command("START_TEST"));
    ASSERT_TRUE(bridge.wait_for_line(kTestStartedLine));
    ASSERT_TRUE(run.status_becomes(true, true));
    // Samples carry test-relative timestamps all the same.
    ASSERT_TRUE(eventually([&] {
        const auto sample = parse_json(read_file(run.data_file()));
        return sample && is_sample(*sample) && (*sample)["timestamp"].get<std::int64_t>() > 0;
    }));
    ASSERT_TRUE(run.send_command("STOP_TEST"));
    ASSERT_TRUE(bridge.wait_for_line(kTestStoppedLine));
    ASSERT_TRUE(run.status_becomes(true, false));
    EXPECT_TRUE(recordings_in(run.data_folder()).empty());
    EXPECT_FALSE(fs::exists(run.velmar_folder()));
    EXPECT_EQ(run.stop(), 0);
}

TEST(BridgeSimulatorGone, QuitOrVanishedClosesTheSessionAndPollingGoesOn) {
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "stand-in killed" : "quit record");
        BridgeRun run({});
        Process& bridge = run.start_connected();
        ASSERT_TRUE(run.send_command("START_TEST"));
        ASSERT_TRUE(run.status_becomes(true, true));
        if (killed) {
            run.standin().process().send_signal(SIGKILL);
        } else {
            run.standin().control("quit");
        }
        ASSERT_TRUE(bridge.wait_for_line(kSessionClosedLine));
        EXPECT_TRUE(in_order(bridge.output_lines(), {kDisconnectedLine, kSessionClosedLine}));
        ASSERT_TRUE(run.status_becomes(false, true));

        // Still polling: commands are taken, and act on no session.
        ASSERT_TRUE(run.send_command("PAUSE_SIM"));
        ASSERT_TRUE(bridge.wait_for_line("[OK] Executing sim pause"));
        ASSERT_TRUE(run.send_command("STOP_TEST"));
        ASSERT_TRUE(bridge.wait_for_line(kTestStoppedLine));
        ASSERT_TRUE(run.status_becomes(false, false));

        EXPECT_EQ(run.stop(), 0);
        EXPECT_EQ(bridge.count_lines(kDisconnectedLine), 1u);  // closed once, not again at the end
        EXPECT_EQ(bridge.count_lines(kSessionClosedLine), 1u);
    }
}

TEST(BridgeShutdown, InterruptOrTerminateClosesInOrderAndKeepsTheRecording) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal_number == SIGINT ? "SIGINT" : "SIGTERM");
        BridgeRun run({});
        Process& bridge = run.start_connected();
        ASSERT_TRUE(run.send_command("START_TEST"));
        ASSERT_TRUE(run.status_becomes(true, true));
        std::set<fs::path> recordings;
        ASSERT_TRUE(eventually([&] { return (recordings = recordings_in(run.velmar_folder())).size() == 1; }));
        ASSERT_TRUE(eventually([&] { return split_lines(read_file(*recordings.begin())).size() >= 3; }));

        EXPECT_EQ(run.stop(signal_number), 0);
        const auto lines = bridge.output_lines();
        const std::size_t shutting_down = index_of(lines, "Shutting down...");
        ASSERT_LT(shutting_down, lines.size()) << bridge.output();
        EXPECT_EQ(lines[shutting_down - 1], "");
        EXPECT_TRUE(in_order(lines, {kDisconnectedLine, kSessionClosedLine}, shutting_down));

        const auto status = run.status();
        ASSERT_TRUE(status);
        EXPECT_EQ((*status)["connected"], false);
        EXPECT_EQ((*status)["test_active"], true);
        const std::string content = read_file(*recordings.begin());
        EXPECT_TRUE(content.ends_with("\n"));
        for (const std::string& line : split_lines(content)) {
            const auto sample = parse_json(line);
            EXPECT_TRUE(sample && is_sample(*sample)) << line;
        }
        EXPECT_EQ(run.standin().log_lines().back(), "SimConnect_Close -> 0");
    }
}

}  // namespace
}  // namespace velmar::test
