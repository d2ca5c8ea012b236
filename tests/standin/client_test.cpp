// The substitute client library against the stand-in's engine run in-process:
// what each call carries, the records that come back, the simulated aircraft.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include "standin_harness.h"

namespace velmar::test {
namespace {

constexpr DWORD kSampleRequest = 2;
constexpr DWORD kOpenId = SIMCONNECT_RECV_ID_OPEN;
constexpr DWORD kQuitId = SIMCONNECT_RECV_ID_QUIT;
constexpr DWORD kEventId = SIMCONNECT_RECV_ID_EVENT;
constexpr DWORD kExceptionId = SIMCONNECT_RECV_ID_EXCEPTION;
constexpr DWORD kDataId = SIMCONNECT_RECV_ID_SIMOBJECT_DATA;
constexpr DWORD kStateId = SIMCONNECT_RECV_ID_SYSTEM_STATE;

// Sample definition order (see add_sample_definition).
enum Field {
    kAltitude,
    kAirspeed,
    kGroundSpeed,
    kHeading,
    kVerticalSpeed,
    kFuelTotal,
    kOnGround,
    kLatitude,
    kLongitude
};

std::vector<Received> of_id(const std::vector<Received>& records, DWORD id) {
    std::vector<Received> matching;
    for (const auto& record : records) {
        if (record.id() == id) matching.push_back(record);
    }
    return matching;
}

// The client event / data pairs of the event records among `records`.
std::vector<std::pair<DWORD, DWORD>> events_of(const std::vector<Received>& records) {
    std::vector<std::pair<DWORD, DWORD>> events;
    for (const auto& record : of_id(records, kEventId)) {
        const auto event = record.as<SIMCONNECT_RECV_EVENT>();
        events.emplace_back(event.uEventID, event.dwData);
    }
    return events;
}

// Opens a client and throws away its OPEN record.
class OpenClient : public TestClient {
public:
    explicit OpenClient(const char* name = "Test Client") : TestClient(name) {
        if (opened()) collect_ids(kOpenId, 1);
    }
};

HRESULT request_samples(HANDLE handle, DWORD flags = SIMCONNECT_DATA_REQUEST_FLAG_CHANGED) {
    return SimConnect_RequestDataOnSimObject(handle, kSampleRequest, 0, SIMCONNECT_OBJECT_ID_USER,
                                             SIMCONNECT_PERIOD_VISUAL_FRAME, flags);
}

struct LoggedCall {
    std::function<HRESULT(HANDLE)> call;
    std::string line;
};

TEST(StandinCallLog, EveryArgumentArrivesExactlyAsPassed) {
    InProcessStandin standin;
    HANDLE handle = nullptr;
    ASSERT_EQ(SimConnect_Open(&handle, "Velmar \"Tracker\"\n", reinterpret_cast<HWND>(0x10), 1234,
                              reinterpret_cast<HANDLE>(0x20), SIMCONNECT_OPEN_CONFIGINDEX_LOCAL),
              S_OK);

    double gallons = 26.5;
    SIMCONNECT_DATA_INITPOSITION on_ground{};
    on_ground.OnGround = 1;
    unsigned char bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const LoggedCall rows[] = {
        {[](HANDLE h) { return SimConnect_AddToDataDefinition(h, 0, "PLANE ALTITUDE", "feet"); },
         "SimConnect_AddToDataDefinition 0 \"PLANE ALTITUDE\" \"feet\" 4 0 4294967295 -> 0"},
        {[](HANDLE h) {
             return SimConnect_AddToDataDefinition(h, 100, "Initial Position", nullptr,
                                                   SIMCONNECT_DATATYPE_INITPOSITION);
         },
         "SimConnect_AddToDataDefinition 100 \"Initial Position\" null 12 0 4294967295 -> 0"},
        {[](HANDLE h) {
             return SimConnect_AddToDataDefinition(h, 7, "PLANE ALTITUDE", "feet", SIMCONNECT_DATATYPE_FLOAT32, 0.5f,
                                                   42);
         },
         "SimConnect_AddToDataDefinition 7 \"PLANE ALTITUDE\" \"feet\" 3 0.5 42 -> 0"},
        {[](HANDLE h) {
             return SimConnect_AddToDataDefinition(h, 4294967295u, "tab\there", "", SIMCONNECT_DATATYPE_FLOAT64, 9000);
         },
         "SimConnect_AddToDataDefinition 4294967295 \"tab\\there\" \"\" 4 9000 4294967295 -> 0"},
        {[](HANDLE h) { return SimConnect_MapClientEventToSimEvent(h, 4, "PAUSE_TOGGLE"); },
         "SimConnect_MapClientEventToSimEvent 4 \"PAUSE_TOGGLE\" -> 0"},
        {[](HANDLE h) { return SimConnect_MapClientEventToSimEvent(h, 10); },
         "SimConnect_MapClientEventToSimEvent 10 \"\" -> 0"},
        {[](HANDLE h) { return SimConnect_MapClientEventToSimEvent(h, 11, nullptr); },
         "SimConnect_MapClientEventToSimEvent 11 null -> 0"},
        {[](HANDLE h) { return SimConnect_AddClientEventToNotificationGroup(h, 0, 4); },
         "SimConnect_AddClientEventToNotificationGroup 0 4 0 -> 0"},
        {[](HANDLE h) { return SimConnect_AddClientEventToNotificationGroup(h, 0, 10, TRUE); },
         "SimConnect_AddClientEventToNotificationGroup 0 10 1 -> 0"},
        {[](HANDLE h) { return SimConnect_AddClientEventToNotificationGroup(h, 1, 11, -1); },
         "SimConnect_AddClientEventToNotificationGroup 1 11 -1 -> 0"},
        {[](HANDLE h) { return SimConnect_SetNotificationGroupPriority(h, 0, SIMCONNECT_GROUP_PRIORITY_LOWEST); },
         "SimConnect_SetNotificationGroupPriority 0 4000000000 -> 0"},
        {[](HANDLE h) { return SimConnect_SubscribeToSystemEvent(h, 8, "Sim"); },
         "SimConnect_SubscribeToSystemEvent 8 \"Sim\" -> 0"},
        {[](HANDLE h) { return SimConnect_SubscribeToSystemEvent(h, 9, "Quit"); },
         "SimConnect_SubscribeToSystemEvent 9 \"Quit\" -> 0"},
        {[](HANDLE h) { return request_samples(h); }, "SimConnect_RequestDataOnSimObject 2 0 0 2 1 0 0 0 -> 0"},
        {[](HANDLE h) { return SimConnect_RequestDataOnSimObject(h, 2, 0, 0, SIMCONNECT_PERIOD_NEVER, 0, 1, 2, 3); },
         "SimConnect_RequestDataOnSimObject 2 0 0 0 0 1 2 3 -> 0"},
        {[](HANDLE h) {
             return SimConnect_RequestDataOnSimObject(h, 5, 7, SIMCONNECT_UNUSED, SIMCONNECT_PERIOD_SECOND, 3,
                                                      4294967295u, 0, 10);
         },
         "SimConnect_RequestDataOnSimObject 5 7 4294967295 4 3 4294967295 0 10 -> 0"},
        {[](HANDLE h) { return SimConnect_RequestSystemState(h, 3, "AircraftLoaded"); },
         "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0"},
        {[](HANDLE h) { return SimConnect_RequestSystemState(h, 3, nullptr); },
         "SimConnect_RequestSystemState 3 null -> 0"},
        {[](HANDLE h) {
             return SimConnect_TransmitClientEvent(h, 0, 4, 0, SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                                   SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
         },
         "SimConnect_TransmitClientEvent 0 4 0 1 16 -> 0"},
        {[](HANDLE h) { return SimConnect_TransmitClientEvent(h, 0, 4, 4294967295u, 0, 0); },
         "SimConnect_TransmitClientEvent 0 4 4294967295 0 0 -> 0"},
        {[&](HANDLE h) { return SimConnect_SetDataOnSimObject(h, 103, 0, 0, 0, sizeof gallons, &gallons); },
         "SimConnect_SetDataOnSimObject 103 0 0 0 8 0000000000803a40 -> 0"},
        {[&](HANDLE h) { return SimConnect_SetDataOnSimObject(h, 100, 0, 0, 0, sizeof on_ground, &on_ground); },
         "SimConnect_SetDataOnSimObject 100 0 0 0 56 " + std::string(96, '0') + "0100000000000000 -> 0"},
        {[&](HANDLE h) { return SimConnect_SetDataOnSimObject(h, 0, 0, 1, 2, 4, bytes); },
         "SimConnect_SetDataOnSimObject 0 0 1 2 4 0102030405060708 -> 0"},
        {[](HANDLE h) { return SimConnect_SetDataOnSimObject(h, 0, 0, 0, 0, 0, nullptr); },
         "SimConnect_SetDataOnSimObject 0 0 0 0 0 null -> 0"},
        {[](HANDLE h) { return SimConnect_Close(h); }, "SimConnect_Close -> 0"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.call(handle), S_OK) << row.line;

    const auto log = standin.log_lines();
    ASSERT_EQ(log.size(), std::size(rows) + 1);
    EXPECT_EQ(log[0], "SimConnect_Open \"Velmar \\\"Tracker\\\"\\n\" 1 1234 1 4294967295 -> 0");
    for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(log[i + 1], rows[i].line);
}

TEST(StandinCallLog, NullNameAndGetNextDispatchAreLoggedAsAgreed) {
    InProcessStandin standin;
    HANDLE handle = nullptr;
    ASSERT_EQ(SimConnect_Open(&handle, nullptr, nullptr, 0, nullptr, 0), S_OK);
    SIMCONNECT_RECV* record = nullptr;
    DWORD size = 0;
    EXPECT_EQ(SimConnect_GetNextDispatch(handle, &record, &size), S_OK);  // the OPEN record
    SimConnect_Close(handle);
    EXPECT_EQ(standin.log_lines(),
              (std::vector<std::string>{"SimConnect_Open null 0 0 0 0 -> 0", "SimConnect_Close -> 0"}));
}

TEST(StandinFail, RefusedOpenIsLoggedReturnsItsResultAndLeavesTheHandleAlone) {
    InProcessStandin standin;
    standin.control("fail SimConnect_Open -2147467259");
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&handle, "refused", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(SimConnect_Open(&handle, "refused again", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234));
    standin.control("fail SimConnect_Open 0");
    OpenClient client("welcome");
    EXPECT_TRUE(client.opened());
    EXPECT_EQ(standin.log_lines(), (std::vector<std::string>{
                                       "SimConnect_Open \"refused\" 0 0 0 0 -> -2147467259",
                                       "SimConnect_Open \"refused again\" 0 0 0 0 -> -2147467259",
                                       "SimConnect_Open \"welcome\" 0 0 0 0 -> 0",
                                   }));
}

TEST(StandinFail, CountedFailuresAnswerTheNextCallsOnlyAndHaveNoOtherEffect) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    standin.control("fail SimConnect_RequestSystemState -5 2");
    EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), -5);
    EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), -5);
    EXPECT_TRUE(client.drain().empty());  // no answer to a failed request
    EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), S_OK);
    EXPECT_EQ(of_id(client.drain(), kStateId).size(), 1u);

    // A positive result is passed on too, and the event has no effect.
    SimConnect_MapClientEventToSimEvent(client.handle(), 4, "PAUSE_TOGGLE");
    SimConnect_SubscribeToSystemEvent(client.handle(), 1, "Pause");
    client.drain();
    standin.control("fail SimConnect_TransmitClientEvent 1");
    EXPECT_EQ(SimConnect_TransmitClientEvent(client.handle(), 0, 4, 0, 1, 16), 1);
    EXPECT_TRUE(client.drain().empty());
    standin.control("fail SimConnect_TransmitClientEvent 0");
    EXPECT_EQ(SimConnect_TransmitClientEvent(client.handle(), 0, 4, 0, 1, 16), S_OK);
    EXPECT_EQ(events_of(client.drain()), (std::vector<std::pair<DWORD, DWORD>>{{1, 1}}));

    const auto log = standin.log_lines();
    EXPECT_EQ(log[1], "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> -5");
    EXPECT_EQ(log[3], "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0");
    EXPECT_EQ(log[6], "SimConnect_TransmitClientEvent 0 4 0 1 16 -> 1");
}

