// bridge_state.json: what it tells a server, and when it is written.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/exchange_files.h"

namespace velmar {

// How a command from the command file ended: `sent` while the simulator may
// still refuse it, `done` once it has not.
enum class CommandResult { done, unknown, failed, not_connected, sent };

struct LastCommand {
    std::uint64_t seq = 0;  // commands taken since start, this one included
    std::string word;       // the first line as read
    CommandResult result = CommandResult::done;
    std::int32_t hresult = 0;                // the refused call's, when failed
    std::int64_t at = 0;                     // wall-clock seconds
    std::optional<std::uint32_t> exception;  // the simulator's refusal, when failed by one
};

// The most recent recording: its full path and the lines appended to it.
struct RecordingSummary {
    std::string path;
    std::uint64_t lines = 0;
};

// What bridge_state.json tells a server.
struct BridgeState {
    std::int64_t pid = 0;
    std::int64_t started_at = 0;  // wall-clock seconds
    std::int64_t alive_at = 0;
    bool connected = false;
    std::optional<bool> sim_paused;
    std::optional<std::uint32_t> pause_modes;  // the simulator's pause bits
    bool test_active = false;
    std::optional<std::string> recording;            // full path of the open recording
    std::optional<RecordingSummary> last_recording;  // kept after the test ends
    std::uint64_t samples = 0;
    std::uint64_t test_samples = 0;
    std::string aircraft_title;
    std::string aircraft_type;
    std::optional<LastCommand> last_command;
    std::uint64_t write_errors = 0;  // failed writes since start
    std::optional<WriteError> last_error;
};

// One line of JSON, members in the order of the fields above.
std::string bridge_state_json(const BridgeState& state);

// Samples counted on the sample path. One thread counts, so each count is a
// plain load and store (no locked instruction); any thread may read.
class SampleCounters {
public:
    // The sample path only.
    void count(bool in_test) {
        bump(samples_);
        if (in_test) {
            bump(test_samples_);
        }
    }
    // Serialised with count(true) by the owner's lock.
    void start_test() { test_base_.store(test_samples_.load(std::memory_order_relaxed), std::memory_order_relaxed); }
    std::uint64_t samples() const { return samples_.load(std::memory_order_relaxed); }
    // Samples counted in a test since start_test.
    std::uint64_t test_samples() const {
        return test_samples_.load(std::memory_order_relaxed) - test_base_.load(std::memory_order_relaxed);
    }

private:
    static void bump(std::atomic<std::uint64_t>& counter) {
        counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    std::atomic<std::uint64_t> samples_{0};
    std::atomic<std::uint64_t> test_samples_{0};  // in any test, never reset
    std::atomic<std::uint64_t> test_base_{0};     // set by start_test (simulator thread), read by the main thread
};

// Keeps bridge_state.json and the state only it needs (start).
// One thread (the bridge's main thread) uses it.
class BridgeStateFile {
public:
    static constexpr auto kHeartbeat = std::chrono::seconds(1);

    BridgeStateFile();
    // Written through `files`, which also counts the failed writes it shows.
    void set_path(std::string path, ExchangeFiles& files);

    // Fills in what this object keeps (pid, start, alive_at, the write
    // errors) and writes the file when anything but the counters differs from
    // the last write, or when a heartbeat has passed since it.
    void publish(BridgeState state);

private:
    std::string path_;
    ExchangeFiles* files_ = nullptr;
    std::int64_t pid_;
    std::int64_t started_at_;
    std::string last_written_key_;  // the last write's JSON without alive_at and counters
    std::chrono::steady_clock::time_point last_write_{};
    bool written_ = false;
};

}  // namespace velmar
