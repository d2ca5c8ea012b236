// The substitute client library against a sim-standin process: what each call
// carries, the records that come back, the simulated aircraft.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <limits>

#include "standin_harness.h"

namespace velmar::test {
namespace {

constexpr DWORD kEventId = SIMCONNECT_RECV_ID_EVENT;
constexpr DWORD kExceptionId = SIMCONNECT_RECV_ID_EXCEPTION;
constexpr DWORD kDataId = SIMCONNECT_RECV_ID_SIMOBJECT_DATA;
constexpr DWORD kStateId = SIMCONNECT_RECV_ID_SYSTEM_STATE;
constexpr DWORD kQuitId = SIMCONNECT_RECV_ID_QUIT;

HRESULT transmit(HANDLE handle, DWORD event) {
    return SimConnect_TransmitClientEvent(handle, 0, event, 0, SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                          SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
}

HRESULT request_state(HANDLE handle) { return SimConnect_RequestSystemState(handle, 3, "AircraftLoaded"); }

std::vector<double> pick(const std::vector<double>& values, std::initializer_list<Field> fields) {
    std::vector<double> picked;
    for (Field field : fields) picked.push_back(static_cast<std::size_t>(field) < values.size() ? values[field] : std::nan(""));
    return picked;
}

TEST(StandinCallLog, EveryArgumentArrivesExactlyAsPassed) {
    Standin standin;
    reach(standin);
    HANDLE h = nullptr;
    SimConnect_Open(&h, "Velmar \"Tracker\"\n\x01", reinterpret_cast<HWND>(0x10), 1234, reinterpret_cast<HANDLE>(0x20),
                    SIMCONNECT_OPEN_CONFIGINDEX_LOCAL);
    SimConnect_AddToDataDefinition(h, 0, "PLANE ALTITUDE", "feet");
    SimConnect_AddToDataDefinition(h, 100, "Initial Position", nullptr, SIMCONNECT_DATATYPE_INITPOSITION);
    SimConnect_AddToDataDefinition(h, 4294967295u, "PLANE ALTITUDE", "", SIMCONNECT_DATATYPE_FLOAT32, 0.1f, 42);
    SimConnect_MapClientEventToSimEvent(h, 4, "PAUSE_TOGGLE");
    SimConnect_AddClientEventToNotificationGroup(h, 1, 4, -1);
    SimConnect_SetNotificationGroupPriority(h, 0, SIMCONNECT_GROUP_PRIORITY_LOWEST);
    SimConnect_SubscribeToSystemEvent(h, 8, "Sim");
    SimConnect_RequestDataOnSimObject(h, 5, 7, SIMCONNECT_UNUSED, SIMCONNECT_PERIOD_SECOND, 3, 4294967295u, 0, 10);
    SimConnect_RequestSystemState(h, 3, nullptr);
    SimConnect_TransmitClientEvent(h, 0, 4, 4294967295u, 1, 16);
    double gallons = 26.5;
    SimConnect_SetDataOnSimObject(h, 103, 0, 0, 0, sizeof gallons, &gallons);
    unsigned char bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
    SimConnect_SetDataOnSimObject(h, 0, 0, 1, 2, 4, bytes);
    SimConnect_Close(h);
    SimConnect_Open(&h, nullptr, nullptr, 0, nullptr, 0);
    SIMCONNECT_RECV* record = nullptr;
    DWORD size = 0;
    EXPECT_EQ(SimConnect_GetNextDispatch(h, &record, &size), S_OK);  // leaves no line
    // Each line is on disk before its call returns.
    EXPECT_EQ(standin.log_lines(),
              (std::vector<std::string>{
                  "SimConnect_Open \"Velmar \\\"Tracker\\\"\\n\\u0001\" 1 1234 1 4294967295 -> 0",
                  "SimConnect_AddToDataDefinition 0 \"PLANE ALTITUDE\" \"feet\" 4 0 4294967295 -> 0",
                  "SimConnect_AddToDataDefinition 100 \"Initial Position\" null 12 0 4294967295 -> 0",
                  "SimConnect_AddToDataDefinition 4294967295 \"PLANE ALTITUDE\" \"\" 3 0.1 42 -> 0",
                  "SimConnect_MapClientEventToSimEvent 4 \"PAUSE_TOGGLE\" -> 0",
                  "SimConnect_AddClientEventToNotificationGroup 1 4 -1 -> 0",
                  "SimConnect_SetNotificationGroupPriority 0 4000000000 -> 0",
                  "SimConnect_SubscribeToSystemEvent 8 \"Sim\" -> 0",
                  "SimConnect_RequestDataOnSimObject 5 7 4294967295 4 3 4294967295 0 10 -> 0",
                  "SimConnect_RequestSystemState 3 null -> 0",
                  "SimConnect_TransmitClientEvent 0 4 4294967295 1 16 -> 0",
                  "SimConnect_SetDataOnSimObject 103 0 0 0 8 0000000000803a40 -> 0",
                  "SimConnect_SetDataOnSimObject 0 0 1 2 4 0102030405060708 -> 0",
                  "SimConnect_Close -> 0",
                  "SimConnect_Open null 0 0 0 0 -> 0",
              }));
    SimConnect_Close(h);
}

TEST(StandinCallLog, FailuresAnswerTheCallsWithNoOtherEffect) {
    Standin standin;
    reach(standin);
    standin.control("fail SimConnect_Open -2147467259 1");
    HANDLE refused = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&refused, "refused", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(refused, reinterpret_cast<HANDLE>(0x1234));
    Client client(standin, "welcome");
    ASSERT_TRUE(client.ready());
    standin.control("fail SimConnect_RequestSystemState 5");
    EXPECT_EQ(request_state(client.handle()), 5);
    EXPECT_EQ(request_state(client.handle()), 5);
    EXPECT_TRUE(client.drain().empty());
    standin.control("fail SimConnect_RequestSystemState 0");
    EXPECT_EQ(request_state(client.handle()), S_OK);
    EXPECT_EQ(of_id(client.drain(), kStateId).size(), 1u);
    standin.control("fail SimConnect_Close -1");
    EXPECT_EQ(client.close(), S_OK);
    EXPECT_EQ(standin.log_lines(), (std::vector<std::string>{
                                       "SimConnect_Open \"refused\" 0 0 0 0 -> -2147467259",
                                       "SimConnect_Open \"welcome\" 0 0 0 0 -> 0",
                                       "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 5",
                                       "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 5",
                                       "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0",
                                       "SimConnect_Close -> -1",
                                   }));
}

TEST(StandinRecords, ArriveIntactAndInOrder) {
    Standin standin({"--aircraft", "My Folder\\aircraft.cfg"});
    Client client(standin);
    ASSERT_TRUE(client.ready());
    const std::string path260(260, 'p');
    for (const std::string& line : {std::string("exception 31"), std::string("event 4 -1"), "state 3 " + path260,
                                    std::string("sample 9 nan inf -inf 0.5 -3 1e300 0 9000 -0"), std::string("state 4"),
                                    std::string("state 5  two blanks ")}) {
        standin.control(line);
    }
    const auto records = client.collect_ids(kStateId, 3);
    std::vector<DWORD> ids;
    for (const auto& record : records) {
        ids.push_back(record.id());
        EXPECT_EQ(record.as<SIMCONNECT_RECV>().dwSize, record.bytes.size());
    }
    ASSERT_EQ(ids, (std::vector<DWORD>{kExceptionId, kEventId, kStateId, kDataId, kStateId, kStateId}));
    EXPECT_EQ(records[0].as<SIMCONNECT_RECV_EXCEPTION>().dwException, 31u);
    EXPECT_EQ(events_of(records), (Events{{4, 4294967295u}}));

    const auto state = [&](std::size_t i) { return records[i].as<SIMCONNECT_RECV_SYSTEM_STATE>(); };
    EXPECT_EQ(records[2].bytes.size(), sizeof(SIMCONNECT_RECV_SYSTEM_STATE));
    EXPECT_EQ(state(2).dwRequestID, 3u);
    EXPECT_EQ(std::string(state(2).szString, MAX_PATH), path260);  // no terminating zero
    EXPECT_EQ(state(4).dwRequestID, 4u);
    EXPECT_STREQ(state(4).szString, "");
    EXPECT_STREQ(state(5).szString, " two blanks ");

    const auto data = records[3].as<SIMCONNECT_RECV_SIMOBJECT_DATA>();
    EXPECT_EQ(records[3].bytes.size(), 40u + 9 * sizeof(double));
    EXPECT_EQ(data.dwRequestID, 9u);
    EXPECT_EQ(data.dwDefineID, 0u);
    EXPECT_EQ(data.dwObjectID, SIMCONNECT_OBJECT_ID_USER);
    EXPECT_EQ(data.dwDefineCount, 9u);
    const auto values = records[3].doubles();
    ASSERT_EQ(values.size(), 9u);
    EXPECT_TRUE(std::isnan(values[0]));
    EXPECT_EQ(std::vector<double>(values.begin() + 1, values.end()),
              (std::vector<double>{INFINITY, -INFINITY, 0.5, -3, 1e300, 0, 9000, 0}));
    EXPECT_TRUE(std::signbit(values[8]));

    // "AircraftLoaded" is answered before the call returns, with the path in force.
    EXPECT_EQ(request_state(client.handle()), S_OK);
    const auto loaded = client.drain();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_STREQ(loaded[0].as<SIMCONNECT_RECV_SYSTEM_STATE>().szString, "My Folder\\aircraft.cfg");
}

TEST(StandinAircraft, ChangedSendsTheFirstFrameAlwaysThenOnlyChanges) {
    Standin standin;
    Client client(standin);
    ASSERT_TRUE(client.ready());
    add_sample_definition(client.handle());
    standin.control("freeze on");
    for (int request = 0; request < 2; ++request) {  // asking again gives a fresh first frame
        ASSERT_EQ(request_samples(client.handle()), S_OK);
        const auto records = client.collect_ids(kDataId);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].as<SIMCONNECT_RECV_SIMOBJECT_DATA>().dwRequestID, 2u);
        EXPECT_EQ(pick(records[0].doubles(), {kAirspeed, kVerticalSpeed, kOnGround}),
                  (std::vector<double>{120, 500, 0}));
        standin.control("wait 150");  // frozen: nothing changes, nothing is sent
        EXPECT_TRUE(client.drain().empty());
    }
    standin.control("freeze off");
    auto records = of_id(client.collect_ids(kDataId, 3), kDataId);
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 1; i < records.size(); ++i) {
        const auto before = pick(records[i - 1].doubles(), {kAltitude, kHeading, kFuel});
        const auto after = pick(records[i].doubles(), {kAltitude, kHeading, kFuel});
        EXPECT_GT(after[0], before[0]);  // climbing
        EXPECT_NE(after[1], before[1]);  // turning
        EXPECT_LT(after[2], before[2]);  // burning fuel
    }

