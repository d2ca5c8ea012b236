// SimConnectManager, the connection to the simulator; members by seam in simconnect_*.cpp.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "aircraft/aircraft_diagnostic.h"
#include "platform/simconnect_api.h"
#include "simconnect/flight_data.h"
#include "simconnect/liveness.h"

namespace velmar {

struct PauseOperation;

// The name of an exception code without its SIMCONNECT_EXCEPTION_ prefix
// ("NAME_UNRECOGNIZED"); "UNKNOWN" past the known codes.
std::string_view exception_name(DWORD code);

// The program's one connection to the simulator. It reports to its owner only
// through the callbacks, each of which may be empty.
//
// Threads: connect, the registration, data collection and the control
// operations run on the owner's simulator thread; dispatch_messages (and
// through it every callback but the connection callback) on the dispatch
// thread; the "AircraftLoaded" request on the manager's own aircraft-state
// thread; disconnect, the liveness check and the getters on any thread.
// api_mutex_ is held only for what never waits on the simulator (taking a
// record, closing); a call that may wait holds call_mutex_ instead, so that
// disconnect can close the handle under a call blocked on a silent simulator.
// No lock is held while a callback runs, so the owner may take its own lock
// in a callback and call back into the manager.
class SimConnectManager {
public:
    using SampleCallback = std::function<void(const FlightData&)>;
    using ConnectionCallback = std::function<void(bool)>;
    using ErrorCallback = std::function<void(const std::string&)>;
    // An exception the simulator sent for a packet this connection sent;
    // dispatch thread.
    using ExceptionCallback = std::function<void(DWORD send_id, DWORD code)>;
    // The simulator's "AircraftLoaded" answer and the aircraft name it gives;
    // dispatch thread. True: recorded, and samples name the aircraft from now
    // on. Without a callback the aircraft is identified at once.
    using AircraftStateCallback = std::function<bool(const AircraftStateReport&, const std::string& aircraft_name)>;
    // The send id of a packet sent by the thread that installed the sink.
    using SendSink = std::function<void(DWORD send_id)>;

    SimConnectManager() = default;
    ~SimConnectManager();
    SimConnectManager(const SimConnectManager&) = delete;
    SimConnectManager& operator=(const SimConnectManager&) = delete;

    // Install before connect: the dispatch thread reads them without a lock.
    void set_sample_callback(SampleCallback callback);
    void set_connection_callback(ConnectionCallback callback);
    void set_error_callback(ErrorCallback callback);
    void set_exception_callback(ExceptionCallback callback);
    void set_aircraft_state_callback(AircraftStateCallback callback);

    // Until cleared, the send id of every packet the calling thread sends goes
    // to `sink` (called on that thread, under no lock of the owner's).
    void track_sends(SendSink sink);

    // Connection. Each successful connect starts from a clean slate: every
    // registration is made anew and the aircraft is unknown until reported.
    enum class OpenFailure { report, quiet };  // quiet: no error callback (repeated tries)
    // `record_event` is SimConnect_Open's event handle, which the library sets
    // once per record it receives; null for none.
    bool connect(const std::string& client_name, OpenFailure on_failure = OpenFailure::report,
                 HANDLE record_event = nullptr);
    // Any thread, also while another is inside dispatch_messages or blocked
    // in a call to a silent simulator (which then returns).
    void disconnect();
    // For good: a connect in progress or later closes what it opened.
    void shut_down();
    bool is_connected() const;
    // True once this connection is over without a disconnect: the simulator
    // sent its quit record, a dispatch or call said the link is gone, or the
    // simulator stayed silent (see check_liveness).
    bool link_lost() const;
    // Owner's thread, once per poll: true when the cheap question is due
    // (send it with ask_if_alive); marks the link lost once it went unanswered.
    bool check_liveness();
    void ask_if_alive();
    // Pause modes (SIMCONNECT pause bits: 1 pause, 2 pause with sound, 4
    // active, 8 sim) as last reported on this connection; nothing until
    // reported. Safe from any thread.
    std::optional<std::uint32_t> pause_modes() const;
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

