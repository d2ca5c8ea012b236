#include "simconnect/simconnect_manager.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "aircraft/aircraft_identity.h"
#include "platform/console.h"
#include "simconnect/identifiers.h"
#include "simconnect/pause_operations.h"
#include "simconnect/sample_definition.h"

namespace velmar {
namespace {

using namespace std::chrono_literals;

constexpr auto kAircraftStateDelay = 2s;
constexpr const char* kAircraftLoadedState = "AircraftLoaded";

struct SystemEvent {
    std::uint32_t id;
    const char* name;
};

// Subscribed in this order; `refused`: the simulator is expected to refuse
// it, silently. "Sim" gets no reaction; the simulator signals its exit with a
// quit record rather than a "Quit" event, and "Pause" and "Unpaused" reuse
// client event ids. "Pause_EX1" alone brings the pause state.
struct Subscription {
    SystemEvent event;
    bool refused;
};
constexpr std::array<Subscription, 5> kSubscriptions = {{
    {{ids::SYS_EVT_SIM, "Sim"}, false},
    {{ids::SYS_EVT_QUIT, "Quit"}, true},
    {{ids::SYS_EVT_PAUSE, "Pause"}, true},
    {{ids::SYS_EVT_UNPAUSED, "Unpaused"}, true},
    {{ids::SYS_EVT_PAUSE_EX1, "Pause_EX1"}, false},
}};

constexpr HRESULT kEmptyQueue = static_cast<HRESULT>(0x80004005L);       // E_FAIL
constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x80070057L);  // E_INVALIDARG
// A record of sample data: the header up to dwData, then the values.
constexpr DWORD kSampleRecordBytes =
    static_cast<DWORD>(sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD) + kSampleBlockBytes);
// How long disconnect lets a call in progress finish before closing under it.
constexpr auto kCallDrainBound = 200ms;
// ... and after closing, how long it waits for the call to return.
constexpr auto kCallReturnBound = 1s;

std::string hex_code(HRESULT code) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << static_cast<std::uint32_t>(code);
    return text.str();
}

constexpr std::string_view kExceptionNames[] = {
    "NONE",
    "ERROR",
    "SIZE_MISMATCH",
    "UNRECOGNIZED_ID",
    "UNOPENED",
    "VERSION_MISMATCH",
    "TOO_MANY_GROUPS",
    "NAME_UNRECOGNIZED",
    "TOO_MANY_EVENT_NAMES",
    "EVENT_ID_DUPLICATE",
    "TOO_MANY_MAPS",
    "TOO_MANY_OBJECTS",
    "TOO_MANY_REQUESTS",
    "WEATHER_INVALID_PORT",
    "WEATHER_INVALID_METAR",
    "WEATHER_UNABLE_TO_GET_OBSERVATION",
    "WEATHER_UNABLE_TO_CREATE_STATION",
    "WEATHER_UNABLE_TO_REMOVE_STATION",
    "INVALID_DATA_TYPE",
    "INVALID_DATA_SIZE",
    "DATA_ERROR",
    "INVALID_ARRAY",
    "CREATE_OBJECT_FAILED",
    "LOAD_FLIGHTPLAN_FAILED",
    "OPERATION_INVALID_FOR_OBJECT_TYPE",
    "ILLEGAL_OPERATION",
    "ALREADY_SUBSCRIBED",
    "INVALID_ENUM",
    "DEFINITION_ERROR",
    "DUPLICATE_ID",
    "DATUM_ID",
    "OUT_OF_BOUNDS",
    "ALREADY_CREATED",
    "OBJECT_OUTSIDE_REALITY_BUBBLE",
    "OBJECT_CONTAINER",
    "OBJECT_AI",
    "OBJECT_ATC",
    "OBJECT_SCHEDULE",
};

// dwData, the last member of the record header, is the first word of the block.
constexpr std::size_t kSampleBlockOffset = sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD);

// The bytes of a fixed-size text field up to its first zero, or all of them.
std::string fixed_string(const char* field, std::size_t capacity) {
    return std::string(field, std::find(field, field + capacity, '\0'));
}

}  // namespace

