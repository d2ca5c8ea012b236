// FileBridge's threads: the first connect, reconnecting, the command loop and the dispatch loop, and stopping them.
#include <exception>
#include <string>
#include <thread>

#include "bridge/file_bridge.h"
#include "platform/console.h"
#include "platform/environment.h"

namespace velmar {

namespace {

using namespace std::chrono_literals;
using platform::print_error_line;
using platform::print_line;

constexpr auto kCommandPollInterval = 100ms;
constexpr auto kDispatchInterval = 50ms;
// Set (to anything) in the environment: the command folder is not watched.
constexpr const char* kNoFolderWatchVariable = "VELMAR_NO_FOLDER_WATCH";

constexpr std::string_view kClientName = "MSFS Velmar Tracker";

}  // namespace

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

}  // namespace velmar