TEST(StandinFail, CloseStillSucceedsForTheCaller) {
    InProcessStandin standin;
    standin.control("fail SimConnect_Close -1");
    TestClient client;
    ASSERT_TRUE(client.opened());
    EXPECT_EQ(SimConnect_Close(client.handle()), S_OK);
    EXPECT_EQ(standin.log_lines().back(), "SimConnect_Close -> -1");
}

TEST(StandinRecords, ControlRecordsArriveIntactAndInOrder) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    const std::string path260(260, 'p');
    standin.control("exception 31");
    standin.control("event 4 -1");
    standin.control("state 3 " + path260);
    standin.control("sample 9 nan inf -inf 0.5 -3 1e300 0 9000 -0");
    standin.control("state 4");
    standin.control("event 4294967295");
    const auto records = client.collect_ids(kEventId, 2);
    ASSERT_EQ(records.size(), 6u);

    const auto exception = records[0].as<SIMCONNECT_RECV_EXCEPTION>();
    EXPECT_EQ(exception.dwID, kExceptionId);
    EXPECT_EQ(exception.dwSize, sizeof(SIMCONNECT_RECV_EXCEPTION));
    EXPECT_EQ(records[0].size, sizeof(SIMCONNECT_RECV_EXCEPTION));
    EXPECT_EQ(exception.dwException, 31u);
    EXPECT_EQ(exception.dwSendID, DWORD{SIMCONNECT_RECV_EXCEPTION::UNKNOWN_SENDID});

    const auto event = records[1].as<SIMCONNECT_RECV_EVENT>();
    EXPECT_EQ(event.dwID, kEventId);
    EXPECT_EQ(event.dwSize, sizeof(SIMCONNECT_RECV_EVENT));
    EXPECT_EQ(event.uEventID, 4u);
    EXPECT_EQ(event.dwData, 4294967295u);
    EXPECT_EQ(event.uGroupID, DWORD{SIMCONNECT_RECV_EVENT::UNKNOWN_GROUP});

    // A path of MAX_PATH bytes fills szString with no terminating zero.
    EXPECT_EQ(records[2].id(), kStateId);
    EXPECT_EQ(records[2].size, sizeof(SIMCONNECT_RECV_SYSTEM_STATE));
    const auto full = records[2].as<SIMCONNECT_RECV_SYSTEM_STATE>();
    EXPECT_EQ(full.dwRequestID, 3u);
    EXPECT_EQ(std::string(full.szString, sizeof full.szString), path260);

    const auto data = records[3].as<SIMCONNECT_RECV_SIMOBJECT_DATA>();
    EXPECT_EQ(data.dwID, kDataId);
    EXPECT_EQ(data.dwSize, 40u + 9 * sizeof(double));
    EXPECT_EQ(records[3].size, data.dwSize);
    EXPECT_EQ(data.dwRequestID, 9u);
    EXPECT_EQ(data.dwDefineID, 0u);
    EXPECT_EQ(data.dwObjectID, SIMCONNECT_OBJECT_ID_USER);
    EXPECT_EQ(data.dwDefineCount, 9u);
    EXPECT_EQ(data.dwentrynumber, 1u);
    EXPECT_EQ(data.dwoutof, 1u);
    const auto values = records[3].doubles();
    ASSERT_EQ(values.size(), 9u);
    EXPECT_TRUE(std::isnan(values[0]));
    EXPECT_EQ(values[1], std::numeric_limits<double>::infinity());
    EXPECT_EQ(values[2], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(values[3], 0.5);
    EXPECT_EQ(values[4], -3);
    EXPECT_EQ(values[5], 1e300);
    EXPECT_EQ(values[6], 0);
    EXPECT_EQ(values[7], 9000);
    EXPECT_TRUE(values[8] == 0 && std::signbit(values[8]));

    const auto empty = records[4].as<SIMCONNECT_RECV_SYSTEM_STATE>();
    EXPECT_EQ(empty.dwRequestID, 4u);
    EXPECT_EQ(empty.szString[0], '\0');

    EXPECT_EQ(records[5].as<SIMCONNECT_RECV_EVENT>().uEventID, 4294967295u);
    EXPECT_EQ(records[5].as<SIMCONNECT_RECV_EVENT>().dwData, 0u);
}

