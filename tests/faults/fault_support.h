#pragma once

// The real bridge against the stand-in for the end-to-end and fault tests:
// commands sent as a server sends them, and checks that files are whole.

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "support/process.h"

namespace velmar::test {

using Lines = std::vector<std::string>;

inline const std::string kStartedLine = "[OK] Auto-started data collection for monitoring";
inline const std::string kTestStartedLine = "[OK] Test started - Data collection active";
inline const std::string kTestStoppedLine = "[OK] Test stopped - Data saved to AppData/Velmar/";
inline const std::string kDisconnectedLine = "[CUSTOM ERROR] Disconnected from MSFS";
inline const std::string kSessionClosedLine = "Disconnected from MSFS SimConnect";
// With --reconnect: waiting for the simulator, and a test ended by its going away.
inline const std::string kWaitingLine = "[BRIDGE] Waiting for MSFS - trying to connect every 5 seconds";
inline const std::string kTestEndedLine =
    "[CUSTOM ERROR] Test stopped - connection to MSFS ended; data saved to AppData/Velmar/";

// Each command word, the lines it prints after "[DEBUG] Processing command:
// '<word>'", and the whole call-log lines it adds (run in this order, from
// START_TEST to STOP_TEST: definitions are made on first use).
struct CommandWord {
    std::string word;
    Lines lines;
    Lines calls;
};
inline const std::string kTestStartCall = "SimConnect_RequestDataOnSimObject 2 0 0 2 1 0 0 0 -> 0";
inline const std::vector<CommandWord> kCommandWords = {
    {"START_TEST", {kTestStartedLine}, {kTestStartCall}},
    {"PAUSE_REGULAR",
     {"[OK] Executing regular pause", "[DEBUG] Triggering regular pause (P key equivalent)",
      "[DEBUG] Pause event sent successfully"},
     {"SimConnect_TransmitClientEvent 0 4 0 1 16 -> 0"}},
    {"PAUSE_ACTIVE",
     {"[OK] Executing active pause", "[DEBUG] Triggering active pause (position only)",
      "[DEBUG] Active pause event sent successfully"},
     {"SimConnect_TransmitClientEvent 0 6 0 1 16 -> 0"}},
    {"PAUSE_SIM",
     {"[OK] Executing sim pause", "[DEBUG] Triggering sim pause (dev mode)",
      "[DEBUG] Sim pause event sent successfully"},
     {"SimConnect_TransmitClientEvent 0 7 0 1 16 -> 0"}},
    {"SET_STANDARD_FUEL",
     {"[OK] Setting standard fuel load (5T)", "[DEBUG] Setting standard fuel load: 5T total (2.5T per tank)",
      "[DEBUG] Fuel distribution set successfully (L/C/R)"},
     {R"(SimConnect_AddToDataDefinition 103 "FUEL TANK LEFT MAIN QUANTITY" "gallons" 4 0 4294967295 -> 0)",
      R"(SimConnect_AddToDataDefinition 104 "FUEL TANK RIGHT MAIN QUANTITY" "gallons" 4 0 4294967295 -> 0)",
      R"(SimConnect_AddToDataDefinition 105 "FUEL TANK CENTER QUANTITY" "gallons" 4 0 4294967295 -> 0)",
      "SimConnect_SetDataOnSimObject 103 0 0 0 8 0ad7a3703d988440 -> 0",  // 659.03 gallons
      "SimConnect_SetDataOnSimObject 104 0 0 0 8 0ad7a3703d988440 -> 0",
      "SimConnect_SetDataOnSimObject 105 0 0 0 8 0000000000000000 -> 0"}},
    {"POSITION_RTT",
     {"[OK] Positioning aircraft at RTT Rattenberg", "[DEBUG] Position command sent successfully"},
     {R"(SimConnect_AddToDataDefinition 100 "Initial Position" null 12 0 4294967295 -> 0)",
      "SimConnect_SetDataOnSimObject 100 0 0 0 56 "  // 47.431833 N 11.939667 E, 9000 ft, heading 207, 220 kn, in the
                                                     // air
      "a2fe8d5046b7474008f344fd1be12740000000000094c140000000000000000000000000000000000000000000e0694000000000dc000000"
      " -> 0"}},
    {"UNPAUSE",
     {"[OK] Executing unpause", "[DEBUG] Force unpause", "[DEBUG] Unpause event sent successfully"},
     {"SimConnect_TransmitClientEvent 0 5 0 1 16 -> 0"}},
    {"STOP_TEST", {kTestStoppedLine}, {"SimConnect_RequestDataOnSimObject 2 0 0 0 0 0 0 0 -> 0"}},
};

// Whether `expected` is in `lines` from `from` on in this order, other lines between.
inline bool in_order(const Lines& lines, const Lines& expected, std::size_t from = 0) {
    std::size_t next = 0;
    for (std::size_t i = from; i < lines.size() && next < expected.size(); ++i) next += lines[i] == expected[next];
    return next == expected.size();
}

inline bool is_flight_data(const std::string& text) {           // one object of 25 members with an integer timestamp
    auto object = nlohmann::json::parse(text, nullptr, false);  // not const: a missing member reads as null
    return object.is_object() && object.size() == 25 && object["timestamp"].is_number_integer();
}

// Empty when each line is flight data, timestamps never go back and (unless
// `may_be_torn`) the last line is whole; else what is wrong.
inline std::string recording_problem(const std::filesystem::path& path, bool may_be_torn = false) {
    const std::string content = read_file(path);
    if (!may_be_torn && !content.empty() && !content.ends_with("\n")) return path.string() + ": a torn last line";
    std::int64_t last = 0;
    for (std::size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = content.substr(start, end - start);
        if (!is_flight_data(line)) return path.string() + ": not a flight-data object: " + line;
        const auto timestamp = nlohmann::json::parse(line)["timestamp"].get<std::int64_t>();
        if (timestamp < last) return path.string() + ": the timestamp goes back at " + line;
        last = timestamp;
    }
    return {};
}

// Empty when python3's jsonschema accepts every line of `documents` (one
// JSON text a line) against the schema file `schema`, reading as a server
// would: strict UTF-8, no NaN. Else what it refused.
inline std::string schema_problems(const std::string& schema, const std::filesystem::path& documents) {
    Process validator({"/usr/bin/python3", "-c", R"(
import json, sys, jsonschema
def refuse(name): raise ValueError("not JSON: " + name)
schema = json.load(open(sys.argv[1]))
for line in open(sys.argv[2], "rb").read().decode("utf-8").split("\n"):
    if line: jsonschema.validate(json.loads(line, parse_constant=refuse), schema)
)",
                       schema, documents.string()});
    const auto status = validator.wait(60s);
    return status == 0 ? "" : documents.string() + ": " + validator.error_output();
}

