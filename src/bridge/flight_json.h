// The JSON text of a sample and of the status file (pure).
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "simconnect/flight_data.h"

namespace velmar {

// Whole milliseconds from `start_ns` to `sample_ns` (monotonic-clock
// nanoseconds), truncated toward zero.
constexpr std::int64_t elapsed_milliseconds(std::int64_t sample_ns, std::int64_t start_ns) {
    return (sample_ns - start_ns) / 1'000'000;
}

// Nanoseconds of a sample's monotonic timestamp.
inline std::int64_t monotonic_nanoseconds(std::chrono::steady_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// Replaces `out` with the one-line JSON object of `sample`, whose "timestamp"
// member is `timestamp_ms`. Numbers come out as a classic-locale stream in
// fixed notation writes them (2 decimals, 8 for latitude and longitude), a
// non-finite number as null; title and type are escaped and made valid
// UTF-8. Reuses the capacity of `out`: a caller that keeps the string
// allocates nothing per sample.
void format_flight_json(std::string& out, const FlightData& sample, std::int64_t timestamp_ms);

std::string flight_json(const FlightData& sample, std::int64_t timestamp_ms);

// The status object: {"connected":..,"test_active":..,"last_update":..}.
std::string status_json(bool connected, bool test_active, std::int64_t last_update);

// The members of a sample line, in the order written, with the kind of value
// each holds (a number may also be null: not finite).
enum class FlightJsonKind { integer, number, flag, text };
struct FlightJsonKey {
    std::string_view name;
    FlightJsonKind kind;
};
std::span<const FlightJsonKey> flight_json_keys();

// Appends `text` as a JSON string literal, quotes included.
void append_json_string(std::string& out, std::string_view text);

}  // namespace velmar
