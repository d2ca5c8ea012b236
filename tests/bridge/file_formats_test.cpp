// The command file's first line and its echo; the JSON objects byte for byte,
// each read back by a real JSON parser (a million more numbers: tests/faults).
#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "bridge/command_file.h"
#include "bridge/flight_json.h"

namespace velmar {
namespace {

using namespace std::string_view_literals;

TEST(CommandFile, FirstLineRules) {
    const std::string longest(kMaxCommandLineBytes, 'A');
    const std::pair<std::string, std::string> rows[] = {
        {"START_TEST\n", "START_TEST"},
        {"PAUSE_SIM\r\n", "PAUSE_SIM"},
        {"UNPAUSE", "UNPAUSE"},
        {"", ""},
        {"\nSTART_TEST\n", ""},
        {" START_TEST\t \n", " START_TEST\t "},
        {"START\r_TEST\r\r\n", "START\r_TEST\r"},  // only the CR of CR LF goes
        {"start_test\n", "start_test"},
        {"START_TEST\r\nSTOP_TEST\n", "START_TEST"},
        {longest + "\r\nSTOP_TEST", longest},
        {longest + "B\n", longest},  // 4097 bytes: cut
        {longest + "\rB", longest},
        {std::string("\0\x01\xFF\x1B[2J\x7F\nX", 10), std::string("\0\x01\xFF\x1B[2J\x7F", 8)},
        {"\xEF\xBB\xBFSTART_TEST\r\n", "START_TEST"},      // a byte-order mark goes
        {"\xEF\xBB\xBF\xEF\xBB\xBFX\n", "\xEF\xBB\xBFX"},  // only one
        {"\xEF\xBB\xBF" + longest + "B", longest},
    };
    for (const auto& [content, line] : rows) {
        // A poll reads at most kCommandReadBytes from the start of the file.
        EXPECT_EQ(first_command_line(content.substr(0, kCommandReadBytes)), line) << content.substr(0, 40);
    }
}

// C0, DEL and C1 (raw, or U+0080-U+009F in UTF-8) as hex; other text as it is.
TEST(CommandFile, EchoShowsControlCodesAsHex) {
    const std::pair<std::string_view, std::string_view> rows[] = {
        {"PAUSE_SIM \0\t\r\x1F\x1B[2J~\x7F"sv, "PAUSE_SIM \\x00\\x09\\x0D\\x1F\\x1B[2J~\\x7F"},
        {"Z\xC3\xBCrich\xFF back\\slash", "Z\xC3\xBCrich\xFF back\\slash"},
        {"\x9B"
         "31m \x9D"
         "0;t\x9C \x80",
         "\\x9B31m \\x9D0;t\\x9C \\x80"},  // raw CSI, OSC, ST
        {"\xC2\x9B"
         "2J \xC2\x85 \xC2\xA0\xC2\x9F",
         "\\xC2\\x9B2J \\xC2\\x85 \xC2\xA0\\xC2\\x9F"},       // as code points
        {"\xE2\x82\x9B \xE2\x82", "\xE2\x82\x9B \xE2\\x82"},  // inside a character; a cut one's byte
    };
    for (const auto& [line, shown] : rows) EXPECT_EQ(printable_command(line), shown);
}

nlohmann::ordered_json parsed(const std::string& text) {
    nlohmann::ordered_json json;
    EXPECT_NO_THROW(json = nlohmann::ordered_json::parse(text)) << text;  // also rejects ill-formed UTF-8
    return json;
}

TEST(FlightJson, WritesTheExampleSampleAndTheStatusByteForByte) {
    FlightData sample;
    sample.altitude = sample.indicated_altitude = 3500.254;
    sample.airspeed_indicated = sample.airspeed_true = 120.5;
    sample.gps_ground_speed = 131.4;
    sample.heading_magnetic = sample.heading_true = 271.3;
    sample.vertical_speed = -250.0;
    sample.fuel_quantity = 40.0;
    sample.is_paused = true;
    sample.latitude = 48.1234567891;
    sample.longitude = 11.5;
    sample.aircraft_title = "Example Aircraft";
    sample.aircraft_type = "EXAM";
    std::string buffer(600, 'x');  // left over from a longer sample
    format_flight_json(buffer, sample, 1500);
    EXPECT_EQ(
        buffer,
        R"({"timestamp":1500,"altitude":3500.25,"indicated_altitude":3500.25,"altitude_above_ground":0.00,)"
        R"("airspeed_indicated":120.50,"airspeed_true":120.50,"gps_ground_speed":131.40,"heading_magnetic":271.30,)"
        R"("heading_true":271.30,"vertical_speed":-250.00,"elevator_position":0.00,"aileron_position":0.00,)"
        R"("rudder_position":0.00,"throttle_position":0.00,"fuel_quantity":40.00,"engine_rpm":0.00,)"
        R"("autopilot_master":false,"autopilot_heading":false,"autopilot_altitude":false,"autopilot_speed":false,)"
        R"("is_paused":true,"latitude":48.12345679,"longitude":11.50000000,"aircraft_title":"Example Aircraft",)"
        R"("aircraft_type":"EXAM"})");
    EXPECT_EQ(parsed(buffer).size(), 25u);
    EXPECT_EQ(status_json(true, false, 1700000000),
              R"({"connected":true,"test_active":false,"last_update":1700000000})");
    EXPECT_EQ(parsed(status_json(false, true, -5)).dump(),
              R"({"connected":false,"test_active":true,"last_update":-5})");
}

// Rounding is checked against a string stream in tests/faults/number_format_test.cpp.
TEST(FlightJson, NonFiniteIsNullAndNegativeZeroKeepsItsSign) {
    for (const double value : {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()}) {
        FlightData sample;
        sample.altitude = sample.latitude = value;
        const nlohmann::ordered_json json = parsed(flight_json(sample, 0));
        EXPECT_TRUE(json["altitude"].is_null() && json["latitude"].is_null()) << value;
    }
    FlightData sample;
    sample.altitude = sample.latitude = -0.0;
    const std::string json = flight_json(sample, 0);
    EXPECT_NE(json.find(R"("altitude":-0.00,)"), std::string::npos);
    EXPECT_NE(json.find(R"("latitude":-0.00000000,)"), std::string::npos);
}

TEST(FlightJson, TextIsEscapedAndMadeValidUtf8) {
    const std::string bad = "\xEF\xBF\xBD";  // U+FFFD
    const std::pair<std::string, std::string> rows[] = {
        // the text, what is written between the quotes
        {"", ""},
        {"Say \"hi\" C:\\Sim\nb\rc\td\be\ff", R"(Say \"hi\" C:\\Sim\nb\rc\td\be\ff)"},
        {std::string("\x01\x1f\0\x1b[2J\x7f", 8), "\\u0001\\u001f\\u0000\\u001b[2J\x7f"},
        {"Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x9B\xA9", "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x9B\xA9"},
        {"Z\xFCrich EUR\xE2\x82", "Z" + bad + "rich EUR" + bad},  // Latin-1; cut short
        {"\xC0\xAF\xED\xA0\x80", bad + bad + bad + bad + bad},    // overlong, surrogate
        {"\"\xFF\\", "\\\"" + bad + "\\\\"},
    };
    for (const auto& [text, written] : rows) {
        FlightData sample;
        sample.aircraft_title = sample.aircraft_type = text;
        const std::string json = flight_json(sample, 0);
        const std::string quoted = "\"" + written + "\"";
        EXPECT_TRUE(json.ends_with(R"("aircraft_title":)" + quoted + R"(,"aircraft_type":)" + quoted + "}")) << json;
        const nlohmann::ordered_json members = parsed(json);  // valid text comes back unchanged
        EXPECT_TRUE(written.find(bad) != std::string::npos || members["aircraft_title"] == text) << json;
    }
}

}  // namespace
}  // namespace velmar
