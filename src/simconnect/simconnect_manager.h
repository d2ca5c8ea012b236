#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/simconnect_api.h"
#include "simconnect/flight_data.h"

namespace velmar {

struct PauseOperation;

// The program's one connection to the simulator. It reports to its owner only
// through the three callbacks, each of which may be empty.
//
// Threads: connect, disconnect, data collection and the control operations run
// on the owner's thread; dispatch_messages (and through it every callback but
// the connection callback) on the dispatch thread; the "AircraftLoaded"
// request on the manager's own aircraft-state thread. Every SimConnect call is
// made under api_mutex_, which is never held while a callback runs, so the
// owner may take its own lock in a callback and call back into the manager.
class SimConnectManager {
public:
    using SampleCallback = std::function<void(const FlightData&)>;
    using ConnectionCallback = std::function<void(bool)>;
    using ErrorCallback = std::function<void(const std::string&)>;

    SimConnectManager() = default;
    ~SimConnectManager();
    SimConnectManager(const SimConnectManager&) = delete;
    SimConnectManager& operator=(const SimConnectManager&) = delete;

    // Install before connect: the dispatch thread reads them without a lock.
    void set_sample_callback(SampleCallback callback);
    void set_connection_callback(ConnectionCallback callback);
    void set_error_callback(ErrorCallback callback);

    // Connection. Each successful connect starts from a clean slate: every
    // registration is made anew and the aircraft is unknown until reported.
    enum class OpenFailure { report, quiet };  // quiet: no error callback (repeated tries)
    // `record_event` is SimConnect_Open's event handle, which the library sets
    // once per record it receives; null for none.
    bool connect(const std::string& client_name, OpenFailure on_failure = OpenFailure::report,
                 HANDLE record_event = nullptr);
    // Safe while another thread is inside dispatch_messages.
    void disconnect();
    bool is_connected() const;
    // True once the simulator has sent its quit record on this connection.
    bool quit_received() const;
    // The simulator's "Pause" state as last reported on this connection;
    // nothing until it has been reported. Safe from any thread.
    std::optional<bool> sim_paused() const;
    // The name taken from the latest "AircraftLoaded" answer (empty until
    // then). Safe from any thread.
    std::string aircraft_name() const;
    // The HRESULT of the latest call the simulator refused in a control
    // operation or in start_data_collection (owner's thread).
    HRESULT refused_result() const;

    // Dispatch (dispatch thread only)
    void dispatch_messages();
    // Ends the drain in progress after the record in hand, and every later
    // one, so that shutdown never waits on a simulator sending faster than
    // the owner can write. Safe from any thread; a new connect clears it.
    void interrupt_dispatch();
    void handle_exception(const SIMCONNECT_RECV_EXCEPTION& exception);
    // Reads the data block that begins at record.dwData (kSampleBlockBytes).
    FlightData build_flight_data(const SIMCONNECT_RECV_SIMOBJECT_DATA& record) const;
    void dump_aircraft_system_state(const SIMCONNECT_RECV_SYSTEM_STATE& state);

    // Data collection; false when not connected or refused.
    bool start_data_collection();
    void stop_data_collection();

    // Simulator control (main thread)
    bool trigger_regular_pause();
    bool force_unpause();
    bool trigger_active_pause();
    bool trigger_sim_pause();
    bool set_aircraft_position(double latitude, double longitude, double altitude_feet, double heading_degrees);
    bool position_at_rattenberg();
    bool set_fuel_distribution(double left_kilograms, double right_kilograms);
    bool set_standard_fuel_load();

private:
    // A received record, copied out of the library's buffer while the handle
    // is locked, so closing the handle cannot pull it away mid-handling.
    // Bytes past the record's size are zero. The records read here are at
    // most a few hundred bytes; longer ones are cut to this size.
    static constexpr std::size_t kRecordCopyBytes = 1024;
    struct RecordCopy {
        alignas(8) std::array<unsigned char, kRecordCopyBytes> bytes{};
        std::uint64_t connection = 0;  // which connection it came from
        template <typename Record>
        Record as() const;
    };

    bool transmit_pause_event(const PauseOperation& operation);

    // Runs `call(handle)` under api_mutex_; kNotOpenResult when the
    // connection has been closed meanwhile.
    static constexpr HRESULT kNotOpenResult = static_cast<HRESULT>(0x80004005L);  // E_FAIL
    template <typename Call>
    HRESULT call_library(Call&& call);

    bool next_record(RecordCopy& record);
    void handle_record(const RecordCopy& record);

    void schedule_aircraft_state_request();
    void request_aircraft_state();  // body of the aircraft-state thread
    void send_aircraft_state_request();
    void stop_aircraft_state_thread();

    HANDLE handle_ = nullptr;        // guarded by api_mutex_
    std::uint64_t connections_ = 0;  // successful opens so far; guarded by api_mutex_
    std::atomic<bool> connected_{false};
    SampleCallback sample_callback_;
    ConnectionCallback connection_callback_;
    ErrorCallback error_callback_;
    // Written on the dispatch thread under identity_mutex_; read there without it.
    std::string aircraft_name_;
    mutable std::mutex identity_mutex_;
    // The connection whose aircraft aircraft_name_ names; dispatch thread only.
    std::uint64_t aircraft_name_connection_ = 0;
    static constexpr int kPauseUnknown = -1;
    std::atomic<int> sim_paused_{kPauseUnknown};  // kPauseUnknown, 0 or 1
    HRESULT refused_result_ = 0;                  // owner's thread only
    std::mutex api_mutex_;                        // held for one SimConnect call (and record copy) at a time
    std::atomic<bool> quit_received_{false};
    std::atomic<bool> dispatch_interrupted_{false};

    // Definitions added on first use in a connection; a new connection knows
    // none of an earlier one's. Owner's thread only.
    bool position_definition_created_ = false;
    bool tank_definitions_created_ = false;

    // Guards aircraft_state_due_, aircraft_state_stop_ and aircraft_state_thread_.
    std::mutex aircraft_state_mutex_;
    std::condition_variable aircraft_state_wake_;
    std::deque<std::chrono::steady_clock::time_point> aircraft_state_due_;
    bool aircraft_state_stop_ = false;
    std::thread aircraft_state_thread_;  // started and joined on the owner's thread
};

template <typename Call>
HRESULT SimConnectManager::call_library(Call&& call) {
    std::lock_guard lock(api_mutex_);
    if (handle_ == nullptr) {
        return kNotOpenResult;
    }
    return call(handle_);
}

}  // namespace velmar