std::string_view exception_name(DWORD code) {
    return code < std::size(kExceptionNames) ? kExceptionNames[code] : "UNKNOWN";
}

template <typename Record>
Record SimConnectManager::RecordCopy::as() const {
    static_assert(sizeof(Record) <= sizeof(bytes));
    Record record;
    std::memcpy(&record, bytes.data(), sizeof record);
    return record;
}

SimConnectManager::~SimConnectManager() { disconnect(); }

void SimConnectManager::set_sample_callback(SampleCallback callback) { sample_callback_ = std::move(callback); }

void SimConnectManager::set_connection_callback(ConnectionCallback callback) {
    connection_callback_ = std::move(callback);
}

void SimConnectManager::set_error_callback(ErrorCallback callback) { error_callback_ = std::move(callback); }

void SimConnectManager::set_exception_callback(ExceptionCallback callback) {
    exception_callback_ = std::move(callback);
}

void SimConnectManager::set_aircraft_state_callback(AircraftStateCallback callback) {
    aircraft_state_callback_ = std::move(callback);
}

void SimConnectManager::track_sends(SendSink sink) {
    std::lock_guard lock(call_mutex_);
    send_sink_ = std::move(sink);
    send_sink_thread_ = std::this_thread::get_id();
}

bool SimConnectManager::begin_call(HANDLE& handle) {
    std::lock_guard lock(api_mutex_);
    if (handle_ == nullptr) {
        return false;
    }
    handle = handle_;
    ++calls_in_flight_;
    return true;
}

void SimConnectManager::end_call(HANDLE handle, HRESULT result, const std::function<void(DWORD)>& on_sent) {
    DWORD sent = 0;
    if (result >= 0) {
        SimConnect_GetLastSentPacketID(handle, &sent);
    }
    {
        std::lock_guard lock(api_mutex_);
        --calls_in_flight_;
    }
    calls_done_.notify_all();
    if (result < 0 && result != kEmptyQueue && result != kInvalidArgument) {
        // E_FAIL: this packet could not go; anything else: the link is gone.
        lose_link("a call returned " + hex_code(result));
        return;
    }
    if (result < 0) {
        return;
    }
    // Still under call_mutex_, which handle_exception passes first: an
    // exception for this packet is never read before its send id is known.
    if (on_sent) {
        on_sent(sent);
    }
    if (send_sink_ && send_sink_thread_ == std::this_thread::get_id()) {
        send_sink_(sent);
    }
}

void SimConnectManager::lose_link(const std::string& reason) {
    if (connected_ && !link_lost_.exchange(true)) {
        platform::print_error_line("[CUSTOM ERROR] Connection to MSFS lost: " + reason);
    }
}

void SimConnectManager::note_registration(DWORD send_id, Expected meaning, std::string variable) {
    std::lock_guard lock(registration_mutex_);
    registration_sends_[send_id] = ExpectedException{meaning, std::move(variable)};
}

bool SimConnectManager::connect(const std::string& client_name, OpenFailure on_failure, HANDLE record_event) {
    if (connected_) {
        return true;
    }
    // Outside every lock: an Open to a simulator that does not answer may
    // take long, and nothing else needs to wait for it.
    HANDLE opened = nullptr;
    HRESULT result = SimConnect_Open(&opened, client_name.c_str(), nullptr, 0, record_event, 0);
    if (result == 0) {
        std::lock_guard lock(api_mutex_);
        if (shut_down_) {
            SimConnect_Close(opened);
            return false;
        }
        handle_ = opened;
        ++connections_;
    }
    if (result != 0) {
        if (error_callback_ && on_failure == OpenFailure::report) {
            error_callback_("Failed to connect to MSFS SimConnect");
        }
        return false;
    }
    link_lost_ = false;
    dispatch_interrupted_ = false;
    position_definition_created_ = false;
    tank_definitions_created_ = false;
    pause_modes_ = kPauseUnknown;
    liveness_.restart(LivenessWatch::Clock::now());
    {
        std::lock_guard lock(registration_mutex_);
        registration_sends_.clear();
    }
    connected_ = true;
    register_definitions();
    bool ours = false;
    bool shutting_down = false;
    {
        std::lock_guard lock(api_mutex_);
        ours = handle_ == opened;
        shutting_down = shut_down_;
    }
    if (!ours) {
        return false;  // disconnected meanwhile (the link went at once): nothing to announce
    }
    if (shutting_down) {
        disconnect();  // the shutdown came while this connect had no connection to close yet
        return false;
    }
    if (connection_callback_) {
        connection_callback_(true);
    }
    platform::print_line("Connected to MSFS SimConnect");
    return true;
}

