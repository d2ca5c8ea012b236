// Aircraft name and type code: pure rules on the reported aircraft path.
#pragma once

#include <string>
#include <string_view>

namespace velmar {

// The last folder of an aircraft file path (the folder that holds the file),
// without an "Asobo_" prefix; "Unknown" when the path has fewer than two
// separators.
std::string extract_aircraft_name(std::string_view path);

// A four-byte type code for an aircraft name ("C172", "B737", ...).
std::string aircraft_type_code(std::string_view name);

struct AircraftIdentity {
    std::string title;
    std::string type;
};

// The title and type that every sample carries for the detected name.
AircraftIdentity sample_identity(std::string_view aircraft_name);

}  // namespace velmar