inline bool have_jsonschema() { return Process({"/usr/bin/python3", "-c", "import jsonschema"}).wait(30s) == 0; }

struct BridgeOptions {
    Lines standin_arguments = {};   // e.g. {"--rate", "500"}
    Lines wrapper = {};             // before the executable, e.g. prlimit and its options
    bool legacy = false;            // no folder argument: the data files go beside the recordings
    bool without_app_data = false;  // APPDATA, XDG_DATA_HOME and HOME unset
    bool fresh_home = false;        // APPDATA and XDG_DATA_HOME unset, HOME a folder with nothing in it
    int output_fd = -1;             // the bridge's standard output, not collected (see ProcessOptions)
};

// A stand-in, and a bridge in a scratch folder with APPDATA <scratch>/appdata.
struct BridgeRun {
    explicit BridgeRun(BridgeOptions options_ = {}) : options(std::move(options_)), standin(options.standin_arguments) {
        std::filesystem::create_directories(scratch.path() / (options.fresh_home ? "home" : "appdata"));
    }

    Process& start(std::optional<Lines> arguments = std::nullopt) {  // those after --file-mode
        if (!arguments) arguments = options.legacy ? Lines{} : Lines{data_folder().string()};
        Lines argv = options.wrapper;
        argv.insert(argv.end(), {bin_path("velmar-tracker"), "--file-mode"});
        argv.insert(argv.end(), arguments->begin(), arguments->end());
        ProcessOptions process;
        process.output_fd = options.output_fd;
        process.environment = standin.client_environment();
        if (!options.without_app_data) process.environment["APPDATA"] = (scratch.path() / "appdata").string();
        if (options.without_app_data) process.unset_environment = {"APPDATA", "XDG_DATA_HOME", "HOME"};
        if (options.fresh_home) {
            process.environment.erase("APPDATA");
            process.environment["HOME"] = (scratch.path() / "home").string();
            process.unset_environment = {"APPDATA", "XDG_DATA_HOME"};
        }
        const auto existing = recordings();
        earlier.insert(existing.begin(), existing.end());
        return bridge.emplace(argv, process);
    }
    bool start_connected() { return start().wait_for_line(kStartedLine, 20s); }

