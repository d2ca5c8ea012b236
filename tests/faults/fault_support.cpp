#include "faults/fault_support.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <thread>

namespace velmar::test {

namespace fs = std::filesystem;

const std::vector<CommandWord> kCommandWords = {
    {"START_TEST", {kTestStartedLine}, "SimConnect_RequestDataOnSimObject 2 0 0 2 1 0 0 0 -> 0"},
    {"PAUSE_REGULAR",
     {"[OK] Executing regular pause", "[DEBUG] Triggering regular pause (P key equivalent)",
      "[DEBUG] Pause event sent successfully"},
     "SimConnect_TransmitClientEvent 0 4 0 1 16 -> 0"},
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
    {"UNPAUSE",
     {"[OK] Executing unpause", "[DEBUG] Force unpause", "[DEBUG] Unpause event sent successfully"},
     "SimConnect_TransmitClientEvent 0 5 0 1 16 -> 0"},
    {"STOP_TEST", {kTestStoppedLine}, "SimConnect_RequestDataOnSimObject 2 0 0 0 0 0 0 0 -> 0"},
};

BridgeRun::BridgeRun(BridgeOptions options_) : options(std::move(options_)), standin(options.standin_arguments) {
    fs::create_directories(scratch.path() / "appdata");
}

Process& BridgeRun::start(std::optional<Lines> arguments) {
    if (!arguments) arguments = options.legacy ? Lines{} : Lines{data_folder().string()};
    Lines argv = options.wrapper;
    argv.insert(argv.end(), {bin_path("velmar-tracker"), "--file-mode"});
    argv.insert(argv.end(), arguments->begin(), arguments->end());
    ProcessOptions process_options;
    process_options.environment = standin.client_environment();
    if (options.without_app_data) {
        process_options.unset_environment = {"APPDATA", "XDG_DATA_HOME", "HOME"};
    } else {
        process_options.environment["APPDATA"] = (scratch.path() / "appdata").string();
    }
    return bridge.emplace(argv, process_options);
}

bool BridgeRun::start_connected() { return start().wait_for_line(kStartedLine, 20s); }

bool BridgeRun::command(const std::string& word, const std::string& line) {
    const std::size_t seen = line.empty() ? 0 : bridge->count_lines(line);
    write_file(command_file(), word);
    const bool emptied = eventually([&] {
        std::error_code error;
        return fs::file_size(command_file(), error) == 0 && !error;
    });
    return emptied && (line.empty() || bridge->wait_for_line_count(line, seen + 1, 15s));
}

bool BridgeRun::interrupt_cleanly(int signal_number) {
    bridge->send_signal(signal_number);
    return bridge->wait(30s) == 0 && bridge->count_lines("Shutting down...") == 1;
}

bool BridgeRun::status_becomes(bool connected, bool test_active) const {
    const std::string start = std::string(R"({"connected":)") + (connected ? "true" : "false") + R"(,"test_active":)" +
                              (test_active ? "true" : "false") + R"(,"last_update":)";
    return eventually([&] {
        const std::string text = read_file(status_file());
        return text.size() > start.size() + 1 && text.starts_with(start) && text.ends_with("}") &&
               text.find_first_not_of("0123456789", start.size()) == text.size() - 1;
    });
}

std::vector<fs::path> BridgeRun::recordings() const {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(recording_folder(), error)) {
        if (entry.path().filename().string().starts_with("flight_data_")) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::size_t BridgeRun::recorded_lines() const {
    const auto files = recordings();
    const std::string content = files.empty() ? "" : read_file(files.back());
    return static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n'));
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; !condition();) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

bool in_order(const Lines& lines, const Lines& expected, std::size_t from) {
    std::size_t next = 0;
    for (std::size_t i = from; i < lines.size() && next < expected.size(); ++i) next += lines[i] == expected[next];
    return next == expected.size();
}

std::string flight_data_problem(const std::string& text) {
    auto object = nlohmann::json::parse(text, nullptr, false);  // not const: a missing member reads as null
    if (!object.is_object() || object.size() != 25 || !object["timestamp"].is_number_integer()) {
        return "not a flight-data object: " + text;
    }
    return {};
}

std::string recording_problem(const fs::path& path, bool may_be_torn) {
    const std::string content = read_file(path);
    if (!may_be_torn && !content.empty() && !content.ends_with("\n")) return path.string() + ": a torn last line";
    std::int64_t last = 0;
    for (std::size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = content.substr(start, end - start);
        if (std::string problem = flight_data_problem(line); !problem.empty()) return path.string() + ": " + problem;
        const auto timestamp = nlohmann::json::parse(line)["timestamp"].get<std::int64_t>();
        if (timestamp < last) return path.string() + ": the timestamp goes back at " + line;
        last = timestamp;
    }
    return {};
}

}  // namespace velmar::test
