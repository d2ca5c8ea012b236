// The aircraft diagnostic file: written here, beside the bridge's other files.
#pragma once

#include <string>

#include "aircraft/aircraft_diagnostic.h"

namespace velmar {

inline constexpr std::string_view kDiagnosticFileName = "aircraft_diagnostic.txt";

// Appends the simulator's "AircraftLoaded" answer to the diagnostic file in
// the app-data folder, saying so on the console. False, said, when the file
// cannot be written: the aircraft then stays unidentified.
bool append_aircraft_diagnostic(const AircraftStateReport& report, const std::string& aircraft_name);

}  // namespace velmar
