// Starting and stopping the samples, and the "AircraftLoaded" request that
// follows each start by two seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "session_fixture.h"

namespace velmar::test {
namespace {

const std::string kStartCall = "SimConnect_RequestDataOnSimObject 2 0 0 2 1 0 0 0 -> ";
const std::string kAircraftCall = R"(SimConnect_RequestSystemState 3 "AircraftLoaded" -> )";
const Lines kStartLines = {"[OK] Data collection started at 5Hz", "[OK] Aircraft detection diagnostic mode enabled"};

std::size_t count(const Lines& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

class CollectionTest : public SessionTest {
protected:
    void SetUp() override { connect_and_settle(); }
};

TEST_F(CollectionTest, StartStopAndRestartTheSamples) {
    manager_.start_data_collection();
    EXPECT_EQ(new_log_lines(), Lines{kStartCall + "0"});
    EXPECT_EQ(console_.out(), kStartLines);
    ASSERT_TRUE(dispatch_until([&] { return callbacks_.seen().samples.size() >= 3; }));

    // Two seconds later the stand-in names its default aircraft, which later samples carry.
    ASSERT_TRUE(dispatch_until([&] { return console_.printed("[OK] Aircraft detected from system state: 'C172'"); }));
    EXPECT_EQ(count(new_log_lines(), kAircraftCall + "0"), 1U);
    // The answer may be handled, and its lines printed, before the requesting
    // thread reports that the request went out.
    EXPECT_TRUE(eventually([&] {
        const Lines out = console_.out();
        const auto requesting = std::find(out.begin(), out.end(), "[DEBUG] Requesting aircraft system state...");
        return std::find(requesting, out.end(), "[DEBUG] Aircraft system state request sent successfully") != out.end();
    }));
    callbacks_.clear();
    ASSERT_TRUE(dispatch_until([&] { return !callbacks_.seen().samples.empty(); }));
    EXPECT_EQ(callbacks_.seen().samples.front().aircraft_title, "C172");
    EXPECT_EQ(callbacks_.seen().samples.front().aircraft_type, "C172");

    clear_all();
    manager_.stop_data_collection();
    EXPECT_EQ(new_log_lines(), Lines{"SimConnect_RequestDataOnSimObject 2 0 0 0 0 0 0 0 -> 0"});
    EXPECT_TRUE(console_.out().empty());
    // Drain what was sent before the stop; frames after it send nothing, so
    // only the scripted sample arrives.
    sync_with_standin();
    manager_.dispatch_messages();
    callbacks_.clear();
    standin_.control("wait 200");
    standin_.control("sample 2 -1 0 0 0 0 0 0 0 0");
    sync_with_standin();
    manager_.dispatch_messages();
    ASSERT_EQ(callbacks_.seen().samples.size(), 1U);
    EXPECT_EQ(callbacks_.seen().samples[0].altitude, -1.0);

    clear_all();
    manager_.start_data_collection();
    EXPECT_EQ(new_log_lines(), Lines{kStartCall + "0"});
    EXPECT_EQ(console_.out(), kStartLines);
    ASSERT_TRUE(dispatch_until([&] { return callbacks_.seen().samples.size() >= 3; }));
    ASSERT_TRUE(eventually([&] { return count(new_log_lines(), kAircraftCall + "0") == 1; }));
    EXPECT_TRUE(callbacks_.seen().errors.empty());
}

TEST_F(CollectionTest, RefusalsAreReportedWithTheirResults) {
    for (const char* result : {kEFail, "1"}) {  // anything but 0 is a refusal
        clear_all();
        standin_.control(std::string("fail SimConnect_RequestDataOnSimObject ") + result + " 1");
        manager_.start_data_collection();
        EXPECT_EQ(callbacks_.seen().errors, Lines{std::string("Failed to start data collection: ") + result});
        EXPECT_EQ(new_log_lines(), Lines{kStartCall + result});
        EXPECT_TRUE(console_.out().empty());
    }

    // A refused request for the aircraft is printed; the samples flow regardless.
    for (const char* result : {kEFail, "1"}) {
        clear_all();
        standin_.control(std::string("fail SimConnect_RequestSystemState ") + result + " 1");
        manager_.start_data_collection();
        ASSERT_TRUE(eventually(
            [&] { return console_.printed(std::string("[DEBUG] Aircraft system state request failed: ") + result); }));
        EXPECT_EQ(count(new_log_lines(), kAircraftCall + result), 1U);
        EXPECT_FALSE(console_.printed("[DEBUG] Aircraft system state request sent successfully"));
        EXPECT_TRUE(callbacks_.seen().errors.empty());
    }
}

TEST_F(CollectionTest, EachStartRequestsTheAircraftOnceUnlessClosedMeanwhile) {
    const std::string sent = "[DEBUG] Aircraft system state request sent successfully";
    manager_.start_data_collection();
    manager_.start_data_collection();
    manager_.disconnect();  // wakes and joins the waiting aircraft-state thread
    ASSERT_TRUE(manager_.connect(kClientName));
    clear_all();

    // Only the start on the new connection is answered; the two cancelled
    // ones would have fallen due first.
    manager_.start_data_collection();
    ASSERT_TRUE(eventually([&] { return console_.printed(sent); }));
    EXPECT_EQ(count(console_.out(), "[DEBUG] Requesting aircraft system state..."), 1U);
    EXPECT_EQ(count(new_log_lines(), kAircraftCall + "0"), 1U);

    manager_.start_data_collection();
    manager_.start_data_collection();
    ASSERT_TRUE(eventually([&] { return count(console_.out(), sent) == 3; }));
    EXPECT_EQ(count(new_log_lines(), kAircraftCall + "0"), 3U);
}

// The bridge's shape: a dispatch thread drains while the owner's thread
// sends commands and closes the connection under it.
TEST_F(CollectionTest, OwnerMayCloseWhileTheDispatchThreadDrains) {
    std::atomic<bool> running{true};
    std::thread dispatch([&] {
        while (running) {
            manager_.dispatch_messages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int round = 0; round < 2; ++round) {
        manager_.start_data_collection();
        ASSERT_TRUE(eventually([&] { return callbacks_.seen().samples.size() >= 5; }));
        EXPECT_TRUE(manager_.trigger_regular_pause());
        EXPECT_TRUE(manager_.force_unpause());
        EXPECT_TRUE(manager_.position_at_rattenberg());
        EXPECT_TRUE(manager_.set_standard_fuel_load());
        if (round == 1) {
            ASSERT_TRUE(
                eventually([&] { return console_.printed("[OK] Aircraft detected from system state: 'C172'"); }));
        }
        manager_.disconnect();
        callbacks_.clear();
        ASSERT_TRUE(manager_.connect(kClientName));
    }
    running = false;
    dispatch.join();
}

}  // namespace
}  // namespace velmar::test
