#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "simconnect/sample_definition.h"
#include "simconnect/simconnect_manager.h"
#include "simconnect/simulator_control.h"

namespace velmar {
namespace {

using Values = std::array<double, 9>;

std::array<unsigned char, kSampleBlockBytes> block_of(const Values& values) {
    std::array<unsigned char, kSampleBlockBytes> block{};
    std::memcpy(block.data(), values.data(), block.size());
    return block;
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

TEST(SampleDecoding, CopiesEveryValueBitForBit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Values cases[] = {
        {9000.25, 120.0, 118.5, 207.0, 500.0, 53.1, 0.0, 47.43183333333333, 11.939666666666668},
        {-0.0, -1e-300, 5e-324, 359.99999999999994, -2000.0, 0.0, 1.0, -90.0, 180.0},
        {nan, inf, -inf, std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(), 1e308, 0.0, -nan,
         0.1},
        {std::bit_cast<double>(0x7ff8dead0000beefULL), 1, 2, 3, 4, 5, 6, 7, 8},  // NaN payload kept
    };
    for (const Values& v : cases) {
        const auto block = block_of(v);
        const FlightData data = decode_sample(block.data(), "C172");
        const std::pair<double, double> copies[] = {
            {data.altitude, v[0]},
            {data.indicated_altitude, v[0]},
            {data.airspeed_indicated, v[1]},
            {data.airspeed_true, v[1]},
            {data.gps_ground_speed, v[2]},
            {data.heading_magnetic, v[3]},
            {data.heading_true, v[3]},
            {data.vertical_speed, v[4]},
            {data.fuel_quantity, v[5]},
            {data.latitude, v[7]},
            {data.longitude, v[8]},
            // Fields no variable fills stay zero.
            {data.altitude_above_ground, 0.0},
            {data.elevator_position, 0.0},
            {data.aileron_position, 0.0},
            {data.rudder_position, 0.0},
            {data.throttle_position, 0.0},
            {data.engine_rpm, 0.0},
        };
        for (const auto& [field, value] : copies) {
            EXPECT_EQ(bits(field), bits(value));
        }
        EXPECT_FALSE(data.autopilot_master || data.autopilot_heading || data.autopilot_altitude ||
                     data.autopilot_speed);
    }
}

TEST(SampleDecoding, SimOnGroundIsTrueWhenNotEqualToZero) {
    const std::pair<double, bool> cases[] = {
        {1.0, true},
        {0.0, false},
        {-0.0, false},
        {std::numeric_limits<double>::quiet_NaN(), true},
        {-1.0, true},
        {5e-324, true},
        {std::numeric_limits<double>::infinity(), true},
    };
    for (const auto& [value, on_ground] : cases) {
        Values values{};
        values[6] = value;
        EXPECT_EQ(decode_sample(block_of(values).data(), "").is_paused, on_ground) << value;
    }
}

TEST(SampleDecoding, IdentityFollowsTheDetectedNameAndTimeMovesOn) {
    const auto block = block_of({1, 2, 3, 4, 5, 6, 1, 8, 9});
    const FlightData undetected = decode_sample(block.data(), "");
    const FlightData detected = decode_sample(block.data(), "Demo737");
    EXPECT_EQ(undetected.aircraft_title, "MSFS 2024 Aircraft");
    EXPECT_EQ(undetected.aircraft_type, "Connected");
    EXPECT_EQ(detected.aircraft_title, "Demo737");
    EXPECT_EQ(detected.aircraft_type, "B737");
    EXPECT_LE(undetected.timestamp, detected.timestamp);
}

// The block begins at dwData, the last member of the record header.
#pragma pack(push, 1)
struct SampleRecord {
    SIMCONNECT_RECV_SIMOBJECT_DATA header;
    unsigned char rest_of_block[kSampleBlockBytes - sizeof(DWORD)];
};
#pragma pack(pop)

TEST(SampleDecoding, BuildFlightDataReadsTheBlockAfterTheHeader) {
    const Values values = {9000, 207, 11, 12, 13, 14, 0, 47.5, 11.5};
    SampleRecord record{};
    record.header.dwRequestID = 2;
    std::memcpy(&record.header.dwData, values.data(), kSampleBlockBytes);
    const FlightData data = SimConnectManager().build_flight_data(record.header);
    EXPECT_EQ(data.altitude, 9000.0);
    EXPECT_EQ(data.airspeed_true, 207.0);
    EXPECT_EQ(data.longitude, 11.5);
    EXPECT_EQ(data.aircraft_title, "MSFS 2024 Aircraft");  // nothing detected yet
}

TEST(FuelGallons, CutToTheHundredthBelow) {
    const std::pair<double, double> cases[] = {
        {2500.0, 659.03}, {1.0, 0.26},
        {0.0, 0.0},       {10.009 / kGallonsPerKilogram, 10.0},  // 10.009 gallons is cut, not rounded up
        {100.0, 26.36},   {37.9, 9.99},
    };
    for (const auto& [kilograms, gallons] : cases) {
        EXPECT_EQ(fuel_gallons(kilograms), gallons) << kilograms << " kg";
    }
}

}  // namespace
}  // namespace velmar
