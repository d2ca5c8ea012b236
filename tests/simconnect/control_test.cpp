// Pause events, positioning and fuel, with their exact calls in the call log.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>

#include "session_fixture.h"

namespace velmar::test {
namespace {

// A SetDataOnSimObject log line with its data block cut out as "HEX".
struct DataWrite {
    std::string shape;
    std::vector<unsigned char> data;
};

DataWrite parse_data_write(const std::string& line) {
    const std::size_t arrow = line.rfind(" -> ");
    const std::size_t hex = line.rfind(' ', arrow - 1) + 1;
    DataWrite write{line.substr(0, hex) + "HEX" + line.substr(arrow), {}};
    for (std::size_t i = hex; i + 1 < arrow; i += 2) {
        write.data.push_back(static_cast<unsigned char>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    return write;
}

template <typename Value>
Value decode(const std::vector<unsigned char>& bytes) {
    Value value{};
    EXPECT_EQ(bytes.size(), sizeof value);
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    return value;
}

class ControlTest : public SessionTest {
protected:
    void SetUp() override { connect_and_settle(); }
};

TEST_F(ControlTest, PauseOperationsSendTheirEventAtHighestPriority) {
    struct Case {
        std::function<bool(SimConnectManager&)> operation;
        std::string event;
        std::string announce;
        std::string sent;
        std::string failed;
    };
    const Case cases[] = {
        {&SimConnectManager::trigger_regular_pause, "4", "[DEBUG] Triggering regular pause (P key equivalent)",
         "[DEBUG] Pause event sent successfully", "[DEBUG] Pause event failed: "},
        {&SimConnectManager::force_unpause, "5", "[DEBUG] Force unpause", "[DEBUG] Unpause event sent successfully",
         "[DEBUG] Unpause event failed: "},
        {&SimConnectManager::trigger_active_pause, "6", "[DEBUG] Triggering active pause (position only)",
         "[DEBUG] Active pause event sent successfully", "[DEBUG] Active pause event failed: "},
        {&SimConnectManager::trigger_sim_pause, "7", "[DEBUG] Triggering sim pause (dev mode)",
         "[DEBUG] Sim pause event sent successfully", "[DEBUG] Sim pause event failed: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.announce);
        const std::string call = "SimConnect_TransmitClientEvent 0 " + c.event + " 0 1 16 -> ";
        clear_all();
        EXPECT_TRUE(c.operation(manager_));
        EXPECT_TRUE(c.operation(manager_));  // no state of its own: sent again
        EXPECT_EQ(console_.out(), (Lines{c.announce, c.sent, c.announce, c.sent}));
        EXPECT_EQ(new_log_lines(), (Lines{call + "0", call + "0"}));

        clear_all();
        standin_.control(std::string("fail SimConnect_TransmitClientEvent ") + kEFail + " 1");
        EXPECT_FALSE(c.operation(manager_));
        EXPECT_EQ(console_.out(), (Lines{c.announce, c.failed + kEFail}));
        EXPECT_EQ(new_log_lines(), Lines{call + kEFail});
    }
    EXPECT_TRUE(console_.errors().empty());
}

const std::string kPositionDefinition =
    R"(SimConnect_AddToDataDefinition 100 "Initial Position" null 12 0 4294967295 -> )";
const std::string kRattenbergLine =
    "[DEBUG] Setting aircraft position: 47.4318, 11.9397 at 9000ft, heading 207\xC2\xB0";

TEST_F(ControlTest, PositioningWritesOneInitPositionRecordAndDefinesItOnce) {
    EXPECT_TRUE(manager_.position_at_rattenberg());
    EXPECT_EQ(console_.out(), (Lines{kRattenbergLine, "[DEBUG] Position data definition created",
                                     "[DEBUG] Position command sent successfully"}));
    Lines log = new_log_lines();
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log[0], kPositionDefinition + "0");
    DataWrite write = parse_data_write(log[1]);
    EXPECT_EQ(write.shape, "SimConnect_SetDataOnSimObject 100 0 0 0 56 HEX -> 0");
    auto position = decode<SIMCONNECT_DATA_INITPOSITION>(write.data);
    EXPECT_EQ(position.Latitude, 47.43183333333333);
    EXPECT_EQ(position.Longitude, 11.939666666666668);
    EXPECT_EQ(position.Altitude, 9000.0);
    EXPECT_EQ(position.Heading, 207.0);

    clear_all();
    EXPECT_TRUE(manager_.set_aircraft_position(-33.94611, 151.177222, 21.5, 0.0));
    EXPECT_EQ(console_.out(),
              (Lines{"[DEBUG] Setting aircraft position: -33.9461, 151.177 at 21.5ft, heading 0\xC2\xB0",
                     "[DEBUG] Position command sent successfully"}));
    log = new_log_lines();
    ASSERT_EQ(log.size(), 1U);
    write = parse_data_write(log[0]);
    EXPECT_EQ(write.shape, "SimConnect_SetDataOnSimObject 100 0 0 0 56 HEX -> 0");
    position = decode<SIMCONNECT_DATA_INITPOSITION>(write.data);
    EXPECT_EQ(position.Latitude, -33.94611);
    EXPECT_EQ(position.Longitude, 151.177222);
    EXPECT_EQ(position.Altitude, 21.5);
    EXPECT_EQ(position.Heading, 0.0);
    // Whatever the arguments: level, in the air, 220 knots.
    EXPECT_EQ(std::bit_cast<std::uint64_t>(position.Pitch), 0U);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(position.Bank), 0U);
    EXPECT_EQ(position.OnGround, 0U);
    EXPECT_EQ(position.Airspeed, 220U);
}

TEST_F(ControlTest, PositioningFailuresAreReportedAndAFailedDefinitionRetried) {
    standin_.control(std::string("fail SimConnect_AddToDataDefinition ") + kEFail + " 1");
    EXPECT_FALSE(manager_.position_at_rattenberg());
    EXPECT_EQ(console_.out(),
              (Lines{kRattenbergLine, std::string("[DEBUG] Failed to create position data definition: ") + kEFail}));
    EXPECT_EQ(new_log_lines(), Lines{kPositionDefinition + kEFail});  // nothing written

    clear_all();
    standin_.control(std::string("fail SimConnect_SetDataOnSimObject ") + kEFail + " 1");
    EXPECT_FALSE(manager_.position_at_rattenberg());
    EXPECT_EQ(console_.out(), (Lines{kRattenbergLine, "[DEBUG] Position data definition created",
                                     std::string("[DEBUG] Position command failed: ") + kEFail}));
    const Lines log = new_log_lines();
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log[0], kPositionDefinition + "0");
    EXPECT_EQ(parse_data_write(log[1]).shape,
              std::string("SimConnect_SetDataOnSimObject 100 0 0 0 56 HEX -> ") + kEFail);

    clear_all();
    EXPECT_TRUE(manager_.position_at_rattenberg());  // the definition stays
    EXPECT_EQ(console_.out(), (Lines{kRattenbergLine, "[DEBUG] Position command sent successfully"}));
}

const Lines kTankDefinitions = {
    R"(SimConnect_AddToDataDefinition 103 "FUEL TANK LEFT MAIN QUANTITY" "gallons" 4 0 4294967295 -> )",
    R"(SimConnect_AddToDataDefinition 104 "FUEL TANK RIGHT MAIN QUANTITY" "gallons" 4 0 4294967295 -> )",
    R"(SimConnect_AddToDataDefinition 105 "FUEL TANK CENTER QUANTITY" "gallons" 4 0 4294967295 -> )",
};

const Lines kStandardLoadLines = {
    "[DEBUG] Setting standard fuel load: 5T total (2.5T per tank)",
    "[DEBUG] Setting fuel distribution:",
    "  Left Main: 2500 kg (659.03 gallons, expect ~3125 L)",
    "  Right Main: 2500 kg (659.03 gallons, expect ~3125 L)",
};

Lines with(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// Three tank writes, left, right and centre: one result character each, '0' or 'F' for E_FAIL.
void expect_tank_writes(const Lines& log, double left, double right, const std::string& results = "000") {
    ASSERT_EQ(log.size(), 3U);
    const double gallons[] = {left, right, 0.0};
    for (std::size_t i = 0; i < 3; ++i) {
        const DataWrite write = parse_data_write(log[i]);
        EXPECT_EQ(write.shape, "SimConnect_SetDataOnSimObject " + std::to_string(103 + i) + " 0 0 0 8 HEX -> " +
                                   (results[i] == '0' ? "0" : kEFail));
        EXPECT_EQ(decode<double>(write.data), gallons[i]);
    }
}

TEST_F(ControlTest, StandardFuelLoadDefinesTheTanksOnceAndWritesAllThree) {
    EXPECT_TRUE(manager_.set_standard_fuel_load());
    EXPECT_EQ(console_.out(), with(kStandardLoadLines, {"[DEBUG] Tank fuel data definitions created (L/C/R)",
                                                        "  Center Tank: 0 kg (0 gallons) - ZEROED",
                                                        "[DEBUG] Fuel distribution set successfully (L/C/R)"}));
    const Lines log = new_log_lines();
    ASSERT_EQ(log.size(), 6U);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(log[i], kTankDefinitions[i] + "0");
    }
    expect_tank_writes({log.begin() + 3, log.end()}, 659.03, 659.03);

    clear_all();
    EXPECT_TRUE(manager_.set_fuel_distribution(1.0, 0.0));
    EXPECT_EQ(console_.out(),
              (Lines{"[DEBUG] Setting fuel distribution:", "  Left Main: 1 kg (0.26 gallons, expect ~1.25 L)",
                     "  Right Main: 0 kg (0 gallons, expect ~0 L)", "  Center Tank: 0 kg (0 gallons) - ZEROED",
                     "[DEBUG] Fuel distribution set successfully (L/C/R)"}));
    expect_tank_writes(new_log_lines(), 0.26, 0.0);
}

TEST_F(ControlTest, FuelFailuresAreReportedWithEveryResult) {
    standin_.control(std::string("fail SimConnect_AddToDataDefinition ") + kEFail + " 1");
    EXPECT_FALSE(manager_.set_standard_fuel_load());
    EXPECT_EQ(console_.out(),
              with(kStandardLoadLines,
                   {std::string("[DEBUG] Failed to create tank data definitions: ") + kEFail + ", 0, 0"}));
    // All three are attempted, and nothing is written.
    EXPECT_EQ(new_log_lines(),
              (Lines{kTankDefinitions[0] + kEFail, kTankDefinitions[1] + "0", kTankDefinitions[2] + "0"}));

    // The next load makes all three additions again; a refused write does not stop the others.
    clear_all();
    standin_.control(std::string("fail SimConnect_SetDataOnSimObject ") + kEFail + " 1");
    EXPECT_FALSE(manager_.set_standard_fuel_load());
    EXPECT_EQ(console_.out(),
              with(kStandardLoadLines,
                   {"[DEBUG] Tank fuel data definitions created (L/C/R)", "  Center Tank: 0 kg (0 gallons) - ZEROED",
                    std::string("[DEBUG] Fuel distribution failed: Left=") + kEFail + ", Right=0, Center=0"}));
    const Lines log = new_log_lines();
    ASSERT_EQ(log.size(), 6U);
    EXPECT_EQ(log[2], kTankDefinitions[2] + "0");
    expect_tank_writes({log.begin() + 3, log.end()}, 659.03, 659.03, "F00");

    clear_all();
    standin_.control(std::string("fail SimConnect_SetDataOnSimObject ") + kEFail);
    EXPECT_FALSE(manager_.set_fuel_distribution(100.0, 200.0));
    EXPECT_EQ(console_.out().back(), std::string("[DEBUG] Fuel distribution failed: Left=") + kEFail +
                                         ", Right=" + kEFail + ", Center=" + kEFail);
    expect_tank_writes(new_log_lines(), 26.36, 52.72, "FFF");
}

}  // namespace
}  // namespace velmar::test
