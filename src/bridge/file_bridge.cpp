// FileBridge's data folder and exchange files: setup, the folder lock, the data, status and state files.
#include "bridge/file_bridge.h"

#include <string>
#include <string_view>
#include <utility>

#include "aircraft/aircraft_identity.h"
#include "bridge/app_folder.h"
#include "bridge/diagnostic_file.h"
#include "bridge/flight_json.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/interrupt.h"

namespace velmar {

namespace {

using namespace std::chrono_literals;
using platform::print_error_line;
using platform::print_line;

// How long the exit waits for the simulator thread once the connection is
// closed; a thread still blocked then (an Open to a silent server) is left
// to the process's end.
constexpr auto kSimulatorThreadBound = 500ms;

constexpr std::string_view kDataFileName = "current_flight_data.json";
constexpr std::string_view kStatusFileName = "simconnect_status.json";
constexpr std::string_view kStateFileName = "bridge_state.json";

}  // namespace

FileBridge::FileBridge(BridgeOptions options) : options_(options) {}

FileBridge::~FileBridge() {
    // An orderly end closes the running test like STOP_TEST's close.
    bool test_was_active = false;
    {
        std::lock_guard lock(test_mutex_);
        recording_.close();
        test_was_active = std::exchange(test_active_, false);
    }
    // While the paths are still in place: the connection callback rewrites
    // the status file with "connected":false. The close also ends a call
    // blocked on a silent simulator.
    const bool session_open = simconnect_.is_connected();
    simconnect_.shut_down();
    const bool simulator_thread_ended = simulator_.finish_for(kSimulatorThreadBound);
    if (test_was_active && !session_open) {
        write_status_file(false);  // the session ended earlier: its last status still shows the test
    }
    publish_state();
    if (!simulator_thread_ended) {
        // The files are final; nothing may hold up the exit now.
        platform::drain_console(kSimulatorThreadBound);
        platform::exit_immediately(0);
    }
}

const std::string& FileBridge::data_file_path() const { return data_file_path_; }

const std::string& FileBridge::command_file_path() const { return command_file_path_; }

bool FileBridge::setup_data_folder(const std::string& portable_directory) {
    std::string folder;
    if (!portable_directory.empty()) {
        folder = portable_directory;
        print_line("[PORTABLE] Using portable temp directory: " + folder);
    } else if (const auto app_data = platform::app_data_folder()) {
        folder = platform::join_path(*app_data, kAppFolderName);
        print_line("[LEGACY] Using APPDATA directory: " + folder);
        platform::create_directories(folder);  // a fresh account has no ~/.local/share yet
    }
    // Without its folder the bridge could write nothing: it says so and ends.
    if (const std::error_code error = folder.empty() ? std::error_code() : platform::make_directory(folder)) {
        print_error_line("[CUSTOM ERROR] Cannot create the data folder " + folder + ": " + error.message());
        return false;
    }
    if (!folder.empty() && !lock_data_folder(folder)) {
        return false;
    }
    // In every mode: the aircraft is identified only once its diagnostic file
    // can be written there.
    if (const auto app_data = platform::app_data_folder(); app_data && !portable_directory.empty()) {
        platform::create_directories(platform::join_path(*app_data, kAppFolderName));
    }
    data_file_path_ = platform::join_path(folder, kDataFileName);
    command_file_path_ = platform::join_path(folder, kCommandFileName);
    status_file_path_ = platform::join_path(folder, kStatusFileName);
    // Without any folder the other files stand in the root directory, as they
    // always have; a file nobody asked for does not join them there.
    if (!folder.empty()) {
        state_file_.set_path(platform::join_path(folder, kStateFileName), files_);
    }
    print_line("[BRIDGE] Data file: " + data_file_path_);
    return true;
}

// A second bridge on the folder would split the server's commands with the first.
bool FileBridge::lock_data_folder(const std::string& folder) {
    switch (folder_lock_.lock(folder)) {
        case platform::FolderLock::Outcome::taken:
            return true;
        case platform::FolderLock::Outcome::held_elsewhere: {
            const std::int64_t holder = folder_lock_.holder_pid();
            print_error_line("[CUSTOM ERROR] The data folder " + folder + " is in use by " +
                             (holder != 0 ? "process " + std::to_string(holder) : std::string("another bridge")) +
                             ": one bridge per folder");
            return false;
        }
        case platform::FolderLock::Outcome::failed:
            // The folder is still usable: only a second bridge would go unnoticed.
            print_error_line("[CUSTOM ERROR] Cannot lock the data folder " + folder + ": " +
                             folder_lock_.error().message() + " (a second bridge there would not be noticed)");
            return true;
    }
    return true;
}

void FileBridge::install_callbacks() {
    simconnect_.set_sample_callback([this](const FlightData& sample) { write_flight_data(sample); });
    simconnect_.set_connection_callback([this](bool connected) {
        print_line(connected ? "[OK] Connected to MSFS" : "[CUSTOM ERROR] Disconnected from MSFS");
        write_status_file(connected);
    });
    simconnect_.set_error_callback([](const std::string& text) { print_error_line("[CUSTOM ERROR] " + text); });
    simconnect_.set_aircraft_state_callback(append_aircraft_diagnostic);
    simconnect_.set_exception_callback(
        [this](DWORD send_id, DWORD code) { command_results_.exception(send_id, code); });
}

BridgeState FileBridge::current_state() {
    BridgeState state;
    state.connected = simconnect_.is_connected();
    state.sim_paused = simconnect_.sim_paused();
    state.pause_modes = simconnect_.pause_modes();
    state.last_command = command_results_.latest(std::chrono::steady_clock::now());
    {
        std::lock_guard lock(test_mutex_);
        state.test_active = test_active_;
        if (recording_.is_open()) {
            state.recording = recording_path_;
        }
        state.last_recording = last_recording_;
    }
    state.samples = sample_counters_.samples();
    state.test_samples = sample_counters_.test_samples();
    AircraftIdentity identity = sample_identity(simconnect_.aircraft_name());
    state.aircraft_title = std::move(identity.title);
    state.aircraft_type = std::move(identity.type);
    return state;
}

void FileBridge::publish_state() { state_file_.publish(current_state()); }

void FileBridge::write_exchange_file(const std::string& path, std::string_view text) {
    files_.write(path, text, options_.atomic_files ? ExchangeFiles::Method::replace : ExchangeFiles::Method::in_place);
}

void FileBridge::write_data_file() {
    // In place unless asked otherwise: a reader watching the file sees every rewrite.
    write_exchange_file(data_file_path_, last_json_);
}

void FileBridge::write_status_file(bool connected) {
    bool test_active = false;
    {
        std::lock_guard lock(test_mutex_);
        test_active = test_active_;
    }
    std::lock_guard lock(status_file_mutex_);
    write_exchange_file(status_file_path_, status_json(connected, test_active, platform::wall_clock_seconds()));
}

}  // namespace velmar
