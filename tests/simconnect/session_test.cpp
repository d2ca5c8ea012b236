// Sample decoding, then the session against sim-standin, checked byte-exact
// against the console and the stand-in's call log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <thread>

#include "bridge/diagnostic_file.h"
#include "simconnect/liveness.h"
#include "simconnect/sample_definition.h"
#include "simconnect/simconnect_manager.h"
#include "support/capture.h"
#include "support/process.h"

namespace velmar::test {
namespace {

using Lines = std::vector<std::string>;
const std::string kClientName = "Velmar Session Test";

Lines join(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

using Values = std::array<double, 9>;
using Limits = std::numeric_limits<double>;

FlightData decode(const Values& values) {
    return decode_sample(reinterpret_cast<const unsigned char*>(values.data()), "");
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// A simulator that goes quiet is asked once after 5 s and counts as gone
// when nothing at all has come 5 s after the question; any record answers.
// Each row: seconds since the connection began, whether a record came then,
// and the verdict of a check made at that moment.
TEST(Liveness, AskedAfterFiveQuietSecondsGoneFiveSecondsLater) {
    using Verdict = LivenessWatch::Verdict;
    const struct {
        double at;
        bool heard;
        Verdict verdict;
    } rows[] = {
        {4.9, false, Verdict::alive},  {5.0, false, Verdict::ask},    {6.0, false, Verdict::alive},
        {7.0, true, Verdict::alive},   {11.9, false, Verdict::alive}, {12.0, false, Verdict::ask},
        {16.9, false, Verdict::alive}, {17.0, false, Verdict::gone},
    };
    const auto start = LivenessWatch::Clock::now();
    LivenessWatch watch;
    watch.restart(start);
    for (const auto& row : rows) {
        const auto now =
            start + std::chrono::duration_cast<LivenessWatch::Clock::duration>(std::chrono::duration<double>(row.at));
        if (row.heard) watch.heard(now);
        EXPECT_EQ(watch.check(now), row.verdict) << "at " << row.at << " s";
    }
}

// Each variable lands in its keys bit for bit; "SIM ON GROUND" counts as set
// when it is not zero (NaN included).
TEST(SampleDecoding, EachVariableLandsInItsKeysAndSimOnGroundIsSetWhenNotZero) {
    const double nan_payload = std::bit_cast<double>(0x7ff8dead0000beefULL);
    for (const double on_ground : {1.0, -0.0, nan_payload, 0.0}) {
        const Values v{9000.25, -0.0, nan_payload, 359.99999999999994, -Limits::infinity(), 5e-324, on_ground,
                       47.43183333333333, -11.939666666666668};
        const FlightData d = decode(v);
        const std::pair<double, double> copies[] = {
            {d.altitude, v[0]},      {d.indicated_altitude, v[0]}, {d.airspeed_indicated, v[1]},
            {d.airspeed_true, v[1]}, {d.gps_ground_speed, v[2]},   {d.heading_magnetic, v[3]},
            {d.heading_true, v[3]},  {d.vertical_speed, v[4]},     {d.fuel_quantity, v[5]},
            {d.latitude, v[7]},      {d.longitude, v[8]},
        };
        for (const auto& [field, value] : copies) EXPECT_EQ(bits(field), bits(value));
        EXPECT_EQ(d.is_paused, on_ground != 0.0 || std::isnan(on_ground)) << on_ground;
    }
}

// A manager against a fresh sim-standin, its console captured, APPDATA a
// scratch folder holding a Velmar folder.
class SessionTest : public ::testing::Test {
protected:
    struct Seen {  // by the callbacks, on any thread
        std::vector<bool> connections;
        Lines errors;
        std::vector<FlightData> samples;
    };

    SessionTest() {
        ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(standin_.port()).c_str(), 1);
        ::setenv("APPDATA", app_data_.str().c_str(), 1);
        std::filesystem::create_directory(app_data_.path() / "Velmar");
        manager_.set_connection_callback(
            [this](bool on) { note([&](Seen& seen) { seen.connections.push_back(on); }); });
        manager_.set_sample_callback(
            [this](const FlightData& s) { note([&](Seen& seen) { seen.samples.push_back(s); }); });
        manager_.set_aircraft_state_callback(append_aircraft_diagnostic);  // as the bridge records it
        manager_.set_error_callback(
            [this](const std::string& e) { note([&](Seen& seen) { seen.errors.push_back(e); }); });
    }
    template <typename Change>
    void note(Change change) {
        std::lock_guard lock(mutex_);
        change(seen_);
    }
    Seen seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    Lines out() const { return out_.lines(); }
    Lines errors() const { return error_.lines(); }
    bool printed(const Lines& wanted) const {  // in this order, maybe with other lines between
        const Lines lines = out();
        auto at = lines.begin();
        for (const std::string& line : wanted) {
            if ((at = std::find(at, lines.end(), line)) == lines.end()) return false;
        }
        return true;
    }
    Lines log() const {  // since the last clear_all
        const Lines lines = standin_.log_lines();
        return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(log_mark_, lines.size())), lines.end()};
    }
    void clear_all() {
        out_.clear();
        error_.clear();
        note([](Seen& seen) { seen = {}; });
        log_mark_ = standin_.log_lines().size();
    }
    // Sends the control lines, then makes a call that the stand-in answers only
    // after every record sent before it: one dispatch call then finds them all.
    void handle(const Lines& control_lines) {
        for (const std::string& line : control_lines) standin_.control(line);
        manager_.stop_data_collection();
        manager_.dispatch_messages();
    }
    void connect_and_settle() {  // the open record and the first "Sim" and "Pause" states handled
        ASSERT_TRUE(manager_.connect(kClientName));
        handle({});
        clear_all();
    }
    template <typename Predicate>
    bool dispatch_until(Predicate done) {
        return eventually([&] {
            manager_.dispatch_messages();
            return done();
        });
    }

