// Pure rules of the stand-in: control-line parsing, call-log formatting, the
// variables and units it answers, and the wire framing.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "aircraft.h"
#include "call_log.h"
#include "control_line.h"

namespace velmar::standin {
namespace {

struct BadLine {
    const char* line;
    const char* error_part;
};

TEST(ControlLine, BadLinesNameTheirFault) {
    const BadLine rows[] = {
        {"frobnicate", "unknown command 'frobnicate'"},
        {"fail", "usage: fail"},
        {"fail SimConnect_Open", "usage: fail"},
        {"fail SimConnect_GetNextDispatch 1", "unknown function"},
        {"fail simconnect_open 1", "unknown function"},
        {"fail SimConnect_Open x", "HRESULT"},
        {"fail SimConnect_Open 4294967296", "HRESULT"},
        {"fail SimConnect_Open -2147483649", "HRESULT"},
        {"fail SimConnect_Open 1 0", "COUNT"},
        {"fail SimConnect_Open 1 -1", "COUNT"},
        {"fail SimConnect_Open 1 2 3", "usage: fail"},
        {"exception", "usage: exception"},
        {"exception -1", "CODE"},
        {"exception 1 2", "usage: exception"},
        {"event", "usage: event"},
        {"event 4294967296", "ID"},
        {"event 1 x", "DATA"},
        {"sample 2 1 2 3 4 5 6 7 8", "usage: sample"},
        {"sample 2 1 2 3 4 5 6 7 8 9 10", "usage: sample"},
        {"sample 2 1 2 3 4 5 6 7 8 nine", "'nine' is not a number"},
        {"sample x 1 2 3 4 5 6 7 8 9", "REQUEST"},
        {"state", "usage: state"},
        {"state x path", "REQUEST"},
        {"freeze", "usage: freeze"},
        {"freeze maybe", "usage: freeze"},
        {"quit now", "usage: quit"},
        {"exit 3", "usage: exit"},
        {"wait", "usage: wait"},
        {"wait -5", "MS"},
        {"wait 1.5", "MS"},
    };
    for (const auto& row : rows) {
        const ParsedControl parsed = parse_control_line(row.line);
        EXPECT_FALSE(parsed.command.has_value()) << row.line;
        EXPECT_NE(parsed.error.find(row.error_part), std::string::npos) << row.line << " -> " << parsed.error;
    }
}

TEST(ControlLine, BlankAndCommentLinesAreSkippedSilently) {
    for (const char* line : {"", "   ", "\t", "# a comment", "  # indented comment", "#fail SimConnect_Open 1"}) {
        const ParsedControl parsed = parse_control_line(line);
        EXPECT_FALSE(parsed.command.has_value()) << line;
        EXPECT_TRUE(parsed.error.empty()) << line;
    }
}

TEST(ControlLine, FailTakesSignedOrUnsignedResultsAndAnOptionalCount) {
    struct Row {
        const char* line;
        wire::Kind function;
        std::int32_t result;
        std::optional<std::uint32_t> count;
    };
    const Row rows[] = {
        {"fail SimConnect_Open -2147467259", wire::Kind::Open, -2147467259, std::nullopt},
        {"fail SimConnect_Open 2147500037", wire::Kind::Open, -2147467259, std::nullopt},  // E_FAIL unsigned
        {"fail SimConnect_RequestDataOnSimObject 5 2", wire::Kind::RequestDataOnSimObject, 5, 2u},
        {"fail SimConnect_Close 0", wire::Kind::Close, 0, std::nullopt},
        {"fail  SimConnect_SetDataOnSimObject\t-1   4294967295", wire::Kind::SetDataOnSimObject, -1, 4294967295u},
    };
    for (const auto& row : rows) {
        const ParsedControl parsed = parse_control_line(row.line);
        ASSERT_TRUE(parsed.command.has_value()) << row.line << ": " << parsed.error;
        const auto& fail = std::get<FailCommand>(*parsed.command);
        EXPECT_EQ(fail.function, row.function) << row.line;
        EXPECT_EQ(fail.result, row.result) << row.line;
        EXPECT_EQ(fail.count, row.count) << row.line;
    }
}

TEST(ControlLine, EventDataDefaultsToZeroAndWrapsNegativeValues) {
    const auto plain = std::get<EventCommand>(*parse_control_line("event 4").command);
    EXPECT_EQ(plain.event_id, 4u);
    EXPECT_EQ(plain.data, 0u);
    const auto negative = std::get<EventCommand>(*parse_control_line("event 4294967295 -1").command);
    EXPECT_EQ(negative.event_id, 4294967295u);
    EXPECT_EQ(negative.data, 4294967295u);
}

TEST(ControlLine, SampleReadsNineDoublesIncludingNanAndInfinities) {
    const auto sample =
        std::get<SampleCommand>(*parse_control_line("sample 7 nan inf -inf 0.5 -3 1e300 0 9000 -0").command);
    EXPECT_EQ(sample.request_id, 7u);
    EXPECT_TRUE(std::isnan(sample.values[0]));
    EXPECT_EQ(sample.values[1], std::numeric_limits<double>::infinity());
    EXPECT_EQ(sample.values[2], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(sample.values[3], 0.5);
    EXPECT_EQ(sample.values[4], -3);
    EXPECT_EQ(sample.values[5], 1e300);
    EXPECT_EQ(sample.values[7], 9000);
    EXPECT_TRUE(std::signbit(sample.values[8]));
}

TEST(ControlLine, PathsAreEverythingAfterTheOneBlankThatFollows) {
    struct Row {
        const char* line;
        std::uint32_t request;
        std::string text;
    };
    const Row rows[] = {
        {"state 3 SimObjects\\Airplanes\\A B\\aircraft.cfg", 3, "SimObjects\\Airplanes\\A B\\aircraft.cfg"},
        {"state 3", 3, ""},
        {"state 3 ", 3, ""},
        {"state 3  leading blank", 3, " leading blank"},
        {"state 3 trailing blank ", 3, "trailing blank "},
        {"state   4 x", 4, "x"},
        {"state 5 tab\tinside", 5, "tab\tinside"},
    };
    for (const auto& row : rows) {
        const ParsedControl parsed = parse_control_line(row.line);
        ASSERT_TRUE(parsed.command.has_value()) << row.line << ": " << parsed.error;
        const auto& state = std::get<StateCommand>(*parsed.command);
        EXPECT_EQ(state.request_id, row.request) << row.line;
        EXPECT_EQ(state.text, row.text) << row.line;
    }
    EXPECT_EQ(std::get<AircraftCommand>(*parse_control_line("aircraft My Plane\\a.cfg").command).path,
              "My Plane\\a.cfg");
    EXPECT_EQ(std::get<AircraftCommand>(*parse_control_line("aircraft").command).path, "");

    const std::string longest(260, 'x');
    EXPECT_EQ(std::get<StateCommand>(*parse_control_line("state 1 " + longest).command).text, longest);
    EXPECT_FALSE(parse_control_line("state 1 " + longest + "y").command.has_value());
    EXPECT_FALSE(parse_control_line("aircraft " + longest + "y").command.has_value());
}

TEST(ControlLine, SimpleCommands) {
    EXPECT_TRUE(std::get<FreezeCommand>(*parse_control_line("freeze on").command).on);
    EXPECT_FALSE(std::get<FreezeCommand>(*parse_control_line("freeze off").command).on);
    EXPECT_TRUE(std::holds_alternative<QuitCommand>(*parse_control_line("quit").command));
    EXPECT_TRUE(std::holds_alternative<ExitCommand>(*parse_control_line(" exit ").command));
    EXPECT_EQ(std::get<WaitCommand>(*parse_control_line("wait 250").command).milliseconds, 250u);
    EXPECT_EQ(std::get<ExceptionCommand>(*parse_control_line("exception 31").command).code, 31u);
}

TEST(CallLogFormat, StringsAreQuotedWithJsonEscapes) {
    struct Row {
        std::optional<std::string> text;
        const char* logged;
    };
    const Row rows[] = {
        {std::nullopt, "null"},
        {"", "\"\""},
        {"PLANE ALTITUDE", "\"PLANE ALTITUDE\""},
        {"quote \" backslash \\", "\"quote \\\" backslash \\\\\""},
        {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
        {std::string("nul\0inside", 10), "\"nul\\u0000inside\""},
        {"caf\xc3\xa9 \x7f", "\"caf\xc3\xa9 \x7f\""},
    };
    for (const auto& row : rows) EXPECT_EQ(log_string(row.text), row.logged);
}

TEST(CallLogFormat, NumbersUseTheShortestTextThatReadsBack) {
    struct Row {
        float value;
        const char* logged;
    };
    const Row rows[] = {
        {0.0f, "0"},
        {0.5f, "0.5"},
        {9000.0f, "9000"},
        {-1.25f, "-1.25"},
        {0.1f, "0.1"},
        {1e-7f, "1e-07"},
        {std::numeric_limits<float>::infinity(), "inf"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
        {std::numeric_limits<float>::quiet_NaN(), "nan"},
    };
    for (const auto& row : rows) EXPECT_EQ(log_float(row.value), row.logged) << row.logged;
    EXPECT_EQ(log_double(0.1), "0.1");
    EXPECT_EQ(log_double(47.4502), "47.4502");
}

TEST(CallLogFormat, DataBlocksAreLowercaseHex) {
    EXPECT_EQ(log_hex(std::string("\x00\x01\xab\xff", 4)), "0001abff");
    EXPECT_EQ(log_hex(std::string()), "");
    EXPECT_EQ(log_hex(std::nullopt), "null");
}

TEST(SimulationVariables, NamesAndUnitsAreMatchedWithoutRegardToCase) {
    struct Row {
        const char* name;
        const char* units;
        std::optional<double> factor;
    };
    const Row rows[] = {
        {"PLANE ALTITUDE", "feet", 1.0},
        {"plane altitude", "FEET", 1.0},
        {"AIRSPEED INDICATED", "knots", 1.0},
        {"GPS GROUND SPEED", "knots", 1.0},
        {"PLANE HEADING DEGREES MAGNETIC", "degrees", 1.0},
        {"VERTICAL SPEED", "feet per minute", 1.0},
        {"VERTICAL SPEED", "feet per second", 1.0 / 60},
        {"FUEL TOTAL QUANTITY", "gallons", 1.0},
        {"FUEL TANK LEFT MAIN QUANTITY", "gallons", 1.0},
        {"FUEL TANK RIGHT MAIN QUANTITY", "liters", 3.785411784},
        {"FUEL TANK CENTER QUANTITY", "gallons", 1.0},
        {"SIM ON GROUND", "bool", 1.0},
        {"PLANE LATITUDE", "degrees", 1.0},
        {"PLANE LONGITUDE", "number", 1.0},
        {"PLANE ALTITUDE", "knots", std::nullopt},      // wrong kind of unit
        {"FUEL TOTAL QUANTITY", "feet", std::nullopt},  // wrong kind of unit
        {"PLANE ALTITUDE", "furlongs", std::nullopt},
        {"Initial Position", "", std::nullopt},  // a structure, read and written whole
    };
    for (const auto& row : rows) {
        const auto variable = find_variable(row.name);
        ASSERT_TRUE(variable.has_value()) << row.name;
        const auto factor = unit_factor(*variable, row.units);
        ASSERT_EQ(factor.has_value(), row.factor.has_value()) << row.name << " in " << row.units;
        if (factor) {
            EXPECT_DOUBLE_EQ(*factor, *row.factor) << row.name << " in " << row.units;
        }
    }
    for (const char* unknown : {"", "Quit", "PLANE ALTITUDE ", "GENERAL ENG RPM:1"}) {
        EXPECT_FALSE(find_variable(unknown).has_value()) << unknown;
    }
}

TEST(FlightModel, FliesASteadyClimbingTurnAndBurnsFuel) {
    Aircraft aircraft;
    const double altitude = aircraft.value(Variable::Altitude);
    const double heading = aircraft.value(Variable::HeadingMagnetic);
    const double fuel = aircraft.value(Variable::FuelTotal);
    const double latitude = aircraft.value(Variable::Latitude);
    const double longitude = aircraft.value(Variable::Longitude);
    aircraft.advance(60);
    EXPECT_NEAR(aircraft.value(Variable::Altitude) - altitude, kClimbFeetPerMinute, 1e-6);
    EXPECT_NEAR(std::fmod(aircraft.value(Variable::HeadingMagnetic) - heading + 360, 360), 180, 1e-6);
    EXPECT_NEAR(fuel - aircraft.value(Variable::FuelTotal), kBurnGallonsPerHour / 60, 1e-9);
    EXPECT_TRUE(aircraft.value(Variable::Latitude) != latitude || aircraft.value(Variable::Longitude) != longitude);
    EXPECT_EQ(aircraft.value(Variable::AirspeedIndicated), kCruiseKnots);
    EXPECT_EQ(aircraft.value(Variable::VerticalSpeed), kClimbFeetPerMinute);
    EXPECT_EQ(aircraft.value(Variable::OnGround), 0);
}

TEST(FlightModel, PlacingOnTheGroundHoldsItStillButTheEngineStillBurns) {
    Aircraft aircraft;
    SIMCONNECT_DATA_INITPOSITION position{};
    position.Latitude = 51.4775;
    position.Longitude = -0.4614;
    position.Altitude = 83;
    position.Heading = 270;
    position.OnGround = 1;
    position.Airspeed = 0;
    aircraft.place(position);
    const double fuel = aircraft.value(Variable::FuelTotal);
    aircraft.advance(10);
    EXPECT_EQ(aircraft.value(Variable::Latitude), 51.4775);
    EXPECT_EQ(aircraft.value(Variable::Longitude), -0.4614);
    EXPECT_EQ(aircraft.value(Variable::Altitude), 83);
    EXPECT_EQ(aircraft.value(Variable::HeadingMagnetic), 270);
    EXPECT_EQ(aircraft.value(Variable::OnGround), 1);
    EXPECT_EQ(aircraft.value(Variable::AirspeedIndicated), 0);
    EXPECT_LT(aircraft.value(Variable::FuelTotal), fuel);
}

TEST(FlightModel, InitialPositionAirspeedHonoursCruiseAndKeep) {
    Aircraft aircraft;
    SIMCONNECT_DATA_INITPOSITION position = aircraft.position();
    position.Airspeed = 150;
    aircraft.place(position);
    EXPECT_EQ(aircraft.value(Variable::AirspeedIndicated), 150);
    position.Airspeed = INITPOSITION_AIRSPEED_KEEP;
    aircraft.place(position);
    EXPECT_EQ(aircraft.value(Variable::AirspeedIndicated), 150);
    position.Airspeed = INITPOSITION_AIRSPEED_CRUISE;
    aircraft.place(position);
    EXPECT_EQ(aircraft.value(Variable::AirspeedIndicated), kCruiseKnots);
}

TEST(FlightModel, EmptyTanksStayEmptyAndTheTotalIsTheirSum) {
    Aircraft aircraft;
    aircraft.set(Variable::FuelLeftMain, 0.001);
    aircraft.set(Variable::FuelRightMain, 0);
    aircraft.set(Variable::FuelCenter, 10);
    aircraft.advance(3600);
    EXPECT_EQ(aircraft.value(Variable::FuelLeftMain), 0);
    EXPECT_EQ(aircraft.value(Variable::FuelRightMain), 0);
    EXPECT_GT(aircraft.value(Variable::FuelCenter), 0);
    EXPECT_EQ(aircraft.value(Variable::FuelTotal), aircraft.value(Variable::FuelCenter));
    aircraft.set(Variable::FuelTotal, 500);  // not writable: the sum of the tanks
    EXPECT_EQ(aircraft.value(Variable::FuelTotal), aircraft.value(Variable::FuelCenter));
}

TEST(WireFrames, ReaderRejectsTruncatedAndLeftOverBytes) {
    wire::Writer writer(wire::Kind::RequestSystemState);
    writer.u32(3).text("AircraftLoaded").text(nullptr);
    const std::vector<std::uint8_t> frame = std::move(writer).finish();
    ASSERT_EQ(wire::read_length_prefix(frame.data()), frame.size() - 4);
    {
        wire::Reader reader(frame.data() + 4, frame.size() - 4);
        EXPECT_EQ(reader.u32(), static_cast<std::uint32_t>(wire::Kind::RequestSystemState));
        EXPECT_EQ(reader.u32(), 3u);
        EXPECT_EQ(reader.block(), std::optional<std::string>("AircraftLoaded"));
        EXPECT_EQ(reader.block(), std::nullopt);
        EXPECT_TRUE(reader.done());
    }
    {
        wire::Reader reader(frame.data() + 4, frame.size() - 5);  // one byte short
        reader.u32();
        reader.u32();
        reader.block();
        reader.block();
        EXPECT_FALSE(reader.ok());
    }
    {
        wire::Reader reader(frame.data() + 4, frame.size() - 4);
        reader.u32();
        reader.u32();
        EXPECT_FALSE(reader.done());  // left-over bytes
    }
    {
        const std::uint8_t bad_flag[] = {7};
        wire::Reader reader(bad_flag, sizeof bad_flag);
        reader.flag();
        EXPECT_FALSE(reader.ok());
    }
}

}  // namespace
}  // namespace velmar::standin
