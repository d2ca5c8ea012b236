// Handling of every kind of received record, sent by the stand-in.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "session_fixture.h"

namespace velmar::test {
namespace {

class DispatchTest : public SessionTest {
protected:
    void SetUp() override { connect_and_settle(); }

    // Standard output up to the marker line of send_and_handle.
    Lines out_before_marker() const {
        Lines lines = console_.out();
        if (!lines.empty()) {
            lines.pop_back();
        }
        return lines;
    }
};

TEST_F(DispatchTest, ExceptionsAreReportedExceptUnknownIdsNamesAndDuplicates) {
    const Lines sent = {"exception 3", "exception 7", "exception 9",
                        "exception 1", "exception 0", "exception 4000000000"};
    const Lines reported = {"SimConnect Exception: 1", "SimConnect Exception: 0", "SimConnect Exception: 4000000000"};
    send_and_handle(sent);
    EXPECT_EQ(callbacks_.seen().errors, reported);
    EXPECT_EQ(console_.errors(), reported);
    EXPECT_TRUE(out_before_marker().empty());
    EXPECT_TRUE(manager_.is_connected());

    clear_all();
    callbacks_.install(manager_, console_, /*with_error_callback=*/false);
    send_and_handle(sent);
    EXPECT_EQ(console_.errors(), reported);
}

TEST_F(DispatchTest, EventsFourAndFiveReportPausingWhateverTheirData) {
    send_and_handle({"event 4 1", "event 5 1", "event 6", "event 7", "event 8 1", "event 9", "event 4 0", "event 5 0",
                     "event 1000"});
    EXPECT_EQ(out_before_marker(),
              (Lines{"Simulator paused", "Simulator unpaused", "Simulator paused", "Simulator unpaused"}));
    EXPECT_TRUE(console_.errors().empty());
}

TEST_F(DispatchTest, SamplesForRequestTwoReachTheCallbackOthersAreNamed) {
    send_and_handle({"sample 2 9000 120.5 118 207 -500 53.25 1 47.43183333333333 11.939666666666668",
                     "sample 7 1 2 3 4 5 6 7 8 9", "sample 2 nan inf -inf 0 -0 0 -0 0 0",
                     "sample 4294967295 1 2 3 4 5 6 7 8 9"});
    EXPECT_EQ(out_before_marker(), (Lines{"[DEBUG] Received unknown data request ID: 7",
                                          "[DEBUG] Received unknown data request ID: 4294967295"}));
    const std::vector<FlightData> samples = callbacks_.seen().samples;
    ASSERT_EQ(samples.size(), 2U);
    const FlightData& first = samples[0];
    EXPECT_EQ(first.indicated_altitude, 9000.0);
    EXPECT_EQ(first.airspeed_true, 120.5);
    EXPECT_EQ(first.gps_ground_speed, 118.0);
    EXPECT_EQ(first.heading_true, 207.0);
    EXPECT_EQ(first.vertical_speed, -500.0);
    EXPECT_EQ(first.fuel_quantity, 53.25);
    EXPECT_TRUE(first.is_paused);
    EXPECT_EQ(first.latitude, 47.43183333333333);
    EXPECT_EQ(first.longitude, 11.939666666666668);
    EXPECT_EQ(first.aircraft_title, "MSFS 2024 Aircraft");
    EXPECT_EQ(first.aircraft_type, "Connected");
    const FlightData& second = samples[1];
    EXPECT_TRUE(std::isnan(second.altitude));
    EXPECT_EQ(second.airspeed_indicated, HUGE_VAL);
    EXPECT_EQ(second.gps_ground_speed, -HUGE_VAL);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(second.vertical_speed), std::bit_cast<std::uint64_t>(-0.0));
    EXPECT_FALSE(second.is_paused);
}

TEST_F(DispatchTest, OneCallDrainsEveryWaitingRecordInOrder) {
    for (const char* line :
         {"sample 2 1 0 0 0 0 0 0 0 0", "sample 2 2 0 0 0 0 0 0 0 0", "event 4", "sample 2 3 0 0 0 0 0 0 0 0"}) {
        standin_.control(line);
    }
    sync_with_standin();
    manager_.dispatch_messages();
    const std::vector<FlightData> samples = callbacks_.seen().samples;
    ASSERT_EQ(samples.size(), 3U);
    EXPECT_EQ(samples[0].altitude, 1.0);
    EXPECT_EQ(samples[1].altitude, 2.0);
    EXPECT_EQ(samples[2].altitude, 3.0);
    EXPECT_EQ(console_.out(), Lines{"Simulator paused"});
}

TEST_F(DispatchTest, AnInterruptedDrainEndsAfterTheRecordInHand) {
    int handled = 0;
    manager_.set_sample_callback([&](const FlightData&) {
        ++handled;
        manager_.interrupt_dispatch();  // a shutdown arriving mid-drain
    });
    for (const char* line : {"sample 2 1 0 0 0 0 0 0 0 0", "sample 2 2 0 0 0 0 0 0 0 0"}) {
        standin_.control(line);
    }
    sync_with_standin();
    manager_.dispatch_messages();
    EXPECT_EQ(handled, 1);
    manager_.dispatch_messages();
    EXPECT_EQ(handled, 1) << "every later drain stays interrupted";
}

TEST_F(DispatchTest, AircraftStateForRequestThreeNamesLaterSamples) {
    send_and_handle({R"(state 4 SimObjects\Airplanes\Ignored\aircraft.cfg)", "sample 2 1 2 3 4 5 6 7 8 9"});
    EXPECT_TRUE(out_before_marker().empty());
    EXPECT_FALSE(std::filesystem::exists(diagnostic_path()));

    console_.clear();
    send_and_handle({R"(state 3 SimObjects\Airplanes\Asobo_TBM930\aircraft.cfg)", "sample 2 1 2 3 4 5 6 7 8 9"});
    const std::string path = diagnostic_path().string();
    EXPECT_EQ(out_before_marker(),
              (Lines{"[DIAG] Received aircraft system state", "[DIAG] Writing to: " + path,
                     "[OK] Aircraft detected from system state: 'TBM930'", "[DIAG] Aircraft data dumped to: " + path}));
    const Lines record = split_lines(read_file(diagnostic_path()));
    ASSERT_EQ(record.size(), 14U);
    EXPECT_EQ(record[3], "Data Size: 284 bytes");
    EXPECT_EQ(record[9], R"(Full Path: 'SimObjects\Airplanes\Asobo_TBM930\aircraft.cfg')");

    const std::vector<FlightData> samples = callbacks_.seen().samples;
    ASSERT_EQ(samples.size(), 2U);
    EXPECT_EQ(samples[0].aircraft_title, "MSFS 2024 Aircraft");
    EXPECT_EQ(samples[1].aircraft_title, "TBM930");
    EXPECT_EQ(samples[1].aircraft_type, "TBM9");
}

TEST_F(DispatchTest, QuitRecordIsRememberedUntilTheNextConnect) {
    EXPECT_FALSE(manager_.quit_received());
    standin_.control("quit");
    ASSERT_TRUE(dispatch_until([&] { return manager_.quit_received(); }));
    EXPECT_TRUE(manager_.is_connected());
    EXPECT_TRUE(console_.out().empty());
    EXPECT_TRUE(console_.errors().empty());

    manager_.disconnect();
    EXPECT_EQ(console_.out(), Lines{"Disconnected from MSFS SimConnect"});
    ASSERT_TRUE(manager_.connect(kClientName));
    EXPECT_FALSE(manager_.quit_received());
}

}  // namespace
}  // namespace velmar::test
