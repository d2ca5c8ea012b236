#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
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

// Every field of a sample, bit for bit where it is a double.
void expect_sample(const FlightData& data, const Values& v) {
    EXPECT_EQ(bits(data.altitude), bits(v[0]));
    EXPECT_EQ(bits(data.indicated_altitude), bits(v[0]));
    EXPECT_EQ(bits(data.airspeed_indicated), bits(v[1]));
    EXPECT_EQ(bits(data.airspeed_true), bits(v[1]));
    EXPECT_EQ(bits(data.gps_ground_speed), bits(v[2]));
    EXPECT_EQ(bits(data.heading_magnetic), bits(v[3]));
    EXPECT_EQ(bits(data.heading_true), bits(v[3]));
    EXPECT_EQ(bits(data.vertical_speed), bits(v[4]));
    EXPECT_EQ(bits(data.fuel_quantity), bits(v[5]));
    EXPECT_EQ(bits(data.latitude), bits(v[7]));
    EXPECT_EQ(bits(data.longitude), bits(v[8]));
    for (double unused : {data.altitude_above_ground, data.elevator_position, data.aileron_position,
                          data.rudder_position, data.throttle_position, data.engine_rpm}) {
        EXPECT_EQ(bits(unused), bits(0.0));
    }
    EXPECT_FALSE(data.autopilot_master);
    EXPECT_FALSE(data.autopilot_heading);
    EXPECT_FALSE(data.autopilot_altitude);
    EXPECT_FALSE(data.autopilot_speed);
}

TEST(SampleDecoding, CopiesEveryValueUnchanged) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Values cases[] = {
        {9000.25, 120.0, 118.5, 207.0, 500.0, 53.1, 0.0, 47.43183333333333, 11.939666666666668},
        {-0.0, -1e-300, 5e-324, 359.99999999999994, -2000.0, 0.0, 1.0, -90.0, 180.0},
        {nan, inf, -inf, std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(), 1e308, 0.0, -nan,
         0.1},
        // A NaN with payload bits keeps them.
        {std::bit_cast<double>(0x7ff8dead0000beefULL), 1, 2, 3, 4, 5, 6, 7, 8},
    };
    for (const Values& values : cases) {
        const auto block = block_of(values);
        expect_sample(decode_sample(block.data(), "C172"), values);
    }
}

TEST(SampleDecoding, SimOnGroundIsTrueWhenNotEqualToZero) {
    struct Case {
        double value;
        bool on_ground;
    };
    const Case cases[] = {
        {1.0, true},
        {0.0, false},
        {-0.0, false},
        {std::numeric_limits<double>::quiet_NaN(), true},
        {-1.0, true},
        {5e-324, true},
        {std::numeric_limits<double>::infinity(), true},
    };
    for (const Case& c : cases) {
        Values values{};
        values[6] = c.value;
        const auto block = block_of(values);
        EXPECT_EQ(decode_sample(block.data(), "").is_paused, c.on_ground) << "value " << c.value;
    }
}

TEST(SampleDecoding, IdentityFollowsTheDetectedName) {
    const auto block = block_of({});
    struct Case {
        const char* name;
        const char* title;
        const char* type;
    };
    const Case cases[] = {
        {"", "MSFS 2024 Aircraft", "Connected"},
        {"config", "MSFS 2024 Aircraft", "Connected"},
        {"Demo737", "Demo737", "B737"},
        {"Unknown", "Unknown", "UNKN"},
    };
    for (const Case& c : cases) {
        const FlightData data = decode_sample(block.data(), c.name);
        EXPECT_EQ(data.aircraft_title, c.title);
        EXPECT_EQ(data.aircraft_type, c.type);
    }
}

TEST(SampleDecoding, IdenticalBlocksDifferOnlyInNonDecreasingTimestamps) {
    const auto block = block_of({1, 2, 3, 4, 5, 6, 1, 8, 9});
    const FlightData first = decode_sample(block.data(), "Glider");
    const FlightData second = decode_sample(block.data(), "Glider");
    EXPECT_LE(first.timestamp, second.timestamp);
    FlightData restamped = second;
    restamped.timestamp = first.timestamp;
    EXPECT_EQ(std::memcmp(&first.altitude, &restamped.altitude, sizeof(double) * 15), 0);
    EXPECT_EQ(first.is_paused, restamped.is_paused);
    EXPECT_EQ(first.aircraft_title, restamped.aircraft_title);
    EXPECT_EQ(first.aircraft_type, restamped.aircraft_type);
}

// The block starts at dwData, the last member of the record header.
#pragma pack(push, 1)
struct SampleRecord {
    SIMCONNECT_RECV_SIMOBJECT_DATA header;
    unsigned char rest_of_block[kSampleBlockBytes - sizeof(DWORD)];
};
#pragma pack(pop)

TEST(SampleDecoding, BuildFlightDataReadsTheBlockAfterTheHeader) {
    const Values values = {9000, 207, 11, 12, 13, 14, 0, 47.5, 11.5};
    SampleRecord record{};
    record.header.dwSize = sizeof record;
    record.header.dwID = SIMCONNECT_RECV_ID_SIMOBJECT_DATA;
    record.header.dwRequestID = 2;
    std::memcpy(&record.header.dwData, values.data(), kSampleBlockBytes);

    const SimConnectManager manager;
    const FlightData data = manager.build_flight_data(record.header);
    expect_sample(data, values);
    EXPECT_EQ(data.aircraft_title, "MSFS 2024 Aircraft");  // nothing detected yet
    EXPECT_EQ(data.aircraft_type, "Connected");
}

TEST(FuelGallons, CutToTheHundredthBelow) {
    struct Case {
        double kilograms;
        double gallons;
    };
    const Case cases[] = {
        {2500.0, 659.03}, {1.0, 0.26},
        {0.0, 0.0},       {10.009 / kGallonsPerKilogram, 10.0},  // exactly 10.009 gallons is cut, not rounded up
        {100.0, 26.36},   {37.9, 9.99},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fuel_gallons(c.kilograms), c.gallons) << c.kilograms << " kg";
    }
}

}  // namespace
}  // namespace velmar
