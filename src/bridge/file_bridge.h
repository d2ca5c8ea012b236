#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/bridge_state.h"
#include "platform/filesystem.h"
#include "platform/folder_watch.h"
#include "platform/wakeup.h"
#include "simconnect/simconnect_manager.h"

namespace velmar {

// How often a bridge that reconnects tries to reach the simulator.
inline constexpr std::chrono::milliseconds kReconnectInterval{5000};

struct BridgeOptions {
    // The data and status files replaced whole (temporary file, rename)
    // instead of rewritten in place.
    bool atomic_files = false;
    // Wait for the simulator at start and after it quits, trying every
    // reconnect_interval.
    bool reconnect = false;
    std::chrono::milliseconds reconnect_interval = kReconnectInterval;
};

// The bridge-mode object: publishes samples and status as JSON files, records
// tests and carries out the commands of the command file.
class FileBridge {
public:
    explicit FileBridge(BridgeOptions options = {});
    ~FileBridge();
    FileBridge(const FileBridge&) = delete;
    FileBridge& operator=(const FileBridge&) = delete;

    void setup_data_folder(const std::string& portable_directory);
    void install_callbacks();
    // Connects and runs both loops until request_stop; returns at once when
    // the connection fails, unless it reconnects.
    void run();
    // Ends both loops promptly; safe from any thread.
    void request_stop();

    void write_flight_data(const FlightData& sample);
    void write_data_file();
    void write_status_file(bool connected);

    // False when data collection could not be requested.
    bool start_test();
    void stop_test();

    // Reads and carries out the command file; an empty one is reported
    // unless `empty` is quiet.
    enum class EmptyCommandFile { report, quiet };
    void poll_command_file(EmptyCommandFile empty = EmptyCommandFile::report);
    void process_command(const std::string& line);

    const std::string& data_file_path() const;
    const std::string& command_file_path() const;
    const std::string& status_file_path() const;
    const std::string& state_file_path() const;

private:
    // Takes the command off the file by emptying it; false (reported once per
    // situation) when the file cannot be emptied.
    bool take_command(const std::string& line);
    // Opens a new recording in the app-data folder under test_mutex_; the
    // reason when there is none.
    std::string open_recording();
    void dispatch_loop();
    void command_loop();
    // Blocks until the next poll is due, taking each command written
    // meanwhile at once; only a stop request ends it early.
    void wait_for_commands(platform::FolderWatch& watch, std::chrono::milliseconds duration);
    // The command file's folder watched, or why it is not: said once.
    void watch_command_folder(platform::FolderWatch& watch);
    // Closes a session the simulator has quit, as disconnect does.
    void close_session_after_quit();
    // After a successful connect: the lines that say so, and data collection.
    void announce_session();
    // Reconnecting only: says that the bridge waits, and when it tries next.
    void wait_for_simulator();
    void reconnect_when_due();
    // Reconnecting only: a test does not outlive its simulator.
    void end_test_of_closed_session();
    BridgeState current_state();
    // Writes bridge_state.json when something changed or a heartbeat is due.
    void publish_state();
    void write_exchange_file(const std::string& path, std::string_view text) const;

    // Declared before simconnect_, so the library's wake outlives every connection that sets it.
    platform::Wakeup record_wakeup_;   // set per record by the library and by request_stop; the dispatch thread waits
    platform::Wakeup command_wakeup_;  // set by request_stop; the main thread waits
    SimConnectManager simconnect_;
    std::atomic<bool> running_{false};
    std::string last_json_;       // dispatch thread only
    std::string data_file_path_;  // set before any thread starts, read-only after
    std::string command_file_path_;
    std::string status_file_path_;
    std::string state_file_path_;
    const BridgeOptions options_;
    bool test_active_ = false;        // guarded by test_mutex_
    std::int64_t test_start_ = 0;     // monotonic nanoseconds; guarded by test_mutex_
    platform::AppendFile recording_;  // guarded by test_mutex_
    std::string recording_path_;      // guarded by test_mutex_
    bool recording_failing_ = false;  // an append failed and none succeeded since; guarded by test_mutex_
    std::string untaken_command_;     // main thread only: the last reported command file that could not be emptied
    SampleCounters sample_counters_;  // counted on the dispatch thread, read on the main thread
    BridgeStateFile state_file_;      // main thread only

    std::mutex test_mutex_;  // guards test_active_, test_start_, recording_, recording_path_, recording_failing_
    std::mutex stop_mutex_;  // guards stop_requested_ and the setting of running_
    bool stop_requested_ = false;

    std::chrono::steady_clock::time_point next_connect_attempt_;  // main thread only
};

}  // namespace velmar
