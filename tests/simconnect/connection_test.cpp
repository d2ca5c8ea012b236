// Opening and closing the connection, checked against the stand-in's call log.
#include <gtest/gtest.h>

#include "session_fixture.h"

namespace velmar::test {
namespace {

const Lines kOpenAndRegistration = {
    std::string(R"(SimConnect_Open ")") + kClientName + R"(" 0 0 0 0 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "PLANE ALTITUDE" "feet" 4 0 4294967295 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "AIRSPEED INDICATED" "knots" 4 0 4294967295 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "GPS GROUND SPEED" "knots" 4 0 4294967295 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "PLANE HEADING DEGREES MAGNETIC" "degrees" 4 0 4294967295 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "VERTICAL SPEED" "feet per minute" 4 0 4294967295 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "FUEL TOTAL QUANTITY" "gallons" 4 0 4294967295 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "SIM ON GROUND" "bool" 4 0 4294967295 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "PLANE LATITUDE" "degrees" 4 0 4294967295 -> 0)",
    R"(SimConnect_AddToDataDefinition 0 "PLANE LONGITUDE" "degrees" 4 0 4294967295 -> 0)",
    R"(SimConnect_MapClientEventToSimEvent 4 "PAUSE_TOGGLE" -> 0)",
    R"(SimConnect_MapClientEventToSimEvent 5 "PAUSE_OFF" -> 0)",
    R"(SimConnect_MapClientEventToSimEvent 6 "ACTIVE_PAUSE_TOGGLE" -> 0)",
    R"(SimConnect_MapClientEventToSimEvent 7 "SIM_PAUSE_TOGGLE" -> 0)",
    "SimConnect_AddClientEventToNotificationGroup 0 4 0 -> 0",
    "SimConnect_AddClientEventToNotificationGroup 0 5 0 -> 0",
    "SimConnect_AddClientEventToNotificationGroup 0 6 0 -> 0",
    "SimConnect_AddClientEventToNotificationGroup 0 7 0 -> 0",
    "SimConnect_SetNotificationGroupPriority 0 1 -> 0",
    R"(SimConnect_SubscribeToSystemEvent 8 "Sim" -> 0)",
    R"(SimConnect_SubscribeToSystemEvent 9 "Quit" -> 0)",
    R"(SimConnect_SubscribeToSystemEvent 4 "Pause" -> 0)",
    R"(SimConnect_SubscribeToSystemEvent 5 "Unpaused" -> 0)",
};

const Lines kConnectLines = {
    "[DEBUG] Minimal data definition (9 variables) - testing live data restoration",
    "[DEBUG] Pause control events mapped with input groups",
    "Connected to MSFS SimConnect",
};

using ConnectionTest = SessionTest;

TEST_F(ConnectionTest, OpenRegistersInOrderOnceAndCloseUndoesIt) {
    for (int round = 0; round < 2; ++round) {  // a reconnect registers everything again
        SCOPED_TRACE(round);
        clear_all();
        ASSERT_TRUE(manager_.connect(kClientName));
        EXPECT_TRUE(manager_.connect(kClientName));  // already open: nothing at all
        EXPECT_TRUE(manager_.is_connected());
        EXPECT_EQ(new_log_lines(), kOpenAndRegistration);
        EXPECT_EQ(console_.out(), kConnectLines);
        // One callback, run before "Connected to MSFS SimConnect" is printed.
        EXPECT_EQ(callbacks_.seen().connections, std::vector<bool>{true});
        EXPECT_EQ(callbacks_.seen().lines_before_connection, std::vector<std::size_t>{2});

        clear_all();
        manager_.disconnect();
        manager_.disconnect();  // closed already: nothing
        EXPECT_FALSE(manager_.is_connected());
        EXPECT_EQ(new_log_lines(), Lines{"SimConnect_Close -> 0"});
        EXPECT_EQ(console_.out(), Lines{"Disconnected from MSFS SimConnect"});
        EXPECT_EQ(callbacks_.seen().connections, std::vector<bool>{false});
        EXPECT_EQ(callbacks_.seen().lines_before_connection, std::vector<std::size_t>{0});
    }
    EXPECT_TRUE(console_.errors().empty());
    EXPECT_TRUE(callbacks_.seen().errors.empty());
}

TEST_F(ConnectionTest, RefusedOpenIsReportedOnlyToTheErrorCallback) {
    standin_.control(std::string("fail SimConnect_Open ") + kEFail);
    for (bool with_error_callback : {true, false}) {
        clear_all();
        callbacks_.install(manager_, console_, with_error_callback);
        EXPECT_FALSE(manager_.connect(kClientName));
        EXPECT_FALSE(manager_.is_connected());
        EXPECT_EQ(callbacks_.seen().errors,
                  with_error_callback ? Lines{"Failed to connect to MSFS SimConnect"} : Lines{});
        EXPECT_TRUE(callbacks_.seen().connections.empty());
        EXPECT_TRUE(console_.out().empty());
        EXPECT_TRUE(console_.errors().empty());
        EXPECT_EQ(new_log_lines(),
                  Lines{std::string(R"(SimConnect_Open ")") + kClientName + R"(" 0 0 0 0 -> )" + kEFail});
    }
    standin_.control("fail SimConnect_Open 0");
    EXPECT_TRUE(manager_.connect(kClientName));

    // With nothing listening at all, the open fails the same way.
    manager_.disconnect();
    standin_.control("exit");
    ASSERT_TRUE(standin_.process().wait().has_value());
    callbacks_.install(manager_, console_);
    clear_all();
    EXPECT_FALSE(manager_.connect(kClientName));
    EXPECT_EQ(callbacks_.seen().errors, Lines{"Failed to connect to MSFS SimConnect"});
}

TEST_F(ConnectionTest, DestructionClosesAnOpenConnectionAndNothingElse) {
    {
        CallbackLog idle_callbacks;  // outlives the manager it listens to
        SimConnectManager idle;
        idle_callbacks.install(idle, console_);
    }
    EXPECT_TRUE(standin_.log_lines().empty());
    EXPECT_TRUE(console_.out().empty());
    {
        SimConnectManager open;
        ASSERT_TRUE(open.connect(kClientName));
        clear_all();
    }
    EXPECT_EQ(new_log_lines(), Lines{"SimConnect_Close -> 0"});
    EXPECT_EQ(console_.out(), Lines{"Disconnected from MSFS SimConnect"});
}

TEST_F(ConnectionTest, EveryOperationIsSilentAndFalseWhileClosed) {
    auto try_everything = [&] {
        manager_.dispatch_messages();
        manager_.start_data_collection();
        manager_.stop_data_collection();
        EXPECT_FALSE(manager_.trigger_regular_pause());
        EXPECT_FALSE(manager_.force_unpause());
        EXPECT_FALSE(manager_.trigger_active_pause());
        EXPECT_FALSE(manager_.trigger_sim_pause());
        EXPECT_FALSE(manager_.set_aircraft_position(1.0, 2.0, 3.0, 4.0));
        EXPECT_FALSE(manager_.position_at_rattenberg());
        EXPECT_FALSE(manager_.set_fuel_distribution(100.0, 200.0));
        EXPECT_FALSE(manager_.set_standard_fuel_load());
        EXPECT_TRUE(new_log_lines().empty());
        EXPECT_TRUE(console_.out().empty());
        EXPECT_TRUE(console_.errors().empty());
        EXPECT_TRUE(callbacks_.seen().errors.empty());
    };
    try_everything();  // never connected

    ASSERT_TRUE(manager_.connect(kClientName));
    manager_.disconnect();
    clear_all();
    try_everything();  // closed again
}

}  // namespace
}  // namespace velmar::test