TEST(StandinRecords, ARecordStaysValidUntilTheNextDispatch) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    const auto next = [&] {
        SIMCONNECT_RECV* record = nullptr;
        DWORD size = 0;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (SimConnect_GetNextDispatch(client.handle(), &record, &size) != S_OK) {
            if (std::chrono::steady_clock::now() > deadline) return static_cast<SIMCONNECT_RECV_SYSTEM_STATE*>(nullptr);
            std::this_thread::sleep_for(1ms);
        }
        return reinterpret_cast<SIMCONNECT_RECV_SYSTEM_STATE*>(record);
    };
    standin.control("state 1 first");
    const SIMCONNECT_RECV_SYSTEM_STATE* first = next();
    ASSERT_NE(first, nullptr);
    // More records arriving meanwhile must not move or overwrite it.
    for (int i = 0; i < 20; ++i) standin.control("state 2 " + std::string(200, static_cast<char>('a' + i)));
    EXPECT_STREQ(first->szString, "first");
    EXPECT_EQ(first->dwRequestID, 1u);
    const SIMCONNECT_RECV_SYSTEM_STATE* second = next();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::string(second->szString), std::string(200, 'a'));
}

TEST(StandinRecords, CallDispatchHandsEveryWaitingRecordToTheCallback) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    standin.control("event 1");
    standin.control("event 2");
    standin.control("wait 50");
    std::vector<DWORD> seen;
    const DispatchProc collect = [](SIMCONNECT_RECV* record, DWORD, void* context) {
        static_cast<std::vector<DWORD>*>(context)->push_back(static_cast<SIMCONNECT_RECV_EVENT*>(record)->uEventID);
    };
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (seen.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        EXPECT_EQ(SimConnect_CallDispatch(client.handle(), collect, &seen), S_OK);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(seen, (std::vector<DWORD>{1, 2}));
}