    // Without CHANGED every frame sends; PERIOD_NEVER stops.
    standin.control("freeze on");
    ASSERT_EQ(request_samples(client.handle(), SIMCONNECT_DATA_REQUEST_FLAG_DEFAULT), S_OK);
    EXPECT_EQ(of_id(client.collect_ids(kDataId, 3), kDataId).size(), 3u);
    SimConnect_RequestDataOnSimObject(client.handle(), 2, 0, 0, SIMCONNECT_PERIOD_NEVER);
    client.drain();  // frames sent before the stop came before its answer
    standin.control("wait 150");
    EXPECT_TRUE(client.drain().empty());
}

TEST(StandinAircraft, PositionAndFuelWritesShowInLaterSamples) {
    Standin standin;
    Client client(standin);
    ASSERT_TRUE(client.ready());
    const HANDLE h = client.handle();
    add_sample_definition(h);
    SimConnect_AddToDataDefinition(h, 100, "Initial Position", nullptr, SIMCONNECT_DATATYPE_INITPOSITION);
    SimConnect_AddToDataDefinition(h, 103, "FUEL TANK LEFT MAIN QUANTITY", "gallons");
    SimConnect_AddToDataDefinition(h, 104, "FUEL TANK RIGHT MAIN QUANTITY", "gallons");
    SimConnect_AddToDataDefinition(h, 105, "FUEL TANK CENTER QUANTITY", "gallons");
    standin.control("freeze on");
    request_samples(h);
    client.collect_ids(kDataId);
    SIMCONNECT_DATA_INITPOSITION positions[] = {{40.6413, -73.7781, 5000, 0, 0, 45, 0, 150},
                                                {51.4775, -0.4614, 83, 0, 0, 270, 1, 0}};
    for (auto& p : positions) {
        ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 100, 0, 0, 0, sizeof p, &p), S_OK);
        const auto records = of_id(client.collect_ids(kDataId), kDataId);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(
            pick(records[0].doubles(), {kLatitude, kLongitude, kAltitude, kHeading, kAirspeed, kOnGround}),
            (std::vector<double>{p.Latitude, p.Longitude, p.Altitude, p.Heading, 1.0 * p.Airspeed, 1.0 * p.OnGround}));
    }
    double tanks[] = {10, 20.25, 5.5};
    for (DWORD tank = 0; tank < 3; ++tank) SimConnect_SetDataOnSimObject(h, 103 + tank, 0, 0, 0, 8, &tanks[tank]);
    const auto records = client.collect_until([](const Received& r) { return pick(r.doubles(), {kFuel})[0] == 35.75; });
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(pick(records.back().doubles(), {kFuel}), (std::vector<double>{35.75}));
}