    // Writes `word` into the command file as a server does; waits until the
    // bridge has emptied it and, unless `line` is empty, printed `line` once more.
    bool command(const std::string& word, const std::string& line = {}) {
        const std::size_t seen = line.empty() ? 0 : bridge->count_lines(line);
        write_file(command_file(), word);
        const bool emptied = eventually([&] {
            std::error_code error;
            return std::filesystem::file_size(command_file(), error) == 0 && !error;
        });
        return emptied && (line.empty() || bridge->wait_for_line_count(line, seen + 1, 15s));
    }

    bool interrupt_cleanly(int signal_number = SIGINT) {  // "Shutting down..." and exit status 0
        bridge->send_signal(signal_number);
        return bridge->wait(30s) == 0 && bridge->count_lines("Shutting down...") == 1;
    }

    // Waits until the status file is {"connected":C,"test_active":T,"last_update":<seconds>}.
    bool status_becomes(bool connected, bool test_active) const {
        const std::regex form(std::string(R"(\{"connected":)") + (connected ? "true" : "false") + R"(,"test_active":)" +
                              (test_active ? "true" : "false") + R"(,"last_update":\d+\})");
        return eventually([&] { return std::regex_match(read_file(status_file()), form); });
    }

    // bridge_state.json parsed; null while missing (it is replaced whole, never torn).
    nlohmann::json state() const { return nlohmann::json::parse(read_file(state_file()), nullptr, false, true); }
    // Waits until the state file satisfies `holds`.
    template <typename Predicate>
    bool state_becomes(Predicate holds, std::chrono::milliseconds timeout = 30s) const {
        return eventually(
            [&] {
                const nlohmann::json now = state();
                return now.is_object() && holds(now);
            },
            timeout);
    }
    // Waits until the state's last command is number `seq`, `word`, with `result`.
    bool command_result_is(std::uint64_t seq, const std::string& word, const std::string& result) const {
        return state_becomes([&](const nlohmann::json& now) {
            const auto& command = now["last_command"];
            return command.is_object() && command["seq"] == seq && command["word"] == word &&
                   command["result"] == result &&
                   (command["hresult"].is_null() && command["exception"].is_null()) == (result != "failed");
        });
    }

    std::vector<std::filesystem::path> recordings() const {  // of this run, oldest first
        std::vector<std::filesystem::path> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(recording_folder(), error)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("flight_data_") && !earlier.contains(entry.path())) found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    std::size_t recorded_lines() const {  // of the newest recording
        const auto files = recordings();
        return files.empty() ? 0 : split_lines(read_file(files.back())).size();
    }

    std::filesystem::path recording_folder() const {
        return options.fresh_home ? scratch.path() / "home" / ".local" / "share" / "Velmar"
                                  : scratch.path() / "appdata" / "Velmar";
    }
    std::filesystem::path data_folder() const { return options.legacy ? recording_folder() : scratch.path() / "data"; }
    std::filesystem::path data_file() const { return data_folder() / "current_flight_data.json"; }
    std::filesystem::path status_file() const { return data_folder() / "simconnect_status.json"; }
    std::filesystem::path command_file() const { return data_folder() / "python_commands.txt"; }
    std::filesystem::path state_file() const { return data_folder() / "bridge_state.json"; }

    BridgeOptions options;
    ScratchDir scratch;
    Standin standin;
    std::optional<Process> bridge;
    std::set<std::filesystem::path> earlier;  // recordings there before the start
};

}  // namespace velmar::test