    Standin standin_;
    ScratchDir app_data_;
    const std::string diagnostic_file_ = (app_data_.path() / "Velmar" / "aircraft_diagnostic.txt").string();
    Capture out_{1};
    Capture error_{2};
    mutable std::mutex mutex_;
    Seen seen_;
    SimConnectManager manager_;
    std::size_t log_mark_ = 0;
};

const Lines kRegistration = {
    R"(SimConnect_Open ")" + kClientName + R"(" 0 0 0 0 -> 0)",
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
    R"(SimConnect_SubscribeToSystemEvent 10 "Pause_EX1" -> 0)",
};

TEST_F(SessionTest, ConnectRegistersOnceDisconnectClosesAndRefusedOpensAreReported) {
    for (int round = 0; round < 2; ++round) {  // never connected, then closed again: silent and false
        manager_.dispatch_messages();
        manager_.start_data_collection();
        manager_.stop_data_collection();
        EXPECT_FALSE(manager_.trigger_regular_pause() || manager_.force_unpause() || manager_.trigger_active_pause() ||
                     manager_.trigger_sim_pause() || manager_.set_aircraft_position(1, 2, 3, 4) ||
                     manager_.position_at_rattenberg() || manager_.set_fuel_distribution(1, 2) ||
                     manager_.set_standard_fuel_load());
        EXPECT_TRUE(log().empty() && out().empty() && errors().empty() && seen().errors.empty());

        ASSERT_TRUE(manager_.connect(kClientName));
        EXPECT_TRUE(manager_.connect(kClientName));  // already open: nothing at all
        EXPECT_EQ(log(), kRegistration);
        EXPECT_EQ(out(),
                  (Lines{"[DEBUG] Minimal data definition (9 variables) - testing live data restoration",
                         "[DEBUG] Pause control events mapped with input groups", "Connected to MSFS SimConnect"}));
        EXPECT_EQ(seen().connections, std::vector<bool>{true});
        handle({});
        EXPECT_TRUE(errors().empty()) << "the refusals of \"Quit\" and the reused ids are expected";
        EXPECT_EQ(manager_.pause_modes(), 0U) << "known from the subscription";
        clear_all();
        manager_.disconnect();
        manager_.disconnect();  // closed already: nothing
        EXPECT_EQ(log(), Lines{"SimConnect_Close -> 0"});
        EXPECT_EQ(out(), Lines{"Disconnected from MSFS SimConnect"});
        EXPECT_EQ(seen().connections, std::vector<bool>{false});
        clear_all();
    }
    standin_.control("fail SimConnect_Open " + kEFail);
    for (bool with_error_callback : {true, false}) {
        if (!with_error_callback) manager_.set_error_callback(nullptr);
        EXPECT_FALSE(manager_.connect(kClientName));
        EXPECT_EQ(seen().errors, with_error_callback ? Lines{"Failed to connect to MSFS SimConnect"} : Lines{});
        EXPECT_TRUE(seen().connections.empty() && out().empty() && errors().empty());
        EXPECT_EQ(log(), Lines{R"(SimConnect_Open ")" + kClientName + R"(" 0 0 0 0 -> )" + kEFail});
        clear_all();
    }
}

TEST_F(SessionTest, DispatchHandlesEveryRecordKindAndNoticesTheLinkGo) {
    connect_and_settle();
    // Exceptions that name no registration packet are reported, whatever their code.
    const Lines reported = {"SimConnect Exception: 3", "SimConnect Exception: 9", "SimConnect Exception: 4000000000"};
    // Every kind of record, all drained by one dispatch call. Only "Pause_EX1"
    // (id 10) carries the pause state; events 4 and 5 are notifications.
    handle(join({"exception 3", "exception 9", "exception 4000000000"},
                {"event 4 1", "event 5 1", "event 10 1", "event 10 5", "event 1000", "event 10 0", "event 10 0",
                 "sample 2 9000 120.5 118 207 -500 53.25 1 47.43183333333333 11.939666666666668",
                 "sample 7 1 2 3 4 5 6 7 8 9", R"(state 4 SimObjects\Airplanes\Ignored\aircraft.cfg)",
                 R"(state 3 SimObjects\Airplanes\Asobo_TBM930\aircraft.cfg)", "sample 4294967295 1 2 3 4 5 6 7 8 9",
                 "sample 2 nan inf -inf 0 -0 0 -0 0 0", "event 10 8"}));
    EXPECT_EQ(out(), (Lines{"Simulator paused", "Simulator unpaused", "[DEBUG] Received unknown data request ID: 7",
                            "[DIAG] Received aircraft system state", "[DIAG] Writing to: " + diagnostic_file_,
                            "[OK] Aircraft detected from system state: 'TBM930'",
                            "[DIAG] Aircraft data dumped to: " + diagnostic_file_,
                            "[DEBUG] Received unknown data request ID: 4294967295", "Simulator paused"}));
    EXPECT_EQ(manager_.pause_modes(), 8U);
    EXPECT_EQ(errors(), reported);
    EXPECT_EQ(seen().errors, reported);
    const std::vector<FlightData> samples = seen().samples;
    ASSERT_EQ(samples.size(), 2U);
    EXPECT_TRUE(samples[0].airspeed_true == 120.5 && samples[0].longitude == 11.939666666666668);
    EXPECT_EQ(samples[0].aircraft_title + "/" + samples[0].aircraft_type, "MSFS 2024 Aircraft/Connected");
    EXPECT_TRUE(std::isnan(samples[1].altitude) && samples[1].airspeed_indicated == HUGE_VAL);
    EXPECT_EQ(samples[1].aircraft_title + "/" + samples[1].aircraft_type, "TBM930/TBM9");

    // A shutdown arriving mid-drain ends it after the record in hand, and
    // every later drain stays interrupted: a fast stream cannot hold it up.
    clear_all();
    manager_.set_sample_callback([this](const FlightData& s) {
        note([&](Seen& seen) { seen.samples.push_back(s); });
        manager_.interrupt_dispatch();
    });
    handle({"sample 2 1 0 0 0 0 0 0 0 0", "sample 2 2 0 0 0 0 0 0 0 0"});
    manager_.dispatch_messages();
    EXPECT_EQ(seen().samples.size(), 1U);
    manager_.disconnect();

    // The end of a link is remembered, and nothing else done, until the owner
    // disconnects: the simulator's quit record, or (a simulator killed sends
    // none) the library's saying the connection is gone.
    const struct {
        bool killed;
        Lines errors;
    } endings[] = {
        {false, {}},
        {true, {"[CUSTOM ERROR] Connection to MSFS lost: SimConnect_GetNextDispatch returned 0xC000013E"}},
    };
    for (const auto& ending : endings) {
        SCOPED_TRACE(ending.killed ? "killed" : "quit");
        ASSERT_TRUE(manager_.connect(kClientName));
        EXPECT_FALSE(manager_.link_lost());
        clear_all();
        if (ending.killed) {
            standin_.process().send_signal(SIGKILL);
        } else {
            standin_.control("quit");
        }
        ASSERT_TRUE(dispatch_until([&] { return manager_.link_lost(); }));
        EXPECT_TRUE(manager_.is_connected() && out().empty() && seen().connections.empty());
        EXPECT_EQ(errors(), ending.errors);
        manager_.disconnect();
        EXPECT_EQ(manager_.pause_modes(), std::nullopt);
    }
}

TEST_F(SessionTest, DiagnosticRecordsAreAppendedByteExactUnlessTheFileCannotBeOpened) {
    const auto record = [](const std::string& path, const std::string& name) {
        return "\n=== AIRCRAFT SYSTEM STATE ===\nTimestamp: T\nData Size: 284 bytes\nRequest ID: 3\nInteger Value: "
               "0\nFloat Value: 0\n\nAircraft File Path:\nFull Path: '" +
               path + "'\nLength: " + std::to_string(path.size()) + " characters\nExtracted Aircraft Name: '" + name +
               "'\n\n\n";
    };
    const std::string first = R"(SimObjects\Airplanes\Asobo_C172\aircraft.cfg)";
    const std::string full = "a/" + std::string(250, 'B') + "/aircraf";  // fills the field, no zero after it
    connect_and_settle();
    write_file(diagnostic_file_, "earlier\n");
    handle({"state 3 " + first, "state 3 " + full});
    const std::string content = read_file(diagnostic_file_);
    const std::regex time("Timestamp: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n");
    EXPECT_EQ(std::regex_replace(content, time, "Timestamp: T\n"),
              "earlier\n" + record(first, "C172") + record(full, std::string(250, 'B')));

    for (const char* name : {"APPDATA", "XDG_DATA_HOME", "HOME"}) ::unsetenv(name);  // nothing else here reads them
    clear_all();
    handle({"state 3 " + first});
    ::setenv("APPDATA", app_data_.str().c_str(), 1);
    EXPECT_EQ(read_file(diagnostic_file_), content);
    std::filesystem::remove_all(app_data_.path() / "Velmar");
    handle({"state 3 " + first, "sample 2 1 2 3 4 5 6 7 8 9"});
    EXPECT_EQ(out(), (Lines{"[DIAG] Received aircraft system state", "[DIAG ERROR] Could not get APPDATA path",
                            "[DIAG] Received aircraft system state",
                            "[DIAG ERROR] Could not open diagnostic file: " + diagnostic_file_}));
    EXPECT_FALSE(std::filesystem::exists(app_data_.path() / "Velmar"));
    ASSERT_EQ(seen().samples.size(), 1U);
    EXPECT_EQ(seen().samples[0].aircraft_title, std::string(250, 'B'));  // kept through both failures
}

const std::string kStartCall = "SimConnect_RequestDataOnSimObject 2 0 0 2 1 0 0 0 -> ";
const std::string kAircraftCall = R"(SimConnect_RequestSystemState 3 "AircraftLoaded" -> )";
const std::string kRequesting = "[DEBUG] Requesting aircraft system state...";
const std::string kRequestSent = "[DEBUG] Aircraft system state request sent successfully";

TEST_F(SessionTest, CollectionStartsStopsAndRequestsTheAircraftTwoSecondsAfterEachStart) {
    connect_and_settle();
    standin_.control("fail SimConnect_RequestDataOnSimObject " + kEFail + " 1");
    manager_.start_data_collection();
    EXPECT_EQ(seen().errors, Lines{"Failed to start data collection: " + kEFail});
    EXPECT_EQ(log(), Lines{kStartCall + kEFail});
    EXPECT_TRUE(out().empty());
    clear_all();
    for (const std::string& result : {std::string("0"), kEFail}) {  // the restart's aircraft request is refused
        SCOPED_TRACE(result);
        if (result != "0") standin_.control("fail SimConnect_RequestSystemState " + result + " 1");
        manager_.start_data_collection();
        // The answer may be printed before the requesting thread reports the request sent.
        const std::string outcome =
            result == "0" ? kRequestSent : "[DEBUG] Aircraft system state request failed: " + result;
        ASSERT_TRUE(dispatch_until([&] {
            const Seen now = seen();
            return printed({"[OK] Data collection started at 5Hz", "[OK] Aircraft detection diagnostic mode enabled",
                            kRequesting, outcome}) &&
                   !now.samples.empty() && now.samples.back().aircraft_title == "C172";
        }));
        EXPECT_EQ(seen().samples.back().aircraft_type, "C172");
        EXPECT_EQ(log(), (Lines{kStartCall + "0", kAircraftCall + result}));
        EXPECT_EQ(std::ranges::count(out(), kRequestSent), result == "0" ? 1 : 0);

        clear_all();
        manager_.stop_data_collection();
        EXPECT_EQ(log(), Lines{"SimConnect_RequestDataOnSimObject 2 0 0 0 0 0 0 0 -> 0"});
        EXPECT_TRUE(out().empty() && seen().errors.empty());
        clear_all();
    }
    manager_.start_data_collection();  // closed within the two seconds: nothing requested
    manager_.disconnect();
    ASSERT_TRUE(manager_.connect(kClientName));
    clear_all();
    manager_.start_data_collection();
    ASSERT_TRUE(eventually([&] { return printed({kRequesting, kRequestSent}); }));
    EXPECT_EQ(std::ranges::count(out(), kRequesting), 1);
    EXPECT_EQ(log(), (Lines{kStartCall + "0", kAircraftCall + "0"}));
}

// The bridge's shape: a dispatch thread drains while the owner's thread sends
// commands and closes the connection under it.
TEST_F(SessionTest, OwnerMayCloseWhileTheDispatchThreadDrains) {
    connect_and_settle();
    std::atomic<bool> running{true};
    std::thread dispatch([&] {
        for (; running; std::this_thread::sleep_for(std::chrono::milliseconds(1))) manager_.dispatch_messages();
    });
    for (int round = 0; round < 2; ++round) {
        clear_all();
        manager_.start_data_collection();
        ASSERT_TRUE(eventually([&] { return seen().samples.size() >= 5; }));
        EXPECT_TRUE(manager_.trigger_regular_pause() && manager_.force_unpause() && manager_.position_at_rattenberg() &&
                    manager_.set_standard_fuel_load());
        if (round == 1) {
            ASSERT_TRUE(eventually([&] { return printed({"[OK] Aircraft detected from system state: 'C172'"}); }));
        }
        manager_.disconnect();
        ASSERT_TRUE(manager_.connect(kClientName));
    }
    running = false;
    dispatch.join();
}

// A definition the simulator refused is made again at the next command, then
// never again; a write refused for one tank still writes the others. What each
// command sends and prints when all goes well is checked end to end.
TEST_F(SessionTest, RefusedDefinitionsAreMadeAtTheNextCommandThenNeverAgain) {
    const struct {
        bool (SimConnectManager::*command)();
        std::string refused, made;
        std::ptrdiff_t definitions;  // per attempt
    } rows[] = {
        {&SimConnectManager::position_at_rattenberg, "[DEBUG] Failed to create position data definition: " + kEFail,
         "[DEBUG] Position data definition created", 1},
        {&SimConnectManager::set_standard_fuel_load,
         "[DEBUG] Failed to create tank data definitions: " + kEFail + ", 0, 0",
         "[DEBUG] Tank fuel data definitions created (L/C/R)", 3},
    };
    connect_and_settle();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.made);
        clear_all();
        standin_.control("fail SimConnect_AddToDataDefinition " + kEFail + " 1");
        EXPECT_FALSE((manager_.*row.command)());
        EXPECT_TRUE((manager_.*row.command)() && (manager_.*row.command)());
        const Lines calls = log();
        const auto count = [&](const std::string& function) {
            return std::ranges::count_if(calls, [&](const std::string& call) { return call.starts_with(function); });
        };
        EXPECT_EQ(count("SimConnect_AddToDataDefinition "), 2 * row.definitions);  // refused, made
        EXPECT_EQ(count("SimConnect_SetDataOnSimObject "), 2 * row.definitions);   // nothing while undefined
        EXPECT_EQ(std::ranges::count(out(), row.refused), 1);
        EXPECT_EQ(std::ranges::count(out(), row.made), 1);
    }
    standin_.control("fail SimConnect_SetDataOnSimObject " + kEFail + " 1");
    EXPECT_FALSE(manager_.set_standard_fuel_load());
    EXPECT_TRUE(printed({"[DEBUG] Fuel distribution failed: Left=" + kEFail + ", Right=0, Center=0"}));
}

}  // namespace
}  // namespace velmar::test