TEST(StandinRecords, AircraftLoadedAnswersThePathInForce) {
    standin::ServerOptions options;
    options.aircraft_path = "SimObjects\\Airplanes\\Test Jet\\aircraft.CFG";
    InProcessStandin standin(options);
    OpenClient client;
    ASSERT_TRUE(client.opened());
    const auto state_text = [&] {
        EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), S_OK);
        const auto states = of_id(client.drain(), kStateId);  // sent before the call returned
        EXPECT_EQ(states.size(), 1u);
        if (states.empty()) return std::string("<none>");
        EXPECT_EQ(states[0].as<SIMCONNECT_RECV_SYSTEM_STATE>().dwRequestID, 3u);
        const auto record = states[0].as<SIMCONNECT_RECV_SYSTEM_STATE>();
        return std::string(record.szString, strnlen(record.szString, sizeof record.szString));
    };
    EXPECT_EQ(state_text(), "SimObjects\\Airplanes\\Test Jet\\aircraft.CFG");
    standin.control("aircraft Other Folder\\aircraft.cfg");
    EXPECT_EQ(state_text(), "Other Folder\\aircraft.cfg");
    standin.control("aircraft");
    EXPECT_EQ(state_text(), "");
}

TEST(StandinAircraft, ChangedSendsTheFirstFrameAlwaysAndThenOnlyChanges) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    add_sample_definition(client.handle());
    standin.control("freeze on");
    ASSERT_EQ(request_samples(client.handle()), S_OK);
    auto records = client.collect_ids(kDataId, 1);
    ASSERT_EQ(of_id(records, kDataId).size(), 1u);
    const auto first = records.back().as<SIMCONNECT_RECV_SIMOBJECT_DATA>();
    EXPECT_EQ(first.dwRequestID, kSampleRequest);
    EXPECT_EQ(first.dwFlags, SIMCONNECT_DATA_REQUEST_FLAG_CHANGED);
    EXPECT_EQ(first.dwDefineCount, 9u);
    const auto start = records.back().doubles();
    EXPECT_EQ(start[kAirspeed], 120);
    EXPECT_EQ(start[kVerticalSpeed], 500);
    EXPECT_EQ(start[kOnGround], 0);

    standin.control("wait 150");  // frames pass; frozen, nothing changes
    EXPECT_TRUE(client.drain().empty());

    // Asking again gives a fresh first frame, changed or not.
    ASSERT_EQ(request_samples(client.handle()), S_OK);
    records = client.collect_ids(kDataId, 1);
    ASSERT_EQ(of_id(records, kDataId).size(), 1u);
    EXPECT_EQ(records.back().doubles(), start);

    standin.control("freeze off");
    records = of_id(client.collect_ids(kDataId, 3), kDataId);
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 1; i < records.size(); ++i) {
        const auto before = records[i - 1].doubles();
        const auto after = records[i].doubles();
        EXPECT_GT(after[kAltitude], before[kAltitude]);
        EXPECT_NE(after[kHeading], before[kHeading]);
        EXPECT_LT(after[kFuelTotal], before[kFuelTotal]);
    }
}

TEST(StandinAircraft, WithoutChangedEveryFrameSendsAndPeriodNeverStops) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    add_sample_definition(client.handle());
    standin.control("freeze on");
    ASSERT_EQ(request_samples(client.handle(), SIMCONNECT_DATA_REQUEST_FLAG_DEFAULT), S_OK);
    const auto records = of_id(client.collect_ids(kDataId, 3), kDataId);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].doubles(), records[2].doubles());  // frozen, sent anyway

    ASSERT_EQ(SimConnect_RequestDataOnSimObject(client.handle(), kSampleRequest, 0, 0, SIMCONNECT_PERIOD_NEVER), S_OK);
    client.drain();  // frames before the stop arrived before its answer
    standin.control("wait 150");
    EXPECT_TRUE(client.drain().empty());
    // Stopping what never ran is harmless.
    EXPECT_EQ(SimConnect_RequestDataOnSimObject(client.handle(), 77, 0, 0, SIMCONNECT_PERIOD_NEVER), S_OK);
    EXPECT_TRUE(client.drain().empty());
}

