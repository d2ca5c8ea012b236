// The aircraft diagnostic record: its text, from the reported state.
#include "aircraft/aircraft_diagnostic.h"

#include <sstream>

namespace velmar {

std::string format_aircraft_diagnostic(const AircraftStateReport& report, std::string_view local_time,
                                       std::string_view aircraft_name) {
    std::ostringstream record;
    record << '\n'
           << "=== AIRCRAFT SYSTEM STATE ===\n"
           << "Timestamp: " << local_time << '\n'
           << "Data Size: " << report.record_bytes << " bytes\n"
           << "Request ID: " << report.request_id << '\n'
           << "Integer Value: " << report.integer_value << '\n'
           << "Float Value: " << static_cast<double>(report.float_value) << '\n'
           << '\n'
           << "Aircraft File Path:\n"
           << "Full Path: '" << report.path << "'\n"
           << "Length: " << report.path.size() << " characters\n"
           << "Extracted Aircraft Name: '" << aircraft_name << "'\n"
           << '\n'
           << '\n';
    return record.str();
}

}  // namespace velmar
