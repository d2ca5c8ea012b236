// The sample definition: the one table of sampled variables, and its decoding.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "simconnect/flight_data.h"

namespace velmar {

// One simulation variable of the sample definition: what connect registers
// and where decoding finds its value. Every entry is a FLOAT64.
struct SampleVariable {
    const char* name;
    const char* unit;
    std::size_t offset;                            // bytes into the data block
    void (*fill)(FlightData& data, double value);  // the FlightData fields it sets
};

inline constexpr std::size_t kSampleValueBytes = 8;
inline constexpr std::size_t kSampleBlockBytes = 72;

// Registration order is table order; the data block holds the values in the
// same order with no gaps.
inline constexpr std::array<SampleVariable, 9> kSampleDefinition = {{
    {"PLANE ALTITUDE", "feet", 0,
     [](FlightData& data, double value) {
         data.altitude = value;
         data.indicated_altitude = value;
     }},
    {"AIRSPEED INDICATED", "knots", 8,
     [](FlightData& data, double value) {
         data.airspeed_indicated = value;
         data.airspeed_true = value;
     }},
    {"GPS GROUND SPEED", "knots", 16, [](FlightData& data, double value) { data.gps_ground_speed = value; }},
    {"PLANE HEADING DEGREES MAGNETIC", "degrees", 24,
     [](FlightData& data, double value) {
         data.heading_magnetic = value;
         data.heading_true = value;
     }},
    {"VERTICAL SPEED", "feet per minute", 32, [](FlightData& data, double value) { data.vertical_speed = value; }},
    {"FUEL TOTAL QUANTITY", "gallons", 40, [](FlightData& data, double value) { data.fuel_quantity = value; }},
    // Arrives as a double although requested as "bool"; NaN counts as true.
    {"SIM ON GROUND", "bool", 48, [](FlightData& data, double value) { data.is_paused = value != 0.0; }},
    {"PLANE LATITUDE", "degrees", 56, [](FlightData& data, double value) { data.latitude = value; }},
    {"PLANE LONGITUDE", "degrees", 64, [](FlightData& data, double value) { data.longitude = value; }},
}};

constexpr bool sample_values_are_packed() {
    for (std::size_t i = 0; i < kSampleDefinition.size(); ++i) {
        if (kSampleDefinition[i].offset != i * kSampleValueBytes) {
            return false;
        }
    }
    return kSampleDefinition.size() * kSampleValueBytes == kSampleBlockBytes;
}
static_assert(sample_values_are_packed());

// A sample from a data block of kSampleBlockBytes bytes (native doubles in
// definition order), stamped with the identity of `aircraft_name` and the
// steady clock's time once complete.
FlightData decode_sample(const unsigned char* block, std::string_view aircraft_name);

}  // namespace velmar
