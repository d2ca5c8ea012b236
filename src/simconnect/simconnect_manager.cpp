#include "simconnect/simconnect_manager.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <sstream>
#include <string_view>

#include "aircraft/aircraft_diagnostic.h"
#include "aircraft/aircraft_identity.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/text.h"
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

// Subscribed in this order. "Sim" and "Quit" get no reaction; the simulator
// signals its exit with a quit record rather than a "Quit" event.
constexpr std::array<SystemEvent, 4> kSystemEvents = {{
    {ids::SYS_EVT_SIM, "Sim"},
    {ids::SYS_EVT_QUIT, "Quit"},
    {ids::SYS_EVT_PAUSE, "Pause"},
    {ids::SYS_EVT_UNPAUSED, "Unpaused"},
}};

// Exception codes that are expected noise and dropped silently: unknown ids,
// unknown names (the "Quit" subscription) and duplicate event ids.
bool is_silent_exception(DWORD code) {
    return code == SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID || code == SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED ||
           code == SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE;
}

// dwData, the last member of the record header, is the first word of the block.
constexpr std::size_t kSampleBlockOffset = sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD);

// The bytes of a fixed-size text field up to its first zero, or all of them.
std::string fixed_string(const char* field, std::size_t capacity) {
    return std::string(field, std::find(field, field + capacity, '\0'));
}

}  // namespace

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

bool SimConnectManager::connect(const std::string& client_name, OpenFailure on_failure, HANDLE record_event) {
    if (connected_) {
        return true;
    }
    HRESULT result = 0;
    {
        std::lock_guard lock(api_mutex_);
        result = SimConnect_Open(&handle_, client_name.c_str(), nullptr, 0, record_event, 0);
        if (result != 0) {
            handle_ = nullptr;
        } else {
            ++connections_;
        }
    }
    if (result != 0) {
        if (error_callback_ && on_failure == OpenFailure::report) {
            error_callback_("Failed to connect to MSFS SimConnect");
        }
        return false;
    }
    quit_received_ = false;
    dispatch_interrupted_ = false;
    position_definition_created_ = false;
    tank_definitions_created_ = false;
    sim_paused_ = kPauseUnknown;
    connected_ = true;

    for (const SampleVariable& variable : kSampleDefinition) {
        call_library([&](HANDLE handle) {
            return SimConnect_AddToDataDefinition(handle, ids::DEF_FLIGHT_DATA, variable.name, variable.unit,
                                                  SIMCONNECT_DATATYPE_FLOAT64, 0.0F, SIMCONNECT_UNUSED);
        });
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
    for (const SystemEvent& event : kSystemEvents) {
        call_library([&](HANDLE handle) { return SimConnect_SubscribeToSystemEvent(handle, event.id, event.name); });
    }
    platform::print_line("[DEBUG] Pause control events mapped with input groups");

    if (connection_callback_) {
        connection_callback_(true);
    }
    platform::print_line("Connected to MSFS SimConnect");
    return true;
}

void SimConnectManager::disconnect() {
    // First, so no "AircraftLoaded" request can follow the close.
    stop_aircraft_state_thread();
    if (!connected_.exchange(false)) {
        return;
    }
    sim_paused_ = kPauseUnknown;
    {
        // The dispatch thread only touches a record while holding this lock,
        // so closing here cannot free a record it is reading.
        std::lock_guard lock(api_mutex_);
        if (handle_ != nullptr) {
            SimConnect_Close(handle_);
            handle_ = nullptr;
        }
    }
    if (connection_callback_) {
        connection_callback_(false);
    }
    platform::print_line("Disconnected from MSFS SimConnect");
}

bool SimConnectManager::is_connected() const { return connected_; }

bool SimConnectManager::quit_received() const { return quit_received_; }

std::optional<bool> SimConnectManager::sim_paused() const {
    const int paused = sim_paused_;
    if (paused == kPauseUnknown) {
        return std::nullopt;
    }
    return paused != 0;
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
    if (SimConnect_GetNextDispatch(handle_, &received, &received_bytes) < 0 || received == nullptr) {
        return false;
    }
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
    }
    switch (record.as<SIMCONNECT_RECV>().dwID) {
        case SIMCONNECT_RECV_ID_EXCEPTION:
            handle_exception(record.as<SIMCONNECT_RECV_EXCEPTION>());
            break;
        case SIMCONNECT_RECV_ID_EVENT: {
            // Client event and system event 4 and 5 share their ids; both mean the same here.
            const auto event = record.as<SIMCONNECT_RECV_EVENT>();
            if (event.uEventID == ids::SYS_EVT_PAUSE) {
                platform::print_line("Simulator paused");
            } else if (event.uEventID == ids::SYS_EVT_UNPAUSED) {
                platform::print_line("Simulator unpaused");
            }
            // Only the system events carry the pause state; the pause group's
            // own notifications come with its group id.
            if (event.uGroupID != ids::GROUP_PAUSE_EVENTS) {
                if (event.uEventID == ids::SYS_EVT_PAUSE) {
                    sim_paused_ = event.dwData != 0 ? 1 : 0;
                } else if (event.uEventID == ids::SYS_EVT_UNPAUSED) {
                    sim_paused_ = 0;
                }
            }
            break;
        }
        case SIMCONNECT_RECV_ID_SIMOBJECT_DATA: {
            const DWORD request = record.as<SIMCONNECT_RECV_SIMOBJECT_DATA>().dwRequestID;
            if (request == ids::REQ_FLIGHT_DATA) {
                const FlightData sample = decode_sample(record.bytes.data() + kSampleBlockOffset, aircraft_name_);
                if (sample_callback_) {
                    sample_callback_(sample);
                }
            } else {
                platform::print_line("[DEBUG] Received unknown data request ID: " + std::to_string(request));
            }
            break;
        }
        case SIMCONNECT_RECV_ID_SYSTEM_STATE: {
            const auto state = record.as<SIMCONNECT_RECV_SYSTEM_STATE>();
            if (state.dwRequestID == ids::REQ_AIRCRAFT_LOADED) {
                platform::print_line("[DIAG] Received aircraft system state");
                dump_aircraft_system_state(state);
            }
            break;
        }
        case SIMCONNECT_RECV_ID_QUIT:
            // The owner decides what the simulator's exit means; see quit_received.
            quit_received_ = true;
            break;
        default:
            break;
    }
}