TEST(StandinPause, EachToggleOwnsItsFlagAndEventsFollowThePausedState) {
    Standin standin;
    Client client(standin);
    ASSERT_TRUE(client.ready());
    const HANDLE h = client.handle();
    const char* names[] = {"PAUSE_TOGGLE", "PAUSE_OFF", "ACTIVE_PAUSE_TOGGLE", "SIM_PAUSE_TOGGLE"};
    for (DWORD event = 4; event <= 7; ++event) SimConnect_MapClientEventToSimEvent(h, event, names[event - 4]);
    SimConnect_SubscribeToSystemEvent(h, 8, "Sim");
    SimConnect_SubscribeToSystemEvent(h, 4, "Pause");
    SimConnect_SubscribeToSystemEvent(h, 5, "Unpaused");
    SimConnect_SubscribeToSystemEvent(h, 6, "Paused");
    EXPECT_EQ(events_of(client.drain()), (Events{{8, 1}, {4, 0}}));  // the current states at once

    const std::pair<DWORD, Events> steps[] = {
        {4, {{4, 1}, {6, 1}}},  // PAUSE_TOGGLE: paused
        {6, {}},                // ACTIVE_PAUSE_TOGGLE: still paused
        {4, {}},                // pause flag off, active pause still on
        {5, {{4, 0}, {5, 0}}},  // PAUSE_OFF clears all three
        {5, {}},                // nothing to clear
        {7, {{4, 1}, {6, 1}}},  // SIM_PAUSE_TOGGLE
        {7, {{4, 0}, {5, 0}}},
        {6, {{4, 1}, {6, 1}}},
        {4, {}},
        {6, {}},
        {4, {{4, 0}, {5, 0}}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        ASSERT_EQ(transmit(h, steps[i].first), S_OK);
        EXPECT_EQ(events_of(client.drain()), steps[i].second) << "step " << i;
    }

    // The paused aircraft holds still.
    add_sample_definition(h);
    request_samples(h);
    client.collect_ids(kDataId, 2);
    transmit(h, 4);
    client.drain();
    standin.control("wait 150");
    EXPECT_TRUE(of_id(client.drain(), kDataId).empty());
    transmit(h, 4);
    EXPECT_EQ(of_id(client.collect_ids(kDataId), kDataId).size(), 1u);
}

TEST(StandinExceptions, UnknownIdsAndNamesAnswerOkAndSendAnExceptionLater) {
    Standin standin;
    Client client(standin);
    ASSERT_TRUE(client.ready());
    const HANDLE h = client.handle();
    double value = 1;
    EXPECT_EQ(SimConnect_AddToDataDefinition(h, 0, "NO SUCH VARIABLE", "feet"), S_OK);
    EXPECT_EQ(SimConnect_MapClientEventToSimEvent(h, 4, "NO_SUCH_EVENT"), S_OK);
    EXPECT_EQ(SimConnect_SubscribeToSystemEvent(h, 9, "Quit"), S_OK);
    EXPECT_EQ(SimConnect_RequestDataOnSimObject(h, 2, 55, 0, SIMCONNECT_PERIOD_VISUAL_FRAME), S_OK);
    EXPECT_EQ(transmit(h, 42), S_OK);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(h, 103, 0, 0, 0, 8, &value), S_OK);
    std::vector<std::pair<DWORD, DWORD>> codes;  // record id, exception
    for (const auto& record : client.drain()) {
        codes.emplace_back(record.id(), record.as<SIMCONNECT_RECV_EXCEPTION>().dwException);
    }
    EXPECT_EQ(codes, (std::vector<std::pair<DWORD, DWORD>>{{kExceptionId, 7},
                                                           {kExceptionId, 7},
                                                           {kExceptionId, 7},
                                                           {kExceptionId, 3},
                                                           {kExceptionId, 3},
                                                           {kExceptionId, 3}}));
}

