#include "bridge/file_bridge.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "aircraft/aircraft_identity.h"
#include "bridge/app_folder.h"
#include "bridge/command_file.h"
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

constexpr auto kCommandPollInterval = 100ms;
constexpr auto kDispatchInterval = 50ms;
// How long the exit waits for the simulator thread once the connection is
// closed; a thread still blocked then (an Open to a silent server) is left
// to the process's end.
constexpr auto kSimulatorThreadBound = 500ms;
// Set (to anything) in the environment: the command folder is not watched.
constexpr const char* kNoFolderWatchVariable = "VELMAR_NO_FOLDER_WATCH";

constexpr std::string_view kClientName = "MSFS Velmar Tracker";
constexpr std::string_view kDataFileName = "current_flight_data.json";
constexpr std::string_view kCommandFileName = "python_commands.txt";
constexpr std::string_view kStatusFileName = "simconnect_status.json";
constexpr std::string_view kStateFileName = "bridge_state.json";
constexpr std::string_view kRecordingPrefix = "flight_data_";
constexpr std::string_view kRecordingExtension = ".json";
constexpr const char* kRecordingTimePattern = "%Y%m%d_%H%M%S";

// Tried in turn when a recording name is taken: <name>_2, <name>_3, ...
constexpr int kMaxRecordingSuffix = 10000;

std::int64_t monotonic_now_nanoseconds() { return monotonic_nanoseconds(std::chrono::steady_clock::now()); }

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

void FileBridge::run() {
    print_line("Starting MSFS Velmar Tracker (File-based Bridge)...");
    print_line("Data files location: " + data_file_path_);
    print_line("");

    publish_state();
    simulator_.post([this] { first_connect(); });
    // Meanwhile the heartbeat goes on and a stop ends the wait.
    while (first_connect_ == kPending && !stop_is_requested()) {
        sleep_for(kCommandPollInterval);
        publish_state();
    }
    if (first_connect_ == kFailed) {
        if (!options_.reconnect) {
            publish_state();
            return;
        }
        wait_for_simulator();
    }
    {
        // A stop requested while connecting holds: the loops never start.
        std::lock_guard lock(stop_mutex_);
        running_ = !stop_requested_;
    }

    std::thread dispatcher(&FileBridge::dispatch_loop, this);
    try {
        command_loop();
    } catch (...) {
        request_stop();
        dispatcher.join();
        throw;
    }
    dispatcher.join();
}

void FileBridge::first_connect() {
    const bool connected = simconnect_.connect(std::string(kClientName), SimConnectManager::OpenFailure::report,
                                               record_wakeup_.library_handle());
    if (connected) {
        announce_session();
    } else {
        print_line("[CUSTOM ERROR] Failed to connect to SimConnect");
        print_line("Make sure Microsoft Flight Simulator is running.");
        if (options_.reconnect) {
            write_status_file(false);
        }
    }
    first_connect_ = connected ? kConnected : kFailed;
}

bool FileBridge::stop_is_requested() {
    std::lock_guard lock(stop_mutex_);
    return stop_requested_;
}

void FileBridge::announce_session() {
    print_line("[OK] SimConnect connection established");
    print_line("[OK] File-based bridge ready for Python server");
    simconnect_.start_data_collection();
    print_line("[OK] Auto-started data collection for monitoring");
}

void FileBridge::wait_for_simulator() {
    const auto interval = options_.reconnect_interval;
    const std::string every = interval.count() % 1000 == 0 ? std::to_string(interval.count() / 1000) + " seconds"
                                                           : std::to_string(interval.count()) + " ms";
    print_line("[BRIDGE] Waiting for MSFS - trying to connect every " + every);
    next_connect_attempt_ = std::chrono::steady_clock::now() + interval;
}

void FileBridge::reconnect_when_due() {
    const auto now = std::chrono::steady_clock::now();
    if (!options_.reconnect || connect_pending_ || simconnect_.is_connected() || now < next_connect_attempt_) {
        return;
    }
    next_connect_attempt_ = now + options_.reconnect_interval;
    connect_pending_ = true;
    simulator_.post([this] {
        reconnect();
        connect_pending_ = false;
    });
}

