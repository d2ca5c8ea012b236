// SimConnectManager's connection: open, registration, the calls into the library, close.
#include "simconnect/simconnect_manager.h"

#include <algorithm>
#include <cstring>
#include <iterator>
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
// How long disconnect lets a call in progress finish before closing under it.
constexpr auto kCallDrainBound = 200ms;
// ... and after closing, how long it waits for the call to return.
constexpr auto kCallReturnBound = 1s;

std::string hex_code(HRESULT code) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << static_cast<std::uint32_t>(code);
    return text.str();
}

}  // namespace

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

}  // namespace velmar
