// The aircraft diagnostic record: its text, from the reported state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

inline constexpr const char* kDiagnosticTimeFormat = "%Y-%m-%d %H:%M:%S";

// What the simulator answered for "AircraftLoaded".
struct AircraftStateReport {
    std::uint32_t record_bytes = 0;
    std::uint32_t request_id = 0;
    std::uint32_t integer_value = 0;
    float float_value = 0.0F;
    std::string path;
};

// One record of the diagnostic file: fourteen lines, each ended by "\n" (a
// text-mode stream turns them into the platform's line ends). `local_time` is
// already formatted with kDiagnosticTimeFormat; `aircraft_name` is what
// extract_aircraft_name gives for the report's path.
std::string format_aircraft_diagnostic(const AircraftStateReport& report, std::string_view local_time,
                                       std::string_view aircraft_name);

}  // namespace velmar
