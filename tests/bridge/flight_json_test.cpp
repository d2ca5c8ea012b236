#include "bridge/flight_json.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace velmar {
namespace {

using nlohmann::ordered_json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

const std::vector<std::string> kKeys = {
    "timestamp",         "altitude",         "indicated_altitude", "altitude_above_ground", "airspeed_indicated",
    "airspeed_true",     "gps_ground_speed", "heading_magnetic",   "heading_true",          "vertical_speed",
    "elevator_position", "aileron_position", "rudder_position",    "throttle_position",     "fuel_quantity",
    "engine_rpm",        "autopilot_master", "autopilot_heading",  "autopilot_altitude",    "autopilot_speed",
    "is_paused",         "latitude",         "longitude",          "aircraft_title",        "aircraft_type"};

// Parses with a real JSON parser (which also rejects ill-formed UTF-8) and
// checks the members and their order.
ordered_json parse_sample(const std::string& text) {
    ordered_json parsed;
    EXPECT_NO_THROW(parsed = ordered_json::parse(text)) << text;
    std::vector<std::string> keys;
    for (const auto& item : parsed.items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, kKeys) << text;
    return parsed;
}

// The reference: what a classic-locale string stream writes.
std::string stream_fixed(double value, int precision) {
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << std::fixed << std::setprecision(precision) << value;
    return stream.str();
}

// The text of one member, taken from the object's raw text.
std::string member_text(const std::string& json, const std::string& key) {
    const std::string marker = "\"" + key + "\":";
    const std::size_t start = json.find(marker);
    if (start == std::string::npos) {
        return "<missing>";
    }
    const std::size_t value_start = start + marker.size();
    std::size_t end = value_start;
    if (json[value_start] == '"') {
        end = json.find("\",\"", value_start);
        end = end == std::string::npos ? json.size() - 1 : end + 1;
    } else {
        end = json.find_first_of(",}", value_start);
    }
    return json.substr(value_start, end - value_start);
}

FlightData example_sample() {
    FlightData sample;
    sample.altitude = 3500.254;
    sample.indicated_altitude = 3500.254;
    sample.altitude_above_ground = 0.0;
    sample.airspeed_indicated = 120.5;
    sample.airspeed_true = 120.5;
    sample.gps_ground_speed = 131.4;
    sample.heading_magnetic = 271.3;
    sample.heading_true = 271.3;
    sample.vertical_speed = -250.0;
    sample.fuel_quantity = 40.0;
    sample.is_paused = true;
    sample.latitude = 48.1234567891;
    sample.longitude = 11.5;
    sample.aircraft_title = "Example Aircraft";
    sample.aircraft_type = "EXAM";
    return sample;
}

TEST(FlightJson, WritesTheExampleSampleByteForByte) {
    const std::string expected =
        R"({"timestamp":1500,"altitude":3500.25,"indicated_altitude":3500.25,"altitude_above_ground":0.00,)"
        R"("airspeed_indicated":120.50,"airspeed_true":120.50,"gps_ground_speed":131.40,"heading_magnetic":271.30,)"
        R"("heading_true":271.30,"vertical_speed":-250.00,"elevator_position":0.00,"aileron_position":0.00,)"
        R"("rudder_position":0.00,"throttle_position":0.00,"fuel_quantity":40.00,"engine_rpm":0.00,)"
        R"("autopilot_master":false,"autopilot_heading":false,"autopilot_altitude":false,"autopilot_speed":false,)"
        R"("is_paused":true,"latitude":48.12345679,"longitude":11.50000000,"aircraft_title":"Example Aircraft",)"
        R"("aircraft_type":"EXAM"})";
    const std::string text = flight_json(example_sample(), 1500);
    EXPECT_EQ(text, expected);
    parse_sample(text);
}

struct NumberCase {
    double value;
    const char* two_decimals;
    const char* eight_decimals;
};

TEST(FlightJson, NumbersAreFixedPointAndCorrectlyRounded) {
    const NumberCase cases[] = {
        {0.0, "0.00", "0.00000000"},
        {-0.0, "-0.00", "-0.00000000"},
        {-0.004, "-0.00", "-0.00400000"},
        {0.004, "0.00", "0.00400000"},
        {0.005, "0.01", "0.00500000"},  // 0.005000000000000000104...
        {1.005, "1.00", "1.00500000"},  // 1.00499999999999989...
        {2.675, "2.67", "2.67500000"},  // 2.67499999999999982...
        {0.125, "0.12", "0.12500000"},  // exact tie: to even
        {0.375, "0.38", "0.37500000"},  // exact tie: to even
        {-0.125, "-0.12", "-0.12500000"},
        {2.5, "2.50", "2.50000000"},
        {-250.0, "-250.00", "-250.00000000"},
        {3500.254, "3500.25", "3500.25400000"},
        {48.1234567891, "48.12", "48.12345679"},
        {0.999, "1.00", "0.99900000"},
        {-0.999, "-1.00", "-0.99900000"},
        {0x1p53 - 1, "9007199254740991.00", "9007199254740991.00000000"},
        {4503599627370495.5, "4503599627370495.50", "4503599627370495.50000000"},
        {1e15, "1000000000000000.00", "1000000000000000.00000000"},
        {1e20, "100000000000000000000.00", "100000000000000000000.00000000"},
        {-1e20, "-100000000000000000000.00", "-100000000000000000000.00000000"},
        {1e-300, "0.00", "0.00000000"},
        {-1e-300, "-0.00", "-0.00000000"},
        {std::numeric_limits<double>::denorm_min(), "0.00", "0.00000000"},
        {0.001953125, "0.00", "0.00195312"},                          // exact tie: to even
        {0.005859375, "0.01", "0.00585938"},                          // exact tie: to even
        {123456789.987654321, "123456789.99", "123456789.98765433"},  // the double is ...9876543283
    };
    for (const NumberCase& row : cases) {
        FlightData sample;
        sample.altitude = row.value;
        sample.latitude = row.value;
        const std::string text = flight_json(sample, 0);
        EXPECT_EQ(member_text(text, "altitude"), row.two_decimals) << row.value;
        EXPECT_EQ(member_text(text, "latitude"), row.eight_decimals) << row.value;
        EXPECT_EQ(member_text(text, "altitude"), stream_fixed(row.value, 2)) << row.value;
        EXPECT_EQ(member_text(text, "latitude"), stream_fixed(row.value, 8)) << row.value;
        parse_sample(text);
    }
}

TEST(FlightJson, MatchesAStringStreamOnRandomValues) {
    std::mt19937_64 generator(20250314);
    std::uniform_int_distribution<std::uint64_t> bits;
    std::uniform_real_distribution<double> everyday(-50000.0, 50000.0);
    std::uniform_int_distribution<std::int64_t> steps(-100'000'000, 100'000'000);
    std::uniform_int_distribution<int> ulps(-1000, 1000);
    const double limits[] = {0x1p53, 9.2e10, 1e15, 1e20, DBL_MAX, 0.005, 0.000000005};
    for (int i = 0; i < 60000; ++i) {
        double value = 0.0;
        switch (i % 6) {
            case 0:
                value = everyday(generator);
                break;
            case 1:
                value = (static_cast<double>(steps(generator)) + 0.5) / 100.0;
                break;  // near a 2-decimal edge
            case 2:
                value = static_cast<double>(2 * steps(generator) + 1) / 512.0;
                break;  // exact 8-decimal ties
            case 3:
                value = static_cast<double>(2 * steps(generator) + 1) / 8.0;
                break;  // exact 2-decimal ties
            case 4: {   // around the places where the conversion changes its method
                value = limits[static_cast<std::size_t>(i / 6) % std::size(limits)];
                for (int n = ulps(generator); n != 0; n += n > 0 ? -1 : 1) {
                    value = std::nextafter(value, n > 0 ? kInfinity : 0.0);
                }
                break;
            }
            default:
                value = std::bit_cast<double>(bits(generator));
                break;  // any pattern, subnormals included
        }
        if (i % 12 >= 6) {
            value = -value;
        }
        FlightData sample;
        sample.vertical_speed = value;
        sample.longitude = value;
        const std::string text = flight_json(sample, 0);
        if (std::isfinite(value)) {
            ASSERT_EQ(member_text(text, "vertical_speed"), stream_fixed(value, 2)) << value;
            ASSERT_EQ(member_text(text, "longitude"), stream_fixed(value, 8)) << value;
        }
    }
}

TEST(FlightJson, NonFiniteNumbersBecomeNull) {
    for (const double value : {kNaN, -kNaN, kInfinity, -kInfinity}) {
        FlightData sample = example_sample();
        sample.engine_rpm = value;
        sample.latitude = value;
        const std::string text = flight_json(sample, 0);
        EXPECT_EQ(member_text(text, "engine_rpm"), "null");
        EXPECT_EQ(member_text(text, "latitude"), "null");
        EXPECT_EQ(member_text(text, "longitude"), "11.50000000");
        const ordered_json parsed = parse_sample(text);
        EXPECT_TRUE(parsed["engine_rpm"].is_null());
        EXPECT_TRUE(parsed["latitude"].is_null());
    }
}

struct TextCase {
    const char* name;
    std::string title;
    std::string written;  // between the quotes
    std::string parsed;   // what a JSON reader gets back
};

TEST(FlightJson, TextIsEscapedAndMadeValidUtf8) {
    const std::string kReplacement = "\xEF\xBF\xBD";
    const TextCase cases[] = {
        {"empty", "", "", ""},
        {"plain", "Cessna 172 Skyhawk", "Cessna 172 Skyhawk", "Cessna 172 Skyhawk"},
        {"quote", "Say \"hi\"", R"(Say \"hi\")", "Say \"hi\""},
        {"backslash", R"(C:\Sim\A320)", R"(C:\\Sim\\A320)", R"(C:\Sim\A320)"},
        {"short escapes", "a\nb\rc\td\be\ff", R"(a\nb\rc\td\be\ff)", "a\nb\rc\td\be\ff"},
        {"other controls", std::string("\x01\x1f\0z", 4), R"(\u0001\u001f\u0000z)", std::string("\x01\x1f\0z", 4)},
        {"escape sequence", "\x1b[2J", R"(\u001b[2J)", "\x1b[2J"},
        {"delete passes", "a\x7f", "a\x7f", "a\x7f"},
        {"valid UTF-8 passes", "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x9B\xA9",
         "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x9B\xA9", "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x9B\xA9"},
        {"stray byte",
         "A\xFF"
         "B",
         "A" + kReplacement + "B", "A" + kReplacement + "B"},
        {"Latin-1 text", "Z\xFCrich", "Z" + kReplacement + "rich", "Z" + kReplacement + "rich"},
        {"cut sequence at end", "EUR\xE2\x82", "EUR" + kReplacement, "EUR" + kReplacement},
        {"overlong", "\xC0\xAF", kReplacement + kReplacement, kReplacement + kReplacement},
        {"surrogate", "\xED\xA0\x80", kReplacement + kReplacement + kReplacement,
         kReplacement + kReplacement + kReplacement},
        {"above U+10FFFF", "\xF4\x90\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement,
         kReplacement + kReplacement + kReplacement + kReplacement},
        {"invalid and escapes", "\"\xFF\\", "\\\"" + kReplacement + "\\\\", "\"" + kReplacement + "\\"},
    };
    for (const TextCase& row : cases) {
        FlightData sample;
        sample.aircraft_title = row.title;
        sample.aircraft_type = row.title;
        const std::string text = flight_json(sample, 0);
        const std::string quoted = "\"" + row.written + "\"";
        EXPECT_EQ(member_text(text, "aircraft_title"), quoted) << row.name;
        EXPECT_TRUE(text.ends_with(R"("aircraft_type":)" + quoted + "}")) << row.name;
        const ordered_json parsed = parse_sample(text);
        EXPECT_EQ(parsed["aircraft_title"].get<std::string>(), row.parsed) << row.name;
        EXPECT_EQ(parsed["aircraft_type"].get<std::string>(), row.parsed) << row.name;
    }
}

TEST(FlightJson, ReusedBufferHoldsOnlyTheLatestSample) {
    std::string buffer = "left over from before";
    FlightData first = example_sample();
    first.aircraft_title = std::string(300, 'x');
    format_flight_json(buffer, first, 1);
    const auto capacity = buffer.capacity();
    format_flight_json(buffer, example_sample(), 1500);
    EXPECT_EQ(buffer, flight_json(example_sample(), 1500));
    EXPECT_EQ(buffer.capacity(), capacity);
}

TEST(FlightJson, TimestampIsWholeMillisecondsTowardZero) {
    struct Row {
        std::int64_t sample_ns;
        std::int64_t start_ns;
        std::int64_t milliseconds;
    };
    const Row rows[] = {
        {1'999'999, 0, 1},
        {999'999, 0, 0},
        {1'000'000, 0, 1},
        {1'500'000'000, 0, 1500},
        {5'000'000'000, 3'500'000'000, 1500},
        {0, 1'999'999, -1},
        {0, 999'999, 0},
        {-1'000'000'000'000, -1'000'002'500'000, 2},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(elapsed_milliseconds(row.sample_ns, row.start_ns), row.milliseconds)
            << row.sample_ns << " - " << row.start_ns;
    }
}

TEST(StatusJson, HoldsTheThreeMembersInOrder) {
    EXPECT_EQ(status_json(true, false, 1700000000),
              R"({"connected":true,"test_active":false,"last_update":1700000000})");
    EXPECT_EQ(status_json(false, true, 0), R"({"connected":false,"test_active":true,"last_update":0})");
    const ordered_json parsed = ordered_json::parse(status_json(false, false, -5));
    EXPECT_EQ(parsed.dump(), R"({"connected":false,"test_active":false,"last_update":-5})");
}

}  // namespace
}  // namespace velmar
