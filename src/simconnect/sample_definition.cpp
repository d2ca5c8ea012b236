// The sample definition: the one table of sampled variables, and its decoding.
#include "simconnect/sample_definition.h"

#include <cstring>

#include "aircraft/aircraft_identity.h"

namespace velmar {

FlightData decode_sample(const unsigned char* block, std::string_view aircraft_name) {
    FlightData data;
    for (const SampleVariable& variable : kSampleDefinition) {
        double value = 0.0;
        std::memcpy(&value, block + variable.offset, sizeof value);
        variable.fill(data, value);
    }
    AircraftIdentity identity = sample_identity(aircraft_name);
    data.aircraft_title = std::move(identity.title);
    data.aircraft_type = std::move(identity.type);
    data.timestamp = std::chrono::steady_clock::now();
    return data;
}

}  // namespace velmar