TEST(StandinClients, EachHasItsOwnDefinitionsAndMappingsAndHearsTheSimulator) {
    Standin standin;
    Client first(standin, "first");
    Client second(standin, "second");
    ASSERT_TRUE(first.ready() && second.ready());
    SimConnect_AddToDataDefinition(first.handle(), 0, "PLANE ALTITUDE", "feet");
    add_sample_definition(second.handle());
    SimConnect_MapClientEventToSimEvent(first.handle(), 4, "PAUSE_TOGGLE");
    SimConnect_SubscribeToSystemEvent(second.handle(), 20, "Paused");
    request_samples(first.handle());
    request_samples(second.handle());
    EXPECT_EQ(of_id(first.collect_ids(kDataId), kDataId).back().doubles().size(), 1u);
    EXPECT_EQ(of_id(second.collect_ids(kDataId), kDataId).back().doubles().size(), 9u);
    second.drain();
    transmit(second.handle(), 4);  // never mapped by the second
    EXPECT_EQ(of_id(second.drain(), kExceptionId).size(), 1u);
    transmit(first.handle(), 4);  // the pause is the simulator's
    EXPECT_EQ(events_of(second.collect_ids(kEventId)), (Events{{20, 1}}));
    standin.control("event 77 3");
    EXPECT_EQ(events_of(first.collect_ids(kEventId)).back(), (std::pair<DWORD, DWORD>{77, 3}));
    EXPECT_EQ(events_of(second.collect_ids(kEventId)).back(), (std::pair<DWORD, DWORD>{77, 3}));

    // "quit" disconnects every client, each hears it once; the stand-in keeps listening.
    standin.control("quit");
    for (Client* client : {&first, &second}) {
        EXPECT_EQ(of_id(client->collect_ids(kQuitId), kQuitId).size(), 1u);
        EXPECT_EQ(request_state(client->handle()), E_FAIL);
        EXPECT_TRUE(client->drain().empty());
    }
    EXPECT_TRUE(Client(standin).ready());
}