TEST(StandinAircraft, LimitEndsARequestAfterSoManySends) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    add_sample_definition(client.handle());
    standin.control("freeze on");
    ASSERT_EQ(SimConnect_RequestDataOnSimObject(client.handle(), kSampleRequest, 0, 0, SIMCONNECT_PERIOD_VISUAL_FRAME,
                                                SIMCONNECT_DATA_REQUEST_FLAG_DEFAULT, 2, 1, 3),
              S_OK);
    EXPECT_EQ(of_id(client.collect_ids(kDataId, 3), kDataId).size(), 3u);
    standin.control("wait 200");
    EXPECT_TRUE(client.drain().empty());
}

TEST(StandinAircraft, TaggedChangesCarryOnlyTheChangedDatums) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    const HANDLE h = client.handle();
    SimConnect_AddToDataDefinition(h, 1, "PLANE ALTITUDE", "feet", SIMCONNECT_DATATYPE_FLOAT64, 0, 10);
    SimConnect_AddToDataDefinition(h, 1, "FUEL TANK LEFT MAIN QUANTITY", "gallons", SIMCONNECT_DATATYPE_FLOAT64, 0, 11);
    SimConnect_AddToDataDefinition(h, 2, "FUEL TANK LEFT MAIN QUANTITY", "gallons");
    standin.control("freeze on");
    SimConnect_RequestDataOnSimObject(h, 5, 1, 0, SIMCONNECT_PERIOD_VISUAL_FRAME,
                                      SIMCONNECT_DATA_REQUEST_FLAG_CHANGED | SIMCONNECT_DATA_REQUEST_FLAG_TAGGED);
    auto records = of_id(client.collect_ids(kDataId, 1), kDataId);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].as<SIMCONNECT_RECV_SIMOBJECT_DATA>().dwDefineCount, 2u);
    EXPECT_EQ(records[0].size, 40u + 2 * (4 + 8));

    double gallons = 3.5;
    SimConnect_SetDataOnSimObject(h, 2, 0, 0, 0, sizeof gallons, &gallons);
    records = of_id(client.collect_ids(kDataId, 1), kDataId);
    ASSERT_EQ(records.size(), 1u);
    const auto data = records[0].as<SIMCONNECT_RECV_SIMOBJECT_DATA>();
    EXPECT_EQ(data.dwDefineCount, 1u);
    ASSERT_EQ(records[0].size, 40u + 4 + 8);
    DWORD datum = 0;
    double value = 0;
    std::memcpy(&datum, &records[0].bytes[40], sizeof datum);
    std::memcpy(&value, &records[0].bytes[44], sizeof value);
    EXPECT_EQ(datum, 11u);
    EXPECT_EQ(value, 3.5);
}

TEST(StandinAircraft, RecordsGoOutAtFramesNeverInsideTheRequestCall) {
    standin::ServerOptions options;
    options.rate_hz = 0.01;  // the first frame is a hundred seconds away
    InProcessStandin standin(options);
    OpenClient client;
    ASSERT_TRUE(client.opened());
    add_sample_definition(client.handle());
    ASSERT_EQ(request_samples(client.handle()), S_OK);
    standin.control("wait 50");
    EXPECT_TRUE(client.drain().empty());
}

TEST(StandinAircraft, EpsilonHidesSmallChangesButNotLargeOnes) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    SimConnect_AddToDataDefinition(client.handle(), 1, "PLANE ALTITUDE", "feet", SIMCONNECT_DATATYPE_FLOAT64, 1000);
    SimConnect_AddToDataDefinition(client.handle(), 2, "PLANE ALTITUDE", "feet");
    SimConnect_RequestDataOnSimObject(client.handle(), 10, 1, 0, SIMCONNECT_PERIOD_VISUAL_FRAME,
                                      SIMCONNECT_DATA_REQUEST_FLAG_CHANGED);
    ASSERT_EQ(of_id(client.collect_ids(kDataId, 1), kDataId).size(), 1u);
    standin.control("wait 150");  // climbing a few feet: less than the epsilon
    EXPECT_TRUE(of_id(client.drain(), kDataId).empty());

    double altitude = 20000;
    ASSERT_EQ(SimConnect_SetDataOnSimObject(client.handle(), 2, 0, 0, 0, sizeof altitude, &altitude), S_OK);
    const auto records = of_id(client.collect_ids(kDataId, 1), kDataId);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NEAR(records[0].doubles()[0], 20000, 10);
}

TEST(StandinAircraft, OtherUnitsAndTypesAreConverted) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    standin.control("freeze on");
    const HANDLE h = client.handle();
    SimConnect_AddToDataDefinition(h, 1, "PLANE ALTITUDE", "feet");
    SimConnect_AddToDataDefinition(h, 1, "PLANE ALTITUDE", "meters");
    SimConnect_AddToDataDefinition(h, 1, "SIM ON GROUND", "bool", SIMCONNECT_DATATYPE_INT32);
    SimConnect_AddToDataDefinition(h, 1, "AIRSPEED INDICATED", "knots", SIMCONNECT_DATATYPE_FLOAT32);
    SimConnect_RequestDataOnSimObject(h, 10, 1, 0, SIMCONNECT_PERIOD_ONCE);
    const auto records = of_id(client.collect_ids(kDataId, 1), kDataId);
    ASSERT_EQ(records.size(), 1u);
    const auto& bytes = records[0].bytes;
    ASSERT_EQ(bytes.size(), 40u + 8 + 8 + 4 + 4);
    double feet = 0;
    double meters = 0;
    std::int32_t on_ground = -1;
    float knots = 0;
    std::memcpy(&feet, &bytes[40], 8);
    std::memcpy(&meters, &bytes[48], 8);
    std::memcpy(&on_ground, &bytes[56], 4);
    std::memcpy(&knots, &bytes[60], 4);
    EXPECT_NEAR(meters, feet * 0.3048, 1e-6);
    EXPECT_EQ(on_ground, 0);
    EXPECT_EQ(knots, 120.0f);
    standin.control("wait 100");  // ONCE sends once
    EXPECT_TRUE(client.drain().empty());
}