void SimConnectManager::register_definitions() {
    for (const SampleVariable& variable : kSampleDefinition) {
        const HRESULT added = call_library(
            [&](HANDLE handle) {
                return SimConnect_AddToDataDefinition(handle, ids::DEF_FLIGHT_DATA, variable.name, variable.unit,
                                                      SIMCONNECT_DATATYPE_FLOAT64, 0.0F, SIMCONNECT_UNUSED);
            },
            [&](DWORD send_id) { note_registration(send_id, Expected::variable, variable.name); });
        if (added < 0) {
            platform::print_error_line(std::string("[CUSTOM ERROR] Variable \"") + variable.name +
                                       "\" could not be added to the sample definition: " + std::to_string(added));
        }
    }
    platform::print_line("[DEBUG] Minimal data definition (9 variables) - testing live data restoration");

    for (const PauseOperation* operation : kPauseOperations) {
        call_library([&](HANDLE handle) {
            return SimConnect_MapClientEventToSimEvent(handle, operation->event, operation->sim_event);
        });
    }
    for (const PauseOperation* operation : kPauseOperations) {
        call_library([&](HANDLE handle) {
            return SimConnect_AddClientEventToNotificationGroup(handle, ids::GROUP_PAUSE_EVENTS, operation->event,
                                                                FALSE);
        });
    }
    call_library([](HANDLE handle) {
        return SimConnect_SetNotificationGroupPriority(handle, ids::GROUP_PAUSE_EVENTS,
                                                       SIMCONNECT_GROUP_PRIORITY_HIGHEST);
    });
    for (const Subscription& subscription : kSubscriptions) {
        const SystemEvent event = subscription.event;
        call_library([&](HANDLE handle) { return SimConnect_SubscribeToSystemEvent(handle, event.id, event.name); },
                     [&](DWORD send_id) {
                         if (subscription.refused) {
                             note_registration(send_id, Expected::refusal);
                         }
                     });
    }
    platform::print_line("[DEBUG] Pause control events mapped with input groups");
}

void SimConnectManager::shut_down() {
    {
        std::lock_guard lock(api_mutex_);
        shut_down_ = true;
    }
    disconnect();
}

void SimConnectManager::disconnect() {
    if (!connected_.exchange(false)) {
        stop_aircraft_state_thread();
        return;
    }
    pause_modes_ = kPauseUnknown;
    {
        // The dispatch thread only touches a record while holding this lock,
        // so closing here cannot free a record it is reading. A call in
        // progress gets a moment to finish; one blocked on a silent simulator
        // is closed under, which makes it return.
        std::unique_lock lock(api_mutex_);
        HANDLE handle = std::exchange(handle_, nullptr);
        if (handle != nullptr) {
            calls_done_.wait_for(lock, kCallDrainBound, [this] { return calls_in_flight_ == 0; });
            SimConnect_Close(handle);
            calls_done_.wait_for(lock, kCallReturnBound, [this] { return calls_in_flight_ == 0; });
        }
    }
    // After the close, which ends a request in progress; none follows it.
    stop_aircraft_state_thread();
    if (connection_callback_) {
        connection_callback_(false);
    }
    platform::print_line("Disconnected from MSFS SimConnect");
}

bool SimConnectManager::is_connected() const { return connected_; }

bool SimConnectManager::link_lost() const { return link_lost_; }