void SimConnectManager::handle_exception(const SIMCONNECT_RECV_EXCEPTION& exception) {
    const DWORD code = exception.dwException;
    if (is_silent_exception(code)) {
        return;
    }
    const std::string text = "SimConnect Exception: " + std::to_string(code);
    if (error_callback_) {
        error_callback_(text);
    }
    platform::print_error_line(text);
}

FlightData SimConnectManager::build_flight_data(const SIMCONNECT_RECV_SIMOBJECT_DATA& record) const {
    return decode_sample(reinterpret_cast<const unsigned char*>(&record.dwData), aircraft_name_);
}

void SimConnectManager::dump_aircraft_system_state(const SIMCONNECT_RECV_SYSTEM_STATE& state) {
    const std::int64_t now = platform::wall_clock_seconds();
    const std::optional<std::string> app_data = platform::app_data_folder();
    if (!app_data) {
        platform::print_line("[DIAG ERROR] Could not get APPDATA path");
        return;
    }
    const std::string path =
        platform::join_path(platform::join_path(*app_data, kDiagnosticFolderName), kDiagnosticFileName);
    std::ofstream file = platform::open_shared_output(path, std::ios::app);
    if (!file.is_open()) {
        platform::print_line("[DIAG ERROR] Could not open diagnostic file: " + path);
        return;
    }
    platform::print_line("[DIAG] Writing to: " + path);

    AircraftStateReport report;
    report.record_bytes = state.dwSize;
    report.request_id = state.dwRequestID;
    report.integer_value = state.dwInteger;
    report.float_value = state.fFloat;
    // The path field need not hold a terminating zero.
    report.path = fixed_string(state.szString, sizeof state.szString);
    std::string name = extract_aircraft_name(report.path);
    // Write errors after a successful open go unreported, as the close does.
    file << format_aircraft_diagnostic(report, platform::format_local_time(now, kDiagnosticTimeFormat), name)
         << std::flush;
    {
        std::lock_guard lock(identity_mutex_);
        aircraft_name_ = std::move(name);
    }
    // The name is the simulator's text: shown with its control bytes escaped.
    platform::print_line("[OK] Aircraft detected from system state: '" +
                         platform::escape_control_bytes(aircraft_name_) + "'");
    file.close();
    platform::print_line("[DIAG] Aircraft data dumped to: " + path);
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