TEST(StandinAircraft, InitialPositionMovesTheAircraft) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    add_sample_definition(client.handle());
    SimConnect_AddToDataDefinition(client.handle(), 100, "Initial Position", nullptr, SIMCONNECT_DATATYPE_INITPOSITION);
    standin.control("freeze on");
    request_samples(client.handle());
    client.collect_ids(kDataId, 1);

    SIMCONNECT_DATA_INITPOSITION position{};
    position.Latitude = 40.6413;
    position.Longitude = -73.7781;
    position.Altitude = 5000;
    position.Heading = 45;
    position.OnGround = 0;
    position.Airspeed = 150;
    ASSERT_EQ(SimConnect_SetDataOnSimObject(client.handle(), 100, 0, 0, 0, sizeof position, &position), S_OK);
    auto records = of_id(client.collect_ids(kDataId, 1), kDataId);
    ASSERT_EQ(records.size(), 1u);
    auto values = records[0].doubles();
    EXPECT_EQ(values[kLatitude], 40.6413);
    EXPECT_EQ(values[kLongitude], -73.7781);
    EXPECT_EQ(values[kAltitude], 5000);
    EXPECT_EQ(values[kHeading], 45);
    EXPECT_EQ(values[kAirspeed], 150);
    EXPECT_EQ(values[kOnGround], 0);

    position.OnGround = 1;
    position.Airspeed = 0;
    position.Altitude = 13;
    ASSERT_EQ(SimConnect_SetDataOnSimObject(client.handle(), 100, 0, 0, 0, sizeof position, &position), S_OK);
    records = of_id(client.collect_ids(kDataId, 1), kDataId);
    ASSERT_EQ(records.size(), 1u);
    values = records[0].doubles();
    EXPECT_EQ(values[kOnGround], 1);
    EXPECT_EQ(values[kAltitude], 13);
    EXPECT_EQ(values[kAirspeed], 0);
    EXPECT_EQ(values[kVerticalSpeed], 0);
}

TEST(StandinAircraft, FuelTankWritesSetTheTanksAndTheTotalIsTheirSum) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    const HANDLE h = client.handle();
    add_sample_definition(h);
    SimConnect_AddToDataDefinition(h, 103, "FUEL TANK LEFT MAIN QUANTITY", "gallons");
    SimConnect_AddToDataDefinition(h, 104, "FUEL TANK RIGHT MAIN QUANTITY", "gallons");
    SimConnect_AddToDataDefinition(h, 105, "FUEL TANK CENTER QUANTITY", "gallons");
    SimConnect_AddToDataDefinition(h, 106, "FUEL TANK LEFT MAIN QUANTITY", "gallons");
    SimConnect_AddToDataDefinition(h, 106, "FUEL TANK RIGHT MAIN QUANTITY", "gallons");
    standin.control("freeze on");
    request_samples(h);
    client.collect_ids(kDataId, 1);

    double left = 10;
    double right = 20.25;
    double center = 5.5;
    ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 103, 0, 0, 0, 8, &left), S_OK);
    ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 104, 0, 0, 0, 8, &right), S_OK);
    ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 105, 0, 0, 0, 8, &center), S_OK);
    auto records = of_id(
        client.collect_until([&](const Received& r) { return r.id() == kDataId && r.doubles()[kFuelTotal] == 35.75; }),
        kDataId);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().doubles()[kFuelTotal], 35.75);

    // Two tanks written in one block, in definition order.
    const double both[] = {1, 2};
    ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 106, 0, 0, 0, sizeof both, const_cast<double*>(both)), S_OK);
    records = of_id(client.collect_ids(kDataId, 1), kDataId);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].doubles()[kFuelTotal], 8.5);

    // A block shorter than the definition changes nothing.
    ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 106, 0, 0, 0, 8, &left), S_OK);
    const auto after = client.drain();
    ASSERT_EQ(of_id(after, kExceptionId).size(), 1u);
    EXPECT_EQ(of_id(after, kExceptionId)[0].as<SIMCONNECT_RECV_EXCEPTION>().dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_SIZE_MISMATCH));
}