bool SimConnectManager::check_liveness() {
    if (!connected_ || link_lost_) {
        return false;
    }
    switch (liveness_.check(LivenessWatch::Clock::now())) {
        case LivenessWatch::Verdict::alive:
            return false;
        case LivenessWatch::Verdict::ask:
            return true;
        case LivenessWatch::Verdict::gone:
            lose_link("no answer for " +
                      std::to_string((LivenessWatch::kQuietBeforeAsking + LivenessWatch::kAnswerWithin).count()) +
                      " seconds");
            return false;
    }
    return false;
}

void SimConnectManager::ask_if_alive() {
    if (!connected_) {
        return;
    }
    // Any answer will do, a refusal too: it comes quietly.
    call_library([](HANDLE handle) { return SimConnect_RequestSystemState(handle, ids::REQ_LIVENESS, "Sim"); },
                 [this](DWORD send_id) { note_registration(send_id, Expected::refusal); });
}

std::optional<std::uint32_t> SimConnectManager::pause_modes() const {
    const std::int64_t modes = pause_modes_;
    if (modes == kPauseUnknown) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(modes);
}

std::optional<bool> SimConnectManager::sim_paused() const {
    const auto modes = pause_modes();
    if (!modes) {
        return std::nullopt;
    }
    return *modes != 0;
}

std::string SimConnectManager::aircraft_name() const {
    std::lock_guard lock(identity_mutex_);
    return aircraft_name_;
}

HRESULT SimConnectManager::refused_result() const { return refused_result_; }

void SimConnectManager::dispatch_messages() {
    if (!connected_) {
        return;
    }
    RecordCopy record;
    while (!dispatch_interrupted_ && next_record(record)) {
        handle_record(record);
    }
}

void SimConnectManager::interrupt_dispatch() { dispatch_interrupted_ = true; }

bool SimConnectManager::next_record(RecordCopy& record) {
    std::lock_guard lock(api_mutex_);
    if (handle_ == nullptr) {
        return false;
    }
    SIMCONNECT_RECV* received = nullptr;
    DWORD received_bytes = 0;
    const HRESULT result = SimConnect_GetNextDispatch(handle_, &received, &received_bytes);
    if (result == kEmptyQueue) {
        return false;
    }
    if (result != 0 || received == nullptr) {
        // The SDK's library says a link is gone this way, with no quit record:
        // 0xC000013E, or a bare Win32 code and no record over the pipe.
        lose_link("SimConnect_GetNextDispatch returned " + hex_code(result) + (result >= 0 ? " without a record" : ""));
        return false;
    }
    liveness_.heard(LivenessWatch::Clock::now());
    record.connection = connections_;
    const std::size_t size = std::clamp<std::size_t>(received->dwSize, sizeof(SIMCONNECT_RECV), record.bytes.size());
    std::memcpy(record.bytes.data(), received, size);
    std::fill(record.bytes.begin() + static_cast<std::ptrdiff_t>(size), record.bytes.end(), 0);
    return true;
}

void SimConnectManager::handle_record(const RecordCopy& record) {
    if (record.connection != aircraft_name_connection_) {
        // Another simulator may fly another aircraft: unknown until it says.
        std::lock_guard lock(identity_mutex_);
        aircraft_name_.clear();
        aircraft_name_connection_ = record.connection;
        reported_sample_faults_.clear();
    }
    switch (record.as<SIMCONNECT_RECV>().dwID) {
        case SIMCONNECT_RECV_ID_EXCEPTION:
            handle_exception(record.as<SIMCONNECT_RECV_EXCEPTION>());
            break;
        case SIMCONNECT_RECV_ID_EVENT:
            handle_event(record.as<SIMCONNECT_RECV_EVENT>());
            break;
        case SIMCONNECT_RECV_ID_SIMOBJECT_DATA: {
            const DWORD request = record.as<SIMCONNECT_RECV_SIMOBJECT_DATA>().dwRequestID;
            if (request == ids::REQ_FLIGHT_DATA) {
                handle_sample(record);
            } else {
                platform::print_line("[DEBUG] Received unknown data request ID: " + std::to_string(request));
            }
            break;
        }
        case SIMCONNECT_RECV_ID_SYSTEM_STATE: {
            const auto state = record.as<SIMCONNECT_RECV_SYSTEM_STATE>();
            if (state.dwRequestID == ids::REQ_AIRCRAFT_LOADED) {
                platform::print_line("[DIAG] Received aircraft system state");
                handle_aircraft_state(state);
            }
            break;
        }
        case SIMCONNECT_RECV_ID_QUIT:
            // The owner decides what the simulator's exit means; see link_lost.
            link_lost_ = true;
            break;
        default:
            break;
    }
}