void FileBridge::reconnect() {
    // Quiet: the failure was reported once, when the waiting began.
    if (!simconnect_.connect(std::string(kClientName), SimConnectManager::OpenFailure::quiet,
                             record_wakeup_.library_handle())) {
        return;
    }
    {
        // A new connection lets the dispatch drain again; a stop requested
        // meanwhile must still cut it short.
        std::lock_guard lock(stop_mutex_);
        if (stop_requested_) {
            simconnect_.interrupt_dispatch();
            return;
        }
    }
    announce_session();
}

void FileBridge::request_stop() {
    {
        std::lock_guard lock(stop_mutex_);
        stop_requested_ = true;
        running_ = false;
    }
    simconnect_.interrupt_dispatch();
    record_wakeup_.set();
    command_wakeup_.set();
}

void FileBridge::sleep_for(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    // Checked against the clock: never shorter than asked, unless stopped.
    for (auto now = std::chrono::steady_clock::now(); !stop_is_requested() && now < deadline;
         now = std::chrono::steady_clock::now()) {
        command_wakeup_.wait(std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
    }
}

void FileBridge::wait_for_commands(platform::FolderWatch& watch, std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    // Quiet when empty: the bridge's own emptying of the file wakes it too.
    while (running_ && watch.wait_until(command_wakeup_, deadline) == platform::FolderWatch::Woken::file_changed) {
        // As at a poll: a command after the simulator's quit finds its session closed.
        close_session_after_quit();
        poll_command_file(EmptyCommandFile::quiet);
    }
}

void FileBridge::watch_command_folder(platform::FolderWatch& watch) {
    const std::string folder = command_file_path_.substr(0, command_file_path_.size() - kCommandFileName.size());
    // A seam for tests: a system without watches, wherever they run.
    const std::string failure = platform::read_environment(kNoFolderWatchVariable)
                                    ? std::string(kNoFolderWatchVariable) + " is set"
                                    : watch.start(folder, std::string(kCommandFileName));
    if (!failure.empty()) {
        print_error_line("[BRIDGE] Cannot watch " + folder + " for commands (" + failure +
                         "): reading the command file every " + std::to_string(kCommandPollInterval.count()) + " ms");
    }
}

void FileBridge::dispatch_loop() {
    while (running_) {
        try {
            simconnect_.dispatch_messages();
        } catch (const std::exception& error) {
            // Nothing else catches on this thread; one failed pass must not end the process.
            print_error_line(std::string("[CUSTOM ERROR] ") + error.what());
        }
        // Set by the library per record; the interval bounds the wait where it is not.
        record_wakeup_.wait(kDispatchInterval);
    }
}

void FileBridge::command_loop() {
    platform::FolderWatch watch;
    watch_command_folder(watch);
    while (running_) {
        close_session_after_quit();
        watch_liveness();
        reconnect_when_due();
        files_.retry_pending();
        poll_command_file();
        publish_state();
        wait_for_commands(watch, kCommandPollInterval);
    }
}

void FileBridge::watch_liveness() {
    if (simconnect_.check_liveness()) {
        simulator_.post([this] { simconnect_.ask_if_alive(); });
    }
}

void FileBridge::close_session_after_quit() {
    if (!simconnect_.link_lost() || !simconnect_.is_connected()) {
        return;
    }
    if (!options_.reconnect) {
        simconnect_.disconnect();
        return;
    }
    // Before the disconnect, so the status file is rewritten once, whole.
    end_test_of_closed_session();
    simconnect_.disconnect();
    wait_for_simulator();
}

void FileBridge::end_test_of_closed_session() {
    {
        std::lock_guard lock(test_mutex_);
        if (!test_active_) {
            return;
        }
        test_active_ = false;
        recording_.close();
    }
    print_line("[CUSTOM ERROR] Test stopped - connection to MSFS ended; data saved to AppData/Velmar/");
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

void FileBridge::write_flight_data(const FlightData& sample) {
    // The test state is read once, so a sample's timestamp and the recording
    // it goes to belong to the same test. The lock is not held while the data
    // file is written: a busy stream of samples must not starve the commands.
    std::int64_t test_start = 0;
    bool test_active = false;
    {
        std::lock_guard lock(test_mutex_);
        test_active = test_active_;
        test_start = test_start_;
    }
    const std::int64_t timestamp_ms =
        test_active ? elapsed_milliseconds(monotonic_nanoseconds(sample.timestamp), test_start) : 0;
    format_flight_json(last_json_, sample, timestamp_ms);
    write_data_file();
    if (!test_active) {
        sample_counters_.count(false);
        return;
    }
    std::string report;
    {
        std::lock_guard lock(test_mutex_);
        // A test stopped or started meanwhile: this sample is not part of it.
        const bool in_test = test_active_ && test_start_ == test_start;
        // Under the lock, so that a new test's count never takes an old test's sample.
        sample_counters_.count(in_test);
        if (!in_test || !recording_.is_open()) {
            return;
        }
        last_json_.append(platform::kLineEnd);
        const std::error_code error = recording_.append(last_json_);
        last_json_.resize(last_json_.size() - platform::kLineEnd.size());
        // One report per run of failures; each later sample tries again, so
        // the recording goes on once there is room.
        if (error && !std::exchange(recording_failing_, true)) {
            report = "[CUSTOM ERROR] Failed to append to recording " + recording_path_ + ": " + error.message() +
                     " (the line was cut back; later samples are appended once there is room)";
        } else if (!error) {
            recording_failing_ = false;
            ++last_recording_->lines;  // open, so there is one
        }
    }
    if (!report.empty()) {
        print_error_line(report);
    }
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

bool FileBridge::open_recording() {
    recording_.close();
    recording_path_.clear();
    recording_failing_ = false;
    const auto app_data = platform::app_data_folder();
    if (!app_data) {
        return true;  // no app-data folder: tests run unrecorded, as documented
    }
    const std::string folder = platform::join_path(*app_data, kAppFolderName);
    platform::create_directories(folder);  // a missing one shows as the recording's failure
    std::string base = platform::join_path(folder, kRecordingPrefix);
    base += platform::format_local_time(platform::wall_clock_seconds(), kRecordingTimePattern);
    // Created exclusively: another bridge sharing the folder may take a name
    // between any look and the open, and a recording is never overwritten.
    std::error_code error;
    for (int suffix = 1; suffix <= kMaxRecordingSuffix; ++suffix) {
        std::string path = base;
        if (suffix > 1) {
            path += "_" + std::to_string(suffix);
        }
        path += kRecordingExtension;
        error = recording_.create_new(path);
        if (error != std::errc::file_exists) {
            if (!error) {
                last_recording_ = RecordingSummary{path, 0};
                recording_path_ = std::move(path);
                return true;
            }
            files_.note(path, error);
            return false;
        }
    }
    files_.note(base + "_N" + std::string(kRecordingExtension), error);
    return false;
}

bool FileBridge::start_test() {
    bool recording = false;
    {
        std::lock_guard lock(test_mutex_);
        recording = open_recording();  // a second start ends the current recording whole
        test_active_ = recording;
        test_start_ = monotonic_now_nanoseconds();
        sample_counters_.start_test();
    }
    if (!recording) {
        // Nothing could be recorded: no test runs, and the status says so.
        write_status_file(simconnect_.is_connected());
        return false;
    }
    const bool collecting = simconnect_.start_data_collection();
    write_status_file(simconnect_.is_connected());
    print_line("[OK] Test started - Data collection active");
    return collecting;
}

void FileBridge::stop_test() {
    {
        std::lock_guard lock(test_mutex_);
        test_active_ = false;
    }
    simconnect_.stop_data_collection();
    {
        std::lock_guard lock(test_mutex_);
        recording_.close();
    }
    write_status_file(simconnect_.is_connected());
    print_line("[OK] Test stopped - Data saved to AppData/Velmar/");
}

void FileBridge::poll_command_file(EmptyCommandFile empty) {
    // Bytes as they are, so CR LF is handled alike everywhere; a pipe or
    // device in the file's place is never waited on.
    char head[kCommandReadBytes];
    std::size_t size = 0;
    if (const std::error_code error = platform::read_head(command_file_path_, head, sizeof head, size)) {
        if (error == std::errc::no_such_file_or_directory) {
            command_file_problem_.clear();
        } else {
            report_command_file_problem("[CUSTOM ERROR] Cannot read the command file " + command_file_path_ + ": " +
                                        error.message());
        }
        return;
    }
    const std::string line = first_command_line(std::string_view(head, size));
    if (line.empty()) {
        command_file_problem_.clear();
        if (empty == EmptyCommandFile::report) {
            print_line("[DEBUG] Command file empty");
        }
        return;
    }
    if (!take_command(line)) {
        return;
    }
    print_line("[DEBUG] Processing command: '" + printable_command(line) + "'");
    simulator_.post([this, line] { process_command(line); });
}

bool FileBridge::take_command(const std::string& line) {
    // Emptied before it runs: a command left in a file that cannot be emptied
    // would otherwise run again at every poll.
    const std::error_code error = platform::empty_file(command_file_path_);
    if (!error) {
        command_file_problem_.clear();
        return true;
    }
    report_command_file_problem("[CUSTOM ERROR] Cannot empty the command file " + command_file_path_ + " (" +
                                error.message() + "): '" + printable_command(line) +
                                "' is not carried out until the bridge can empty it");
    return false;
}

void FileBridge::report_command_file_problem(std::string report) {
    if (report != command_file_problem_) {
        print_error_line(report);
        command_file_problem_ = std::move(report);
    }
}

void FileBridge::process_command(const std::string& line) {
    struct Command {
        std::string_view word;
        std::string_view confirmation;  // printed before the action; empty: none
        bool (*action)(FileBridge&);    // false: not carried out (each reports its own failures)
    };
    static constexpr Command kCommands[] = {
        {"START_TEST", "", [](FileBridge& bridge) { return bridge.start_test(); }},
        {"STOP_TEST", "",
         [](FileBridge& bridge) {
             bridge.stop_test();
             return true;  // the test ends with or without a simulator
         }},
        {"PAUSE_REGULAR", "[OK] Executing regular pause",
         [](FileBridge& bridge) { return bridge.simconnect_.trigger_regular_pause(); }},
        {"UNPAUSE", "[OK] Executing unpause", [](FileBridge& bridge) { return bridge.simconnect_.force_unpause(); }},
        {"PAUSE_ACTIVE", "[OK] Executing active pause",
         [](FileBridge& bridge) { return bridge.simconnect_.trigger_active_pause(); }},
        {"PAUSE_SIM", "[OK] Executing sim pause",
         [](FileBridge& bridge) { return bridge.simconnect_.trigger_sim_pause(); }},
        {"SET_STANDARD_FUEL", "[OK] Setting standard fuel load (5T)",
         [](FileBridge& bridge) { return bridge.simconnect_.set_standard_fuel_load(); }},
        {"POSITION_RTT", "[OK] Positioning aircraft at RTT Rattenberg",
         [](FileBridge& bridge) { return bridge.simconnect_.position_at_rattenberg(); }},
    };
    command_results_.begin(++commands_taken_, line);
    for (const Command& command : kCommands) {
        if (line == command.word) {
            if (!command.confirmation.empty()) {
                print_line(command.confirmation);
            }
            simconnect_.track_sends([this](DWORD send_id) { command_results_.sent(send_id); });
            const bool carried_out = command.action(*this);
            simconnect_.track_sends({});
            const CommandResult result = carried_out                   ? CommandResult::done
                                         : !simconnect_.is_connected() ? CommandResult::not_connected
                                                                       : CommandResult::failed;
            command_results_.finish(result, result == CommandResult::failed ? simconnect_.refused_result() : 0);
            return;
        }
    }
    print_line("[DEBUG] Unknown command: " + printable_command(line));
    command_results_.finish(CommandResult::unknown, 0);
}

}  // namespace velmar