TEST(StandinPause, EachToggleOwnsItsFlagAndEventsFollowThePausedState) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    const HANDLE h = client.handle();
    // The product's registration: events 4 to 7, system events 8, 9, 4, 5.
    SimConnect_MapClientEventToSimEvent(h, 4, "PAUSE_TOGGLE");
    SimConnect_MapClientEventToSimEvent(h, 5, "PAUSE_OFF");
    SimConnect_MapClientEventToSimEvent(h, 6, "ACTIVE_PAUSE_TOGGLE");
    SimConnect_MapClientEventToSimEvent(h, 7, "SIM_PAUSE_TOGGLE");
    for (DWORD event = 4; event <= 7; ++event) SimConnect_AddClientEventToNotificationGroup(h, 0, event);
    SimConnect_SetNotificationGroupPriority(h, 0, SIMCONNECT_GROUP_PRIORITY_HIGHEST);
    EXPECT_TRUE(client.drain().empty());

    using Events = std::vector<std::pair<DWORD, DWORD>>;
    SimConnect_SubscribeToSystemEvent(h, 8, "Sim");
    EXPECT_EQ(events_of(client.drain()), (Events{{8, 1}}));  // the current state at once
    SimConnect_SubscribeToSystemEvent(h, 9, "Quit");
    const auto quit = client.drain();
    ASSERT_EQ(quit.size(), 1u);
    EXPECT_EQ(quit[0].as<SIMCONNECT_RECV_EXCEPTION>().dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED));
    SimConnect_SubscribeToSystemEvent(h, 4, "Pause");
    EXPECT_EQ(events_of(client.drain()), (Events{{4, 0}}));
    SimConnect_SubscribeToSystemEvent(h, 5, "Unpaused");
    EXPECT_TRUE(client.drain().empty());

    struct Step {
        DWORD event;
        Events expected;
    };
    const Step steps[] = {
        {4, {{4, 1}}},          // PAUSE_TOGGLE: paused
        {6, {}},                // ACTIVE_PAUSE_TOGGLE: still paused
        {4, {}},                // pause flag off, active pause still on
        {5, {{4, 0}, {5, 0}}},  // PAUSE_OFF clears all three
        {5, {}},                // nothing to clear
        {7, {{4, 1}}},          // SIM_PAUSE_TOGGLE
        {7, {{4, 0}, {5, 0}}},
        {6, {{4, 1}}},
        {4, {}},
        {6, {}},
        {4, {{4, 0}, {5, 0}}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        ASSERT_EQ(SimConnect_TransmitClientEvent(h, 0, steps[i].event, 0, SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                                 SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY),
                  S_OK);
        EXPECT_EQ(events_of(client.drain()), steps[i].expected) << "step " << i;
    }
}

TEST(StandinPause, ThePausedAircraftHoldsStill) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    add_sample_definition(client.handle());
    SimConnect_MapClientEventToSimEvent(client.handle(), 4, "PAUSE_TOGGLE");
    request_samples(client.handle());
    client.collect_ids(kDataId, 2);
    SimConnect_TransmitClientEvent(client.handle(), 0, 4, 0, 1, 16);
    client.drain();
    standin.control("wait 150");
    EXPECT_TRUE(client.drain().empty());
    SimConnect_TransmitClientEvent(client.handle(), 0, 4, 0, 1, 16);
    EXPECT_EQ(of_id(client.collect_ids(kDataId, 1), kDataId).size(), 1u);
}

TEST(StandinExceptions, UnknownIdsAndNamesAnswerOkAndSendAnExceptionLater) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    const HANDLE h = client.handle();
    double value = 1;
    struct Row {
        const char* what;
        std::function<HRESULT()> call;
        DWORD code;
    };
    const Row rows[] = {
        {"unknown variable", [&] { return SimConnect_AddToDataDefinition(h, 0, "NO SUCH VARIABLE", "feet"); }, 7},
        {"unknown units", [&] { return SimConnect_AddToDataDefinition(h, 0, "PLANE ALTITUDE", "parsecs"); }, 7},
        {"unknown sim event", [&] { return SimConnect_MapClientEventToSimEvent(h, 4, "NO_SUCH_EVENT"); }, 7},
        {"unknown system event", [&] { return SimConnect_SubscribeToSystemEvent(h, 9, "Quit"); }, 7},
        {"unknown system state", [&] { return SimConnect_RequestSystemState(h, 3, "NoSuchState"); }, 7},
        {"request on an unknown definition",
         [&] { return SimConnect_RequestDataOnSimObject(h, 2, 55, 0, SIMCONNECT_PERIOD_VISUAL_FRAME); }, 3},
        {"unmapped client event", [&] { return SimConnect_TransmitClientEvent(h, 0, 42, 0, 1, 16); }, 3},
        {"write to an unknown definition", [&] { return SimConnect_SetDataOnSimObject(h, 103, 0, 0, 0, 8, &value); },
         3},
        {"unmapped event into a group", [&] { return SimConnect_AddClientEventToNotificationGroup(h, 0, 42); }, 3},
        {"priority of an unknown group", [&] { return SimConnect_SetNotificationGroupPriority(h, 99, 1); }, 3},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.call(), S_OK) << row.what;
        DWORD sent = 0;
        ASSERT_EQ(SimConnect_GetLastSentPacketID(h, &sent), S_OK);
        const auto records = client.drain();
        ASSERT_EQ(records.size(), 1u) << row.what;
        const auto exception = records[0].as<SIMCONNECT_RECV_EXCEPTION>();
        EXPECT_EQ(exception.dwID, kExceptionId) << row.what;
        EXPECT_EQ(exception.dwException, row.code) << row.what;
        EXPECT_EQ(exception.dwSendID, sent) << row.what;
    }
}

TEST(StandinExceptions, KnownNamesAreTakenWithoutRegardToCase) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    const HANDLE h = client.handle();
    SimConnect_AddToDataDefinition(h, 0, "plane altitude", "Feet");
    SimConnect_MapClientEventToSimEvent(h, 4, "pause_toggle");
    SimConnect_MapClientEventToSimEvent(h, 5, "Custom.Event");
    SimConnect_MapClientEventToSimEvent(h, 6, "#0x11000");
    SimConnect_SubscribeToSystemEvent(h, 7, "simstart");
    SimConnect_SubscribeToSystemEvent(h, 8, "PAUSED");
    SimConnect_RequestSystemState(h, 3, "aircraftloaded");
    const auto records = client.drain();
    EXPECT_TRUE(of_id(records, kExceptionId).empty());
    EXPECT_EQ(of_id(records, kStateId).size(), 1u);
}