void SimConnectManager::handle_event(const SIMCONNECT_RECV_EVENT& event) {
    // Only the "Pause_EX1" subscription carries the pause state: the pause
    // group's notifications (ids 4 to 7) say that an event was sent, not
    // what the simulator made of it.
    if (event.uEventID != ids::SYS_EVT_PAUSE_EX1 || event.uGroupID == ids::GROUP_PAUSE_EVENTS) {
        return;
    }
    const std::int64_t before = pause_modes_.exchange(event.dwData);
    const bool paused = event.dwData != 0;
    // The state at subscription is news only when paused.
    if (before == kPauseUnknown ? paused : (before != 0) != paused) {
        platform::print_line(paused ? "Simulator paused" : "Simulator unpaused");
    }
}

void SimConnectManager::handle_sample(const RecordCopy& record) {
    const auto header = record.as<SIMCONNECT_RECV_SIMOBJECT_DATA>();
    const std::size_t values = kSampleDefinition.size();
    if (header.dwDefineID == ids::DEF_FLIGHT_DATA && header.dwDefineCount == values &&
        header.dwSize == kSampleRecordBytes) {
        const FlightData sample = decode_sample(record.bytes.data() + kSampleBlockOffset, aircraft_name_);
        if (sample_callback_) {
            sample_callback_(sample);
        }
        return;
    }
    // Read as it is, such a record would put values under the wrong names.
    const long data_bytes = static_cast<long>(header.dwSize) - static_cast<long>(kSampleBlockOffset);
    const std::string cause = "definition " + std::to_string(header.dwDefineID) + ", " +
                              std::to_string(header.dwDefineCount) + " values, " + std::to_string(data_bytes) +
                              " bytes of data";
    if (reported_sample_faults_.insert(cause).second) {
        platform::print_error_line("[CUSTOM ERROR] Sample record not read: " + cause + "; expected definition " +
                                   std::to_string(ids::DEF_FLIGHT_DATA) + ", " + std::to_string(values) + " values, " +
                                   std::to_string(kSampleBlockBytes) + " bytes of data");
    }
}

void SimConnectManager::handle_exception(const SIMCONNECT_RECV_EXCEPTION& exception) {
    const DWORD code = exception.dwException;
    {
        // Our stand-in answers a call after the records it caused: wait for a
        // call in progress to note its send id before the exception is matched.
        std::lock_guard barrier(call_mutex_);
    }
    {
        std::unique_lock lock(registration_mutex_);
        if (const auto expected = registration_sends_.find(exception.dwSendID); expected != registration_sends_.end()) {
            const ExpectedException meaning = expected->second;
            lock.unlock();
            if (meaning.meaning == Expected::variable) {
                platform::print_error_line("[CUSTOM ERROR] Variable \"" + meaning.variable +
                                           "\" refused by the simulator (" + std::string(exception_name(code)) +
                                           "): left out of the sample definition");
            }
            return;
        }
    }
    if (exception_callback_) {
        exception_callback_(exception.dwSendID, code);
    }
    const std::string text = "SimConnect Exception: " + std::to_string(code);
    if (error_callback_) {
        error_callback_(text);
    }
    platform::print_error_line(text);
}

