#include "faults/fault_support.h"

#include <signal.h>
#include <sys/mount.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

namespace velmar::test {

namespace fs = std::filesystem;

BridgeRun::BridgeRun(const Standin& standin, const fs::path& folder, std::vector<std::string> wrapper)
    : data_folder(folder / "data"), app_data(folder / "appdata") {
    fs::create_directories(app_data);
    ProcessOptions options;
    options.environment = standin.client_environment();
    options.environment["APPDATA"] = app_data.string();
    std::vector<std::string> argv = std::move(wrapper);
    argv.insert(argv.end(), {bin_path("velmar-tracker"), "--file-mode", data_folder.string()});
    process.emplace(argv, options);
}

bool BridgeRun::wait_started() {
    return process->wait_for_line("[OK] Auto-started data collection for monitoring", 15s);
}

bool BridgeRun::command(const std::string& word, const std::string& expected_line) {
    std::size_t seen = process->count_lines(expected_line);
    write_file(command_file(), word);
    bool printed = process->wait_for_line_count(expected_line, seen + 1, 10s);
    bool emptied = wait_until([&] {
        std::error_code error;
        return fs::file_size(command_file(), error) == 0 && !error;
    });
    return printed && emptied;
}

bool BridgeRun::interrupt_cleanly() {
    process->send_signal(SIGINT);
    std::optional<int> status = process->wait(20s);
    std::vector<std::string> lines = process->output_lines();
    return status == 0 && std::find(lines.begin(), lines.end(), "Shutting down...") != lines.end();
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<fs::path> recordings(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().filename().string().starts_with("flight_data_")) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::string> recording_lines(const fs::path& path, std::string* torn) {
    std::string content = read_file(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(content.substr(start, end - start));
    }
    if (torn != nullptr) *torn = content.substr(start);
    return lines;
}

std::string flight_data_problem(const std::string& text) {
    static constexpr std::array<const char*, 25> kKeys = {
        "timestamp",         "altitude",         "indicated_altitude", "altitude_above_ground", "airspeed_indicated",
        "airspeed_true",     "gps_ground_speed", "heading_magnetic",   "heading_true",          "vertical_speed",
        "elevator_position", "aileron_position", "rudder_position",    "throttle_position",     "fuel_quantity",
        "engine_rpm",        "autopilot_master", "autopilot_heading",  "autopilot_altitude",    "autopilot_speed",
        "is_paused",         "latitude",         "longitude",          "aircraft_title",        "aircraft_type"};
    nlohmann::ordered_json object;
    try {
        object = nlohmann::ordered_json::parse(text);
    } catch (const std::exception& error) {
        return std::string("not JSON: ") + error.what() + " in: " + text;
    }
    if (!object.is_object() || object.size() != kKeys.size()) return "not an object of 25 members: " + text;
    std::size_t i = 0;
    for (const auto& [key, value] : object.items()) {
        if (key != kKeys[i++]) return "member " + std::to_string(i) + " is " + key + ": " + text;
    }
    if (!object["timestamp"].is_number_integer()) return "timestamp is not an integer: " + text;
    return {};
}

std::string status_problem(const std::string& text) {
    nlohmann::ordered_json object;
    try {
        object = nlohmann::ordered_json::parse(text);
    } catch (const std::exception& error) {
        return std::string("not JSON: ") + error.what() + " in: " + text;
    }
    if (!object.is_object() || object.size() != 3 || !object["connected"].is_boolean() ||
        !object["test_active"].is_boolean() || !object["last_update"].is_number_integer()) {
        return "not a status object: " + text;
    }
    return {};
}

SmallTmpfs::SmallTmpfs(const fs::path& where, std::size_t bytes) : where_(where) {
    fs::create_directories(where_);
    std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
        mounted_ = true;
    } else {
        error_ = std::strerror(errno);
    }
}

SmallTmpfs::~SmallTmpfs() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
}

}  // namespace velmar::test