    // Runs `call(handle)` under call_mutex_, api_mutex_ only around it;
    // kNotOpenResult when the connection has been closed meanwhile. The
    // packet's send id goes to *send_id and to the tracking sink.
    static constexpr HRESULT kNotOpenResult = static_cast<HRESULT>(0x80004005L);  // E_FAIL
    template <typename Call>
    HRESULT call_library(Call&& call, const std::function<void(DWORD)>& on_sent = {});
    // The parts of call_library around the call; begin_call false: not open.
    bool begin_call(HANDLE& handle);
    void end_call(HANDLE handle, HRESULT result, const std::function<void(DWORD)>& on_sent);
    void lose_link(const std::string& reason);
    // What the simulator's exception for a registration packet means.
    enum class Expected { refusal, variable };
    void note_registration(DWORD send_id, Expected meaning, std::string variable = {});
    void register_definitions();

    bool next_record(RecordCopy& record);
    void handle_record(const RecordCopy& record);
    void handle_event(const SIMCONNECT_RECV_EVENT& event);
    void handle_sample(const RecordCopy& record);
    void handle_aircraft_state(const SIMCONNECT_RECV_SYSTEM_STATE& state);

    void schedule_aircraft_state_request();
    void request_aircraft_state();  // body of the aircraft-state thread
    void send_aircraft_state_request();
    void stop_aircraft_state_thread();

    HANDLE handle_ = nullptr;        // guarded by api_mutex_
    std::uint64_t connections_ = 0;  // successful opens so far; guarded by api_mutex_
    int calls_in_flight_ = 0;        // calls made with handle_ not yet returned; guarded by api_mutex_
    bool shut_down_ = false;         // guarded by api_mutex_
    std::condition_variable calls_done_;
    std::atomic<bool> connected_{false};
    SampleCallback sample_callback_;
    ConnectionCallback connection_callback_;
    ErrorCallback error_callback_;
    ExceptionCallback exception_callback_;
    AircraftStateCallback aircraft_state_callback_;
    SendSink send_sink_;                // guarded by call_mutex_
    std::thread::id send_sink_thread_;  // guarded by call_mutex_
    std::mutex call_mutex_;             // held across one call and its send id: they pair up
    // Written on the dispatch thread under identity_mutex_; read there without it.
    std::string aircraft_name_;
    mutable std::mutex identity_mutex_;
    // The connection whose aircraft aircraft_name_ names; dispatch thread only.
    std::uint64_t aircraft_name_connection_ = 0;
    static constexpr std::int64_t kPauseUnknown = -1;
    std::atomic<std::int64_t> pause_modes_{kPauseUnknown};  // kPauseUnknown or the modes
    HRESULT refused_result_ = 0;                            // owner's thread only
    std::mutex api_mutex_;  // guards handle_, connections_, calls_in_flight_, shut_down_ (and a record's copy)
    std::atomic<bool> link_lost_{false};
    std::atomic<bool> dispatch_interrupted_{false};
    LivenessWatch liveness_;

    // What an exception for a registration packet of the current connection
    // means: an expected refusal (silent) or a refused variable (named).
    struct ExpectedException {
        Expected meaning;
        std::string variable;
    };
    std::map<DWORD, ExpectedException> registration_sends_;  // guarded by registration_mutex_
    std::mutex registration_mutex_;
    // Sample records that could not be read, one line per cause and
    // connection; dispatch thread only.
    std::set<std::string> reported_sample_faults_;

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
HRESULT SimConnectManager::call_library(Call&& call, const std::function<void(DWORD)>& on_sent) {
    std::lock_guard serial(call_mutex_);
    HANDLE handle = nullptr;
    if (!begin_call(handle)) {
        return kNotOpenResult;
    }
    const HRESULT result = call(handle);
    end_call(handle, result, on_sent);
    return result;
}

}  // namespace velmar
