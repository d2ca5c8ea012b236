// SimConnectManager's dispatch: each record the simulator sends, checked and handed to the owner.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "aircraft/aircraft_identity.h"
#include "platform/console.h"
#include "simconnect/identifiers.h"
#include "simconnect/sample_definition.h"
#include "simconnect/simconnect_manager.h"

namespace velmar {
namespace {

// A record of sample data: the header up to dwData, then the values.
constexpr DWORD kSampleRecordBytes =
    static_cast<DWORD>(sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD) + kSampleBlockBytes);

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

}  // namespace velmar