void SimConnectManager::handle_aircraft_state(const SIMCONNECT_RECV_SYSTEM_STATE& state) {
    AircraftStateReport report;
    report.record_bytes = state.dwSize;
    report.request_id = state.dwRequestID;
    report.integer_value = state.dwInteger;
    report.float_value = state.fFloat;
    // The path field need not hold a terminating zero.
    report.path = fixed_string(state.szString, sizeof state.szString);
    std::string name = extract_aircraft_name(report.path);
    if (aircraft_state_callback_ && !aircraft_state_callback_(report, name)) {
        return;
    }
    std::lock_guard lock(identity_mutex_);
    aircraft_name_ = std::move(name);
}

bool SimConnectManager::start_data_collection() {
    if (!connected_) {
        return false;
    }
    const HRESULT result = call_library([](HANDLE handle) {
        return SimConnect_RequestDataOnSimObject(handle, ids::REQ_FLIGHT_DATA, ids::DEF_FLIGHT_DATA,
                                                 SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_VISUAL_FRAME,
                                                 SIMCONNECT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0);
    });
    if (result != 0) {
        refused_result_ = result;
        if (error_callback_) {
            error_callback_("Failed to start data collection: " + std::to_string(result));
        }
        return false;
    }
    platform::print_line("[OK] Data collection started at 5Hz");
    schedule_aircraft_state_request();
    platform::print_line("[OK] Aircraft detection diagnostic mode enabled");
    return true;
}

void SimConnectManager::stop_data_collection() {
    if (!connected_) {
        return;
    }
    call_library([](HANDLE handle) {
        return SimConnect_RequestDataOnSimObject(handle, ids::REQ_FLIGHT_DATA, ids::DEF_FLIGHT_DATA,
                                                 SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_NEVER,
                                                 SIMCONNECT_DATA_REQUEST_FLAG_DEFAULT, 0, 0, 0);
    });
}

// One request falls due kAircraftStateDelay after each successful start. A
// single thread serves them all, so repeated starts never pile up threads.
void SimConnectManager::schedule_aircraft_state_request() {
    std::lock_guard lock(aircraft_state_mutex_);
    aircraft_state_due_.push_back(std::chrono::steady_clock::now() + kAircraftStateDelay);
    if (!aircraft_state_thread_.joinable()) {
        aircraft_state_stop_ = false;
        aircraft_state_thread_ = std::thread([this] { request_aircraft_state(); });
    }
    aircraft_state_wake_.notify_all();
}

void SimConnectManager::request_aircraft_state() {
    std::unique_lock lock(aircraft_state_mutex_);
    while (!aircraft_state_stop_) {
        if (aircraft_state_due_.empty()) {
            aircraft_state_wake_.wait(lock, [this] { return aircraft_state_stop_ || !aircraft_state_due_.empty(); });
            continue;
        }
        // Waits until the deadline has passed, never less, unless stopped. A
        // copy: disconnect clears the queue while this waits.
        const auto due = aircraft_state_due_.front();
        if (aircraft_state_wake_.wait_until(lock, due, [this] { return aircraft_state_stop_; })) {
            break;
        }
        aircraft_state_due_.pop_front();
        lock.unlock();
        send_aircraft_state_request();
        lock.lock();
    }
}

void SimConnectManager::send_aircraft_state_request() {
    if (!connected_) {
        return;
    }
    platform::print_line("[DEBUG] Requesting aircraft system state...");
    const HRESULT result = call_library([](HANDLE handle) {
        return SimConnect_RequestSystemState(handle, ids::REQ_AIRCRAFT_LOADED, kAircraftLoadedState);
    });
    if (result != 0) {
        platform::print_line("[DEBUG] Aircraft system state request failed: " + std::to_string(result));
    } else {
        platform::print_line("[DEBUG] Aircraft system state request sent successfully");
    }
}

void SimConnectManager::stop_aircraft_state_thread() {
    std::thread worker;
    {
        std::lock_guard lock(aircraft_state_mutex_);
        aircraft_state_stop_ = true;
        aircraft_state_due_.clear();
        worker = std::move(aircraft_state_thread_);
    }
    aircraft_state_wake_.notify_all();
    if (worker.joinable()) {
        worker.join();
    }
}

}  // namespace velmar