TEST(StandinClients, CallsFromSeveralThreadsOnOneHandleAllGetThrough) {
    Standin standin;
    Client client(standin);
    ASSERT_TRUE(client.ready());
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) failures += request_state(client.handle()) != S_OK;
        });
    }
    const auto states = client.collect_ids(kStateId, 200);  // dispatching meanwhile
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(of_id(states, kStateId).size(), 200u);
    EXPECT_EQ(standin.log_lines().size(), 201u);
}

TEST(StandinGone, KilledTheClientGetsOneQuitAfterWhatWasWaitingThenFailuresAndNoHang) {
    Standin standin;
    Client client(standin);
    ASSERT_TRUE(client.ready());
    standin.control("event 1");
    standin.process().send_signal(SIGKILL);
    ASSERT_TRUE(standin.process().wait().has_value());
    const auto records = client.collect_ids(kQuitId);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].id(), kEventId);
    EXPECT_EQ(records[1].id(), kQuitId);
    EXPECT_EQ(records[1].bytes.size(), sizeof(SIMCONNECT_RECV_QUIT));
    EXPECT_EQ(request_state(client.handle()), E_FAIL);
    EXPECT_TRUE(client.drain().empty());
    EXPECT_EQ(client.close(), S_OK);

    // Nothing listens there now, or the port is no port: a failure, the handle untouched.
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    for (const std::string& setting : {std::string("not a port"), std::to_string(standin.port())}) {
        ::setenv("SIMCONNECT_STANDIN_PORT", setting.c_str(), 1);
        EXPECT_EQ(SimConnect_Open(&handle, "nobody", nullptr, 0, nullptr, 0), E_FAIL) << setting;
        EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234)) << setting;
    }
}

}  // namespace
}  // namespace velmar::test
