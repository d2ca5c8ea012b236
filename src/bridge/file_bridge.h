// FileBridge, the bridge-mode object; its members live in the file_bridge*.cpp files.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/bridge_state.h"
#include "bridge/command_results.h"
#include "bridge/exchange_files.h"
#include "bridge/simulator_thread.h"
#include "platform/filesystem.h"
#include "platform/folder_lock.h"
#include "platform/folder_watch.h"
#include "platform/wakeup.h"
#include "simconnect/simconnect_manager.h"

namespace velmar {

// The command file's name in the data folder.
inline constexpr std::string_view kCommandFileName = "python_commands.txt";

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
//
// Threads: the main thread (run) polls the command file, publishes the state,
// watches the link and ends the session; the simulator thread connects and
// carries out the commands in the order taken; the dispatch thread handles
// what the simulator sends. Nothing on the main thread waits on the simulator.
class FileBridge {
public:
    explicit FileBridge(BridgeOptions options = {});
    ~FileBridge();
    FileBridge(const FileBridge&) = delete;
    FileBridge& operator=(const FileBridge&) = delete;

    // False, after one line that says why, when the data folder cannot be
    // made or another bridge holds it: the bridge then ends before it
    // connects, touching none of the folder's files.
    bool setup_data_folder(const std::string& portable_directory);
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

    // Reads the command file and hands a taken command to the simulator
    // thread; an empty one is reported unless `empty` is quiet.
    enum class EmptyCommandFile { report, quiet };
    void poll_command_file(EmptyCommandFile empty = EmptyCommandFile::report);
    // Carries out a taken command (simulator thread; tests: their own).
    void process_command(const std::string& line);

    const std::string& data_file_path() const;
    const std::string& command_file_path() const;

private:
    // Takes the command off the file by emptying it; false (reported once per
    // situation) when the file cannot be emptied.
    bool take_command(const std::string& line);
    // Opens a new recording in the app-data folder under test_mutex_; false,
    // reported, when it cannot be created (true without an app-data folder:
    // tests then run unrecorded).
    bool open_recording();
    void dispatch_loop();
    void command_loop();
    // Blocks for `duration` on the monotonic clock; only a stop request ends it early.
    void sleep_for(std::chrono::milliseconds duration);
    // Blocks until the next poll is due, taking each command written
    // meanwhile at once; only a stop request ends it early.
    void wait_for_commands(platform::FolderWatch& watch, std::chrono::milliseconds duration);
    // The command file's folder watched, or why it is not: said once.
    void watch_command_folder(platform::FolderWatch& watch);
    // Closes a session whose link is gone (quit, failure, silence), as disconnect does.
    void close_session_after_quit();
    // Owner's poll: asks a quiet simulator whether it is still there.
    void watch_liveness();
    // Simulator thread: the first attempt to connect, and each retry.
    void first_connect();
    void reconnect();
    bool stop_is_requested();
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
    void write_exchange_file(const std::string& path, std::string_view text);
    // Takes the data folder for this bridge alone; false, said, when another holds it.
    bool lock_data_folder(const std::string& folder);
    // Once per situation: a command file that cannot be read or emptied.
    void report_command_file_problem(std::string report);

    // Declared before simconnect_, so the library's wake outlives every connection that sets it.
    platform::Wakeup record_wakeup_;   // set per record by the library and by request_stop; the dispatch thread waits
    platform::Wakeup command_wakeup_;  // set by request_stop; the main thread waits
    SimConnectManager simconnect_;
    std::atomic<bool> running_{false};
    std::string last_json_;             // dispatch thread only
    platform::FolderLock folder_lock_;  // held for the bridge's life; main thread only
    std::string data_file_path_;        // set before any thread starts, read-only after
    std::string command_file_path_;
    std::string status_file_path_;
    const BridgeOptions options_;
    bool test_active_ = false;        // guarded by test_mutex_
    std::int64_t test_start_ = 0;     // monotonic nanoseconds; guarded by test_mutex_
    platform::AppendFile recording_;  // guarded by test_mutex_
    std::string recording_path_;      // guarded by test_mutex_
    bool recording_failing_ = false;  // an append failed and none succeeded since; guarded by test_mutex_
    std::optional<RecordingSummary> last_recording_;  // guarded by test_mutex_
    // Main thread only: the last reported command file that could not be read or emptied.
    std::string command_file_problem_;
    ExchangeFiles files_;               // thread-safe itself
    SampleCounters sample_counters_;    // counted on the dispatch thread, read on the main thread
    BridgeStateFile state_file_;        // main thread only
    CommandResults command_results_;    // thread-safe on its own
    std::uint64_t commands_taken_ = 0;  // simulator thread only (the commands run there in taken order)
    std::mutex status_file_mutex_;      // serialises writes of the status file (any thread writes it)
    // The first connect's outcome, set once by the simulator thread.
    enum FirstConnect : int { kPending, kConnected, kFailed };
    std::atomic<int> first_connect_{kPending};
    std::atomic<bool> connect_pending_{false};  // a reconnect is queued or running

    std::mutex test_mutex_;  // guards test_active_, test_start_, recording_, recording_path_, recording_failing_,
                             // last_recording_
    std::mutex stop_mutex_;  // guards stop_requested_ and the setting of running_
    bool stop_requested_ = false;

    std::chrono::steady_clock::time_point next_connect_attempt_;  // main thread only

    // Last, so that it ends first: its jobs use everything above.
    SimulatorThread simulator_;
};

}  // namespace velmar