TEST(StandinClients, EachClientHasItsOwnDefinitionsRequestsAndMappings) {
    InProcessStandin standin;
    OpenClient first("first");
    OpenClient second("second");
    ASSERT_TRUE(first.opened() && second.opened());
    SimConnect_AddToDataDefinition(first.handle(), 0, "PLANE ALTITUDE", "feet");
    add_sample_definition(second.handle());
    SimConnect_MapClientEventToSimEvent(first.handle(), 4, "PAUSE_TOGGLE");
    SimConnect_SubscribeToSystemEvent(second.handle(), 20, "Paused");
    request_samples(first.handle());
    request_samples(second.handle());
    EXPECT_EQ(of_id(first.collect_ids(kDataId, 1), kDataId).back().doubles().size(), 1u);
    EXPECT_EQ(of_id(second.collect_ids(kDataId, 1), kDataId).back().doubles().size(), 9u);

    // The second never mapped event 4.
    second.drain();
    SimConnect_TransmitClientEvent(second.handle(), 0, 4, 0, 1, 16);
    const auto refused = of_id(second.drain(), kExceptionId);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].as<SIMCONNECT_RECV_EXCEPTION>().dwException, 3u);

    // The pause is the simulator's: the first pauses, the second hears of it.
    SimConnect_TransmitClientEvent(first.handle(), 0, 4, 0, 1, 16);
    const auto heard = second.collect_until([](const Received& r) { return r.id() == kEventId; });
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().as<SIMCONNECT_RECV_EVENT>().uEventID, 20u);

    standin.control("event 77 3");
    EXPECT_EQ(events_of(first.collect_ids(kEventId, 1)).back(), (std::pair<DWORD, DWORD>{77, 3}));
    EXPECT_EQ(events_of(second.collect_ids(kEventId, 1)).back(), (std::pair<DWORD, DWORD>{77, 3}));

    // One leaving does not disturb the other.
    first.close();
    EXPECT_EQ(SimConnect_RequestSystemState(second.handle(), 3, "AircraftLoaded"), S_OK);
    EXPECT_EQ(of_id(second.drain(), kStateId).size(), 1u);
}

TEST(StandinClients, CallsFromSeveralThreadsOnOneHandleAllGetThrough) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    constexpr int kThreads = 4;
    constexpr int kCalls = 50;
    std::atomic<int> failures{0};
    std::atomic<bool> calling{true};
    std::atomic<int> states{0};
    std::thread dispatcher([&] {
        while (calling.load() || states.load() < kThreads * kCalls) {
            SIMCONNECT_RECV* record = nullptr;
            DWORD size = 0;
            if (SimConnect_GetNextDispatch(client.handle(), &record, &size) == S_OK) {
                if (record->dwID == kStateId) ++states;
            } else {
                std::this_thread::sleep_for(1ms);
                if (!calling.load() && failures.load() > 0) break;
            }
        }
    });
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                const auto request = static_cast<DWORD>(t * 1000 + i);
                if (SimConnect_RequestSystemState(client.handle(), request, "AircraftLoaded") != S_OK) ++failures;
            }
        });
    }
    for (auto& caller : callers) caller.join();
    calling.store(false);
    dispatcher.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(states.load(), kThreads * kCalls);
    EXPECT_EQ(standin.log_lines().size(), 1u + kThreads * kCalls);
}

TEST(StandinGone, TheClientGetsOneQuitAfterWhatWasWaitingThenFailures) {
    InProcessStandin standin;
    OpenClient client;
    ASSERT_TRUE(client.opened());
    standin.control("event 1");
    standin.stop();
    const auto records = client.collect_ids(kQuitId, 1);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].id(), kEventId);
    EXPECT_EQ(records[1].id(), kQuitId);
    EXPECT_EQ(records[1].size, sizeof(SIMCONNECT_RECV_QUIT));
    EXPECT_TRUE(client.drain().empty());
    EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), E_FAIL);
    EXPECT_TRUE(client.drain().empty());
    EXPECT_EQ(SimConnect_Close(client.handle()), S_OK);
}

TEST(StandinGone, QuitDisconnectsEveryClientAndTheStandinKeepsListening) {
    InProcessStandin standin;
    OpenClient first;
    OpenClient second;
    ASSERT_TRUE(first.opened() && second.opened());
    standin.control("quit");
    for (TestClient* client : {static_cast<TestClient*>(&first), static_cast<TestClient*>(&second)}) {
        const auto records = client->collect_ids(kQuitId, 1);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].id(), kQuitId);
        EXPECT_EQ(SimConnect_RequestSystemState(client->handle(), 3, "AircraftLoaded"), E_FAIL);
        EXPECT_TRUE(client->drain().empty());  // one QUIT, not one from each side
    }
    OpenClient later;
    EXPECT_TRUE(later.opened());
}

TEST(StandinGone, ClosedHandlesFailCleanly) {
    InProcessStandin standin;
    TestClient client;
    ASSERT_TRUE(client.opened());
    const HANDLE handle = client.handle();
    client.close();
    SIMCONNECT_RECV* record = nullptr;
    DWORD size = 0;
    EXPECT_EQ(SimConnect_GetNextDispatch(handle, &record, &size), E_FAIL);
    EXPECT_EQ(SimConnect_RequestSystemState(handle, 3, "AircraftLoaded"), E_FAIL);
    EXPECT_EQ(SimConnect_Close(handle), S_OK);
    EXPECT_EQ(SimConnect_GetNextDispatch(nullptr, &record, &size), E_FAIL);
}

TEST(StandinGone, NothingListeningFailsAndLeavesTheHandleAlone) {
    int port = 0;
    {
        InProcessStandin standin;
        port = standin.port();
    }
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    for (const std::string& setting : {std::to_string(port), std::string("not a port"), std::string("70000")}) {
        ::setenv("SIMCONNECT_STANDIN_PORT", setting.c_str(), 1);
        EXPECT_EQ(SimConnect_Open(&handle, "nobody", nullptr, 0, nullptr, 0), E_FAIL) << setting;
        EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234)) << setting;
    }
}

}  // namespace
}  // namespace velmar::test
