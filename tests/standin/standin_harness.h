#pragma once

// A client of the substitute library that reaches a sim-standin process and
// collects the records it is sent.

#include <SimConnect.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/process.h"

namespace velmar::test {

// Points clients opened from now on at `standin`.
inline void reach(const Standin& standin) {
    ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(standin.port()).c_str(), 1);
}

// One record as delivered, copied out of the library's buffer (bytes.size() is
// the size GetNextDispatch reported).
struct Received {
    std::vector<std::uint8_t> bytes;

    DWORD id() const { return as<SIMCONNECT_RECV>().dwID; }
    template <typename Record>
    Record as() const {
        Record record{};
        std::memcpy(&record, bytes.data(), std::min(sizeof record, bytes.size()));
        return record;
    }
    // The data block of a SIMOBJECT_DATA record as doubles.
    std::vector<double> doubles() const {
        std::vector<double> values(bytes.size() < 40 ? 0 : (bytes.size() - 40) / sizeof(double));
        std::memcpy(values.data(), bytes.data() + 40, values.size() * sizeof(double));
        return values;
    }
};

inline std::vector<Received> of_id(const std::vector<Received>& records, DWORD id) {
    std::vector<Received> matching;
    for (const auto& record : records) {
        if (record.id() == id) matching.push_back(record);
    }
    return matching;
}

using Events = std::vector<std::pair<DWORD, DWORD>>;  // client event id, dwData

inline Events events_of(const std::vector<Received>& records) {
    Events events;
    for (const auto& record : of_id(records, SIMCONNECT_RECV_ID_EVENT)) {
        const auto event = record.as<SIMCONNECT_RECV_EVENT>();
        events.emplace_back(event.uEventID, event.dwData);
    }
    return events;
}

class Client {
public:
    explicit Client(const Standin& standin, const char* name = "Test Client") {
        reach(standin);
        if (SimConnect_Open(&handle_, name, nullptr, 0, nullptr, 0) != S_OK) return;
        open_ = true;
        const auto first = collect_until([](const Received&) { return true; });
        ready_ = first.size() == 1 && first[0].id() == SIMCONNECT_RECV_ID_OPEN &&
                 first[0].bytes.size() == sizeof(SIMCONNECT_RECV_OPEN);
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Opened, and the first record was OPEN.
    bool ready() const { return ready_; }
    HANDLE handle() const { return handle_; }
    HRESULT close() {
        if (!std::exchange(open_, false)) return S_OK;
        return SimConnect_Close(handle_);
    }

    // Everything waiting now.
    std::vector<Received> drain() {
        return collect_until([](const Received&) { return false; }, std::chrono::milliseconds(0));
    }
    // Collects until `count` records of dwID `id` came, or the time is up.
    std::vector<Received> collect_ids(DWORD id, std::size_t count = 1) {
        std::size_t seen = 0;
        return collect_until([&](const Received& record) { return record.id() == id && ++seen >= count; });
    }
    // Collects until a record satisfies `done` (it is included), or the time is up.
    std::vector<Received> collect_until(const std::function<bool(const Received&)>& done,
                                        std::chrono::milliseconds timeout = 10s) {
        std::vector<Received> records;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            SIMCONNECT_RECV* record = nullptr;
            DWORD size = 0;
            if (SimConnect_GetNextDispatch(handle_, &record, &size) == S_OK) {
                const auto* first = reinterpret_cast<const std::uint8_t*>(record);
                records.push_back(Received{{first, first + size}});
                if (done(records.back())) return records;
            } else if (std::chrono::steady_clock::now() >= deadline) {
                return records;
            } else {
                std::this_thread::sleep_for(2ms);  // GetNextDispatch never waits
            }
        }
    }

private:
    HANDLE handle_ = nullptr;
    bool open_ = false;
    bool ready_ = false;
};

// The product's nine-variable sample definition, on definition 0.
enum Field { kAltitude, kAirspeed, kGroundSpeed, kHeading, kVerticalSpeed, kFuel, kOnGround, kLatitude, kLongitude };

inline void add_sample_definition(HANDLE handle) {
    static constexpr const char* kDatums[][2] = {
        {"PLANE ALTITUDE", "feet"},
        {"AIRSPEED INDICATED", "knots"},
        {"GPS GROUND SPEED", "knots"},
        {"PLANE HEADING DEGREES MAGNETIC", "degrees"},
        {"VERTICAL SPEED", "feet per minute"},
        {"FUEL TOTAL QUANTITY", "gallons"},
        {"SIM ON GROUND", "bool"},
        {"PLANE LATITUDE", "degrees"},
        {"PLANE LONGITUDE", "degrees"},
    };
    for (const auto& datum : kDatums) SimConnect_AddToDataDefinition(handle, 0, datum[0], datum[1]);
}

inline HRESULT request_samples(HANDLE handle, DWORD flags = SIMCONNECT_DATA_REQUEST_FLAG_CHANGED) {
    return SimConnect_RequestDataOnSimObject(handle, 2, 0, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_VISUAL_FRAME,
                                             flags);
}

}  // namespace velmar::test
