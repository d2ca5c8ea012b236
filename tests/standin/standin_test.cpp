// The substitute client library and sim-standin seen from outside: sim-standin runs as a process
// (--port 0 --log FILE), is driven with control lines, and its call log is read.

#include <SimConnect.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "connection.h"
#include "protocol.h"
#include "simconnect/sample_definition.h"
#include "support/process.h"

namespace velmar::test {
namespace {

namespace protocol = standin::protocol;

constexpr HRESULT kGone = static_cast<HRESULT>(0xC000013EUL);  // the connection is gone, as the SDK's library says

struct ReplyTimeout {  // shortens the library's wait for a server's reply for one test
    explicit ReplyTimeout(int milliseconds) : saved(standin::reply_timeout_ms.exchange(milliseconds)) {}
    ~ReplyTimeout() { standin::reply_timeout_ms = saved; }
    int saved;
};

// Points clients opened from now on at `standin`.
void reach(const Standin& standin) { ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(standin.port()).c_str(), 1); }

// One record as delivered, copied out of the library's buffer.
struct Received {
    std::vector<std::uint8_t> bytes;  // as many as GetNextDispatch reported

    DWORD id() const { return as<SIMCONNECT_RECV>().dwID; }
    template <typename Record>
    Record as() const {
        Record record{};
        std::memcpy(&record, bytes.data(), std::min(sizeof record, bytes.size()));
        return record;
    }
    // The data block of a SIMOBJECT_DATA record as doubles.
    std::vector<double> doubles() const {
        std::vector<double> values(bytes.size() < 40 ? 0 : (bytes.size() - 40) / sizeof(double));
        std::memcpy(values.data(), bytes.data() + 40, values.size() * sizeof(double));
        return values;
    }
    // What a test compares: the kind and every field the stand-in fills in,
    // numbers in the shortest text that reads back exactly.
    std::string text() const {
        const auto header = as<SIMCONNECT_RECV>();
        std::string text = header.dwSize == bytes.size() ? "" : "(dwSize " + std::to_string(header.dwSize) + ") ";
        const auto words = [&](const char* kind, auto... numbers) {
            text += kind;
            ((text += " " + std::to_string(numbers)), ...);
        };
        const auto event = as<SIMCONNECT_RECV_EVENT>();
        const auto state = as<SIMCONNECT_RECV_SYSTEM_STATE>();
        const auto data = as<SIMCONNECT_RECV_SIMOBJECT_DATA>();
        if (header.dwID == SIMCONNECT_RECV_ID_OPEN) words("open");
        if (header.dwID == SIMCONNECT_RECV_ID_QUIT) words("quit");
        if (header.dwID == SIMCONNECT_RECV_ID_EXCEPTION)
            words("exception", as<SIMCONNECT_RECV_EXCEPTION>().dwException);
        if (header.dwID == SIMCONNECT_RECV_ID_EVENT) words("event", event.uEventID, event.dwData);
        if (header.dwID == SIMCONNECT_RECV_ID_EVENT && event.uGroupID != SIMCONNECT_RECV_EVENT::UNKNOWN_GROUP)
            words(" group", event.uGroupID);
        if (header.dwID == SIMCONNECT_RECV_ID_SYSTEM_STATE) {
            words("state", state.dwRequestID);
            text += " " + std::string(state.szString, strnlen(state.szString, sizeof state.szString));
        }
        if (header.dwID == SIMCONNECT_RECV_ID_SIMOBJECT_DATA) {
            words("data", data.dwRequestID, data.dwDefineID, data.dwObjectID, data.dwDefineCount);
            for (double value : doubles()) {
                char number[32];
                text += " " + std::string(number, std::to_chars(number, number + sizeof number, value).ptr);
            }
        }
        return text;
    }
};

using Records = std::vector<Received>;
using Texts = std::vector<std::string>;

// The records' texts, or those of records with dwID `only`.
Texts texts(const Records& records, DWORD only = SIMCONNECT_RECV_ID_NULL) {
    Texts texts;
    for (const auto& record : records) {
        if (only == SIMCONNECT_RECV_ID_NULL || record.id() == only) texts.push_back(record.text());
    }
    return texts;
}

// An exception record as "CODE SENDID INDEX"; any other record as its text.
std::string refusal(const Received& record) {
    const auto exception = record.as<SIMCONNECT_RECV_EXCEPTION>();
    return record.id() != SIMCONNECT_RECV_ID_EXCEPTION
               ? record.text()
               : std::to_string(exception.dwException) + " " + std::to_string(exception.dwSendID) + " " +
                     std::to_string(exception.dwIndex);
}

template <typename Record>
std::vector<std::uint8_t> bytes_of(const Record& record) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(&record);
    return {first, first + sizeof record};
}

// Our library's client of a stand-in; records are waited for on the library's wake, so a missed wake fails the
// test. A refused open or a first record other than OPEN is a failure.
class Client {
public:
    explicit Client(const Standin& standin, const char* name = "Test Client") {
        reach(standin);
        open_ = SimConnect_Open(&handle_, name, nullptr, 0, reinterpret_cast<HANDLE>(std::intptr_t{wake_}), 0) == S_OK;
        EXPECT_TRUE(open_ && texts(collect(1)) == Texts{"open"}) << name << ": not opened, or no OPEN record first";
    }
    ~Client() {
        close();
        ::close(wake_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    HANDLE handle() const { return handle_; }
    HRESULT close() { return std::exchange(open_, false) ? SimConnect_Close(handle_) : S_OK; }
    // Every wake signalled so far; equals the records delivered once all are drained.
    std::uint64_t wakes() {
        take_wakes();
        return wakes_;
    }
    // Everything waiting now.
    Records drain() {
        return collect_until([](const Received&) { return false; }, 0ms);
    }
    // Collects until `count` records (of dwID `id` when given) came, the time is up or the connection went.
    Records collect(std::size_t count, DWORD id = SIMCONNECT_RECV_ID_NULL) {
        std::size_t seen = 0;
        return count == 0 ? Records{} : collect_until([&](const Received& record) {
            return (id == SIMCONNECT_RECV_ID_NULL || record.id() == id) && ++seen >= count;
        });
    }
    // Collects until the connection is gone (see last()).
    Records until_gone() {
        return collect_until([](const Received&) { return false; });
    }
    // What GetNextDispatch last answered.
    HRESULT last() const { return last_; }
    // Collects until a record satisfies `done` (it is included), the time is up, or
    // GetNextDispatch says the connection is gone.
    Records collect_until(const std::function<bool(const Received&)>& done, std::chrono::milliseconds timeout = 10s) {
        Records records;
        for (const auto deadline = std::chrono::steady_clock::now() + timeout;;) {
            SIMCONNECT_RECV* record = nullptr;
            DWORD size = 0;
            last_ = SimConnect_GetNextDispatch(handle_, &record, &size);
            const auto* first = reinterpret_cast<const std::uint8_t*>(record);
            if (last_ == S_OK) records.push_back(Received{{first, first + size}});
            if (last_ == S_OK ? done(records.back()) : last_ != E_FAIL || std::chrono::steady_clock::now() >= deadline)
                return records;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd entry{wake_, POLLIN, 0};
            if (last_ != S_OK && ::poll(&entry, 1, static_cast<int>(left.count())) == 1) take_wakes();
        }
    }

private:
    void take_wakes() {
        std::uint64_t count = 0;
        if (::read(wake_, &count, sizeof count) == sizeof count) wakes_ += count;
    }

    const int wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::uint64_t wakes_ = 0;
    HRESULT last_ = S_OK;
    HANDLE handle_ = nullptr;
    bool open_ = false;
};

// The product's nine-variable sample definition, on definition 0.
enum Field { kAltitude, kAirspeed, kGroundSpeed, kHeading, kVerticalSpeed, kFuel, kOnGround, kLatitude, kLongitude };

void add_sample_definition(HANDLE handle) {
    for (const SampleVariable& variable : kSampleDefinition) {
        SimConnect_AddToDataDefinition(handle, 0, variable.name, variable.unit);
    }
}

HRESULT request_samples(HANDLE handle) {
    return SimConnect_RequestDataOnSimObject(handle, 2, 0, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_VISUAL_FRAME,
                                             SIMCONNECT_DATA_REQUEST_FLAG_CHANGED);
}

constexpr DWORD kEventId = SIMCONNECT_RECV_ID_EVENT;
constexpr DWORD kDataId = SIMCONNECT_RECV_ID_SIMOBJECT_DATA;
constexpr DWORD kStateId = SIMCONNECT_RECV_ID_SYSTEM_STATE;

HRESULT transmit(HANDLE handle, DWORD event) {
    return SimConnect_TransmitClientEvent(handle, 0, event, 0, SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                          SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
}

HRESULT request_state(HANDLE handle) { return SimConnect_RequestSystemState(handle, 3, "AircraftLoaded"); }

std::vector<double> pick(const std::vector<double>& values, std::initializer_list<Field> fields) {
    std::vector<double> picked;
    for (Field field : fields) picked.push_back(values.size() == 9 ? values[field] : std::nan(""));
    return picked;
}

TEST(StandinCallLog, EveryArgumentArrivesExactlyAsPassed) {
    Standin standin;
    reach(standin);
    HANDLE h = nullptr;
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    SimConnect_Open(&h, "Velmar \"Tracker\"\n\x01", reinterpret_cast<HWND>(0x10), 1234,
                    reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(wake)), SIMCONNECT_OPEN_CONFIGINDEX_LOCAL);
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
    SimConnect_SetDataOnSimObject(h, 0, 0, 0, 1, 4, nullptr);
    SimConnect_Close(h);
    ::close(wake);
    HANDLE nameless = nullptr;
    SimConnect_Open(&nameless, nullptr, nullptr, 0, nullptr, 0);
    SimConnect_Close(nameless);
    // Each line is on disk before its call returns.
    EXPECT_EQ(standin.log_lines(),
              (Texts{
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
                  "SimConnect_SetDataOnSimObject 0 0 0 1 4 null -> 0",
                  "SimConnect_Close -> 0",
                  "SimConnect_Open null 0 0 0 0 -> 0",
                  "SimConnect_Close -> 0",
              }));
}

// `fail` answers calls with no other effect; `hold` logs a call and lets it take effect but holds its answer.
TEST(StandinCallLog, FailedCallsDoNothingAndAHeldCallIsAnsweredOnlyAtRelease) {
    Standin standin;
    reach(standin);
    standin.control("fail SimConnect_Open -2147467259 1");
    HANDLE refused = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&refused, "refused", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(refused, reinterpret_cast<HANDLE>(0x1234));
    Client client(standin, "welcome");
    standin.control("fail SimConnect_RequestSystemState 5");
    EXPECT_EQ(request_state(client.handle()), 5);
    EXPECT_EQ(request_state(client.handle()), 5);
    EXPECT_TRUE(client.drain().empty());
    standin.control("fail SimConnect_RequestSystemState 0");
    standin.control("hold SimConnect_RequestSystemState");
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        EXPECT_EQ(request_state(client.handle()), S_OK);
        returned = true;
    });
    ASSERT_TRUE(standin.wait_for_log_lines(5));
    standin.control("event 9");  // sent after the held answer would have been
    EXPECT_EQ(texts(client.collect(1, kEventId)), Texts{"event 9 0"});
    EXPECT_FALSE(returned);
    standin.control("release SimConnect_RequestSystemState");
    caller.join();
    EXPECT_EQ(texts(client.drain()), Texts{"state 3 SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg"});
    EXPECT_EQ(request_state(client.handle()), S_OK);  // one call held, not every later one
    standin.control("fail SimConnect_Close -1");
    EXPECT_EQ(client.close(), S_OK);
    EXPECT_EQ(standin.log_lines(), (Texts{
                                       "SimConnect_Open \"refused\" 0 0 0 0 -> -2147467259",
                                       "SimConnect_Open \"welcome\" 0 0 1 0 -> 0",
                                       "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 5",
                                       "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 5",
                                       "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0",
                                       "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0",
                                       "SimConnect_Close -> -1",
                                   }));
}

TEST(StandinRecords, ArriveIntactAndInOrder) {
    Standin standin({"--aircraft", "My Folder\\aircraft.cfg"});
    Client client(standin);
    const std::string path260(260, 'p');
    for (const auto& line : Texts{"exception 31", "event 4 -1", "state 3 " + path260,
                                  "sample 9 nan inf -inf 0.5 -3 1e300 0 9000 -0", "state 4", "state 5  two blanks "})
        standin.control(line);
    EXPECT_EQ(texts(client.collect(3, kStateId)),
              (Texts{"exception 31", "event 4 4294967295",
                     "state 3 " + path260,  // no terminating zero
                     "data 9 0 0 9 nan inf -inf 0.5 -3 1e+300 0 9000 -0", "state 4 ", "state 5  two blanks "}));
    // "AircraftLoaded" is answered before the call returns, with the path in force.
    EXPECT_EQ(request_state(client.handle()), S_OK);
    EXPECT_EQ(texts(client.drain()), Texts{"state 3 My Folder\\aircraft.cfg"});
    EXPECT_EQ(client.wakes(), 8u);  // one per record, OPEN included
}

// CHANGED sends the first frame always, then only changes; writes of a position and of the tanks show in
// later samples; PERIOD_NEVER stops it. At 500 frames a second a short wait spans many frames.
TEST(StandinAircraft, SamplesFollowTheFlightAndTheWrites) {
    Standin standin({"--rate", "500"});
    Client client(standin);
    const HANDLE h = client.handle();
    add_sample_definition(h);
    SimConnect_AddToDataDefinition(h, 100, "Initial Position", nullptr, SIMCONNECT_DATATYPE_INITPOSITION);
    const char* tanks[] = {"FUEL TANK LEFT MAIN QUANTITY", "FUEL TANK RIGHT MAIN QUANTITY",
                           "FUEL TANK CENTER QUANTITY"};
    for (DWORD tank = 0; tank < 3; ++tank) SimConnect_AddToDataDefinition(h, 103 + tank, tanks[tank], "gallons");
    const auto sample = [&] {
        const auto records = client.collect(1, kDataId);
        return records.empty() ? std::vector<double>{} : records.back().doubles();
    };
    standin.control("freeze on");
    for (int request = 0; request < 2; ++request) {  // asking again gives a fresh first frame
        ASSERT_EQ(request_samples(h), S_OK);
        EXPECT_EQ(pick(sample(), {kAirspeed, kVerticalSpeed, kOnGround}), (std::vector<double>{120, 500, 0}));
        standin.control("wait 30");  // frozen: nothing changes, nothing is sent
        EXPECT_TRUE(client.drain().empty());
    }
    for (SIMCONNECT_DATA_INITPOSITION p : {SIMCONNECT_DATA_INITPOSITION{51.4775, -0.4614, 83, 0, 0, 270, 1, 0},
                                           SIMCONNECT_DATA_INITPOSITION{40.6413, -73.7781, 5000, 0, 0, 45, 0, 150}}) {
        ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 100, 0, 0, 0, sizeof p, &p), S_OK);
        EXPECT_EQ(
            pick(sample(), {kLatitude, kLongitude, kAltitude, kHeading, kAirspeed, kOnGround}),
            (std::vector<double>{p.Latitude, p.Longitude, p.Altitude, p.Heading, 1.0 * p.Airspeed, 1.0 * p.OnGround}));
    }
    double gallons[] = {10, 20.25, 5.5};
    for (DWORD tank = 0; tank < 3; ++tank) SimConnect_SetDataOnSimObject(h, 103 + tank, 0, 0, 0, 8, &gallons[tank]);
    EXPECT_FALSE(
        client.collect_until([](const Received& r) { return pick(r.doubles(), {kFuel})[0] == 35.75; }).empty());
    standin.control("freeze off");
    auto before = pick(sample(), {kAltitude, kHeading, kFuel});
    for (int frame = 0; frame < 2; ++frame) {
        const auto after = pick(sample(), {kAltitude, kHeading, kFuel});
        EXPECT_GT(after[0], before[0]);  // climbing
        EXPECT_NE(after[1], before[1]);  // turning
        EXPECT_LT(after[2], before[2]);  // burning fuel
        before = after;
    }
    SimConnect_RequestDataOnSimObject(h, 2, 0, 0, SIMCONNECT_PERIOD_NEVER);
    client.drain();  // frames sent before the stop came before its answer
    standin.control("wait 30");
    EXPECT_TRUE(client.drain().empty());
}

// The simulator's rules, for every client: refusals by exception record (code, send id, argument index), with
// no effect; then pausing, from a client and from the simulator, as each client hears it.
TEST(StandinRules, RefusalsNameTheSendIdAndPausingSendsWhatTheSimulatorSends) {
    Standin standin;
    Client a(standin, "a");
    Client b(standin, "b");
    const HANDLE h = a.handle();
    const char* names[] = {"PAUSE_TOGGLE", "PAUSE_OFF", "ACTIVE_PAUSE_TOGGLE", "SIM_PAUSE_TOGGLE"};
    for (DWORD event = 4; event <= 7; ++event) SimConnect_MapClientEventToSimEvent(h, event, names[event - 4]);
    SimConnect_AddClientEventToNotificationGroup(h, 1, 4);
    const char* system_events[] = {"Pause", "pause_ex1", "Paused", "Unpaused", "SIM"};
    for (DWORD event = 10; event <= 14; ++event) SimConnect_SubscribeToSystemEvent(h, event, system_events[event - 10]);
    EXPECT_EQ(texts(a.drain()), (Texts{"event 10 0", "event 11 0", "event 14 1"}));  // current states at once
    SimConnect_MapClientEventToSimEvent(b.handle(), 20, "PAUSE_TOGGLE");
    SimConnect_AddClientEventToNotificationGroup(b.handle(), 3, 20);
    SimConnect_SubscribeToSystemEvent(b.handle(), 21, "Pause_EX1");
    EXPECT_EQ(texts(b.drain()), Texts{"event 21 0"});

    double value = 1;
    const std::tuple<std::string, std::function<HRESULT()>, DWORD, DWORD> refusals[] = {
        // control line first (or ""), call, exception code (0: none), argument index
        {"", [&] { return SimConnect_MapClientEventToSimEvent(h, 4, "PAUSE_ON"); }, 9, 1},
        {"", [&] { return SimConnect_SubscribeToSystemEvent(h, 5, "Pause"); }, 9, 1},
        {"", [&] { return SimConnect_MapClientEventToSimEvent(h, 10, "PAUSE_ON"); }, 9, 1},
        {"", [&] { return SimConnect_SubscribeToSystemEvent(h, 30, "Quit"); }, 7, 2},
        {"", [&] { return SimConnect_SubscribeToSystemEvent(h, 31, "Frame"); }, 0, 0},
        {"", [&] { return SimConnect_MapClientEventToSimEvent(h, 9, "NO_SUCH_EVENT"); }, 7, 2},
        {"", [&] { return SimConnect_AddToDataDefinition(h, 1, "NO SUCH VARIABLE", "feet"); }, 7, 2},
        {"unknown-var plane altitude", [&] { return SimConnect_AddToDataDefinition(h, 1, "PLANE ALTITUDE", "feet"); },
         7, 2},
        {"", [&] { return SimConnect_AddToDataDefinition(h, 1, "AIRSPEED INDICATED", "knots"); }, 0, 0},
        {"", [&] { return SimConnect_RequestDataOnSimObject(h, 2, 55, 0, SIMCONNECT_PERIOD_VISUAL_FRAME); }, 3, 2},
        {"", [&] { return transmit(h, 42); }, 3, 2},
        {"", [&] { return SimConnect_SetDataOnSimObject(h, 103, 0, 0, 0, 8, &value); }, 3, 1},
        {"refuse SimConnect_RequestSystemState 12 1", [&] { return request_state(h); }, 12, 4294967295},
    };
    Texts expected;
    for (const auto& [line, call, code, index] : refusals) {
        if (!line.empty()) standin.control(line);
        EXPECT_EQ(call(), S_OK);
        DWORD sent = 0;
        EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &sent), S_OK);
        if (code != 0)
            expected.push_back(std::to_string(code) + " " + std::to_string(sent) + " " + std::to_string(index));
    }
    Texts exceptions;
    for (const Received& record : a.collect(expected.size())) exceptions.push_back(refusal(record));
    EXPECT_EQ(exceptions, expected);
    EXPECT_EQ(request_state(h), S_OK);  // refused once only
    EXPECT_EQ(texts(a.drain()), Texts{"state 3 SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg"});
    add_sample_definition(h);  // without the refused altitude: shorter records, as the simulator's
    request_samples(h);
    const Records sampled = a.collect(1, kDataId);
    EXPECT_EQ(texts(sampled, SIMCONNECT_RECV_ID_EXCEPTION), Texts{"exception 7"});
    ASSERT_FALSE(sampled.empty());
    EXPECT_EQ(sampled.back().as<SIMCONNECT_RECV_SIMOBJECT_DATA>().dwDefineCount, 8u);
    EXPECT_EQ(sampled.back().doubles().size(), 8u);
    SimConnect_RequestDataOnSimObject(h, 2, 0, 0, SIMCONNECT_PERIOD_NEVER);
    a.drain();

    // The refused reuses of ids 4 and 5 changed nothing: 4 toggles, 5 clears.
    const std::tuple<std::string, Texts, Texts> steps[] = {
        // a's transmitted event id or a control line; what a hears; what b hears
        {"4", {"event 4 0 group 1", "event 10 1", "event 11 1", "event 12 1"}, {"event 20 0 group 3", "event 21 1"}},
        {"6", {"event 11 5", "event 12 1"}, {"event 21 5"}},  // a mode newly set: "Paused" again
        {"4", {"event 4 0 group 1", "event 11 4"}, {"event 20 0 group 3", "event 21 4"}},
        {"pause 12", {"event 11 12", "event 12 1"}, {"event 21 12"}},  // the simulator's menu: no notification
        {"pause 0", {"event 10 0", "event 11 0", "event 13 0"}, {"event 21 0"}},
        {"7", {"event 10 1", "event 11 8", "event 12 1"}, {"event 21 8"}},
        {"5", {"event 10 0", "event 11 0", "event 13 0"}, {"event 21 0"}},
        {"5", {}, {}},
    };
    for (const auto& [step, heard_a, heard_b] : steps) {
        if (step.size() == 1) {
            EXPECT_EQ(transmit(h, static_cast<DWORD>(std::stoul(step))), S_OK);
        } else {
            standin.control(step);
        }
        EXPECT_EQ(texts(a.collect(heard_a.size())), heard_a) << step;
        EXPECT_EQ(texts(b.collect(heard_b.size())), heard_b) << step;
    }
    // b's own transmission: b hears its own notification, a hears it under its own id and group.
    EXPECT_EQ(SimConnect_TransmitClientEvent(b.handle(), 0, 20, 7, 0, 0), S_OK);
    EXPECT_EQ(texts(b.collect(2)), (Texts{"event 20 7 group 3", "event 21 1"}));
    EXPECT_EQ(texts(a.collect(4)), (Texts{"event 4 7 group 1", "event 10 1", "event 11 1", "event 12 1"}));
    EXPECT_TRUE(a.drain().empty());
}

TEST(StandinClients, EachHasItsOwnDefinitionsAndMappingsAndHearsTheSimulator) {
    Standin standin;
    Client first(standin, "first");
    Client second(standin, "second");
    SimConnect_AddToDataDefinition(first.handle(), 0, "PLANE ALTITUDE", "feet");
    add_sample_definition(second.handle());
    SimConnect_MapClientEventToSimEvent(first.handle(), 4, "PAUSE_TOGGLE");
    SimConnect_SubscribeToSystemEvent(second.handle(), 20, "Paused");
    request_samples(first.handle());
    request_samples(second.handle());
    EXPECT_EQ(first.collect(1, kDataId).back().doubles().size(), 1u);
    EXPECT_EQ(second.collect(1, kDataId).back().doubles().size(), 9u);
    transmit(second.handle(), 4);  // never mapped by the second
    EXPECT_EQ(texts(second.drain(), SIMCONNECT_RECV_ID_EXCEPTION), Texts{"exception 3"});
    transmit(first.handle(), 4);  // the pause is the simulator's
    EXPECT_EQ(texts(second.collect(1, kEventId), kEventId), Texts{"event 20 1"});
    standin.control("event 77 3");
    for (Client* client : {&first, &second})
        EXPECT_EQ(texts(client->collect(1, kEventId), kEventId).back(), "event 77 3");

    // "quit" disconnects every client, each hears it once; the stand-in keeps listening.
    standin.control("quit");
    for (Client* client : {&first, &second}) {
        EXPECT_EQ(texts(client->until_gone(), SIMCONNECT_RECV_ID_QUIT), Texts{"quit"});
        EXPECT_EQ(client->last(), kGone);
        EXPECT_EQ(request_state(client->handle()), kGone);
    }
    Client again(standin);
}

// Four threads share a handle: every call succeeds, is logged and answered; then again while the handle is
// closed under them: each call succeeds or is told the connection is gone, none hangs.
TEST(StandinClients, ThreadsShareAHandleAndCloseMayRaceTheirCalls) {
    Standin standin;
    Client client(standin);
    const HANDLE h = client.handle();
    constexpr int kCalls = 4 * 50;
    for (const bool closing : {false, true}) {
        std::atomic<int> fine{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < kCalls / 4; ++i) {
                    const HRESULT result = SimConnect_RequestSystemState(h, 9, "Sim");
                    fine += result == S_OK || (closing && result == kGone);
                }
            });
        }
        EXPECT_EQ(closing ? client.close() : S_OK, S_OK);
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(fine, kCalls);
        EXPECT_EQ(closing || client.collect(kCalls, kStateId).size() == kCalls, true);
        EXPECT_EQ(closing || standin.log_lines().size() == 1 + kCalls, true);
    }
    EXPECT_EQ(SimConnect_RequestSystemState(h, 9, "Sim"), kGone);
    EXPECT_TRUE(eventually([&] { return standin.log_lines().back() == "SimConnect_Close -> 0"; }));

    // A call waiting for its answer is woken by Close, which still reaches the stand-in while the answer is held.
    Client held(standin, "held");
    standin.control("hold SimConnect_RequestSystemState");
    std::thread caller([&] { EXPECT_EQ(request_state(held.handle()), kGone); });
    ASSERT_TRUE(eventually([&] { return standin.log_lines().back().rfind("SimConnect_RequestSystemState", 0) == 0; }));
    EXPECT_EQ(held.close(), S_OK);
    caller.join();
    EXPECT_TRUE(eventually([&] { return standin.log_lines().back() == "SimConnect_Close -> 0"; }));
}

TEST(StandinGone, KilledTheClientGetsWhatWasWaitingThenGoneWithNoQuitAndNoHang) {
    Standin standin;
    Client client(standin);
    standin.control("event 1");
    standin.process().send_signal(SIGKILL);
    EXPECT_EQ(texts(client.until_gone()), (Texts{"event 1 0"}));  // woken by the loss, no QUIT made up
    EXPECT_EQ(client.last(), kGone);
    EXPECT_EQ(request_state(client.handle()), kGone);
    EXPECT_EQ(client.close(), S_OK);

    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);  // nothing listens there now
    EXPECT_EQ(SimConnect_Open(&handle, "nobody", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234));
}

// One end of a TCP connection, framing what it reads by the leading 32-bit size (packets and records alike);
// closed with the object. Connected to a port, it is a client other than ours (no acknowledgements asked for).
class Peer {
public:
    explicit Peer(int port = 0) {
        if (port == 0) return;
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            ::close(std::exchange(fd_, -1));
    }
    ~Peer() { ::close(fd_); }
    bool send(const std::vector<std::uint8_t>& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // The next packet or record; empty when none comes within 10 s or the connection ends.
    Received next() {
        while (pending_.size() < 4 || pending_.size() < protocol::read_u32(pending_.data()))
            if (!receive()) return {};
        const auto end = pending_.begin() + protocol::read_u32(pending_.data());
        Received got{{pending_.begin(), end}};
        pending_.erase(pending_.begin(), end);
        return got;
    }
    // True when the other end closes the connection (whatever it sent before) in time.
    bool closed_by_peer() {
        while (receive()) {
        }
        return ended_;
    }

protected:
    bool receive() {
        pollfd entry{fd_, POLLIN, 0};
        std::uint8_t buffer[4096];
        const ssize_t got = ended_ || ::poll(&entry, 1, 10000) <= 0 ? -2 : ::recv(fd_, buffer, sizeof buffer, 0);
        ended_ = ended_ || got == 0 || got == -1;
        if (got > 0) pending_.insert(pending_.end(), buffer, buffer + got);
        return got > 0;
    }

    int fd_ = -1;
    bool ended_ = false;
    std::vector<std::uint8_t> pending_;
};

template <typename Packet>
std::vector<std::uint8_t> call_packet(std::uint32_t send_id, const Packet& call) {
    auto packet = protocol::encode(call);
    protocol::stamp_send_id(packet, send_id);
    return packet;
}

std::vector<std::uint8_t> open_packet(std::uint32_t send_id, std::uint32_t version = protocol::kProtocolFsxSp2) {
    protocol::Open open{version, {"raw", false}};
    return call_packet(send_id, open);
}

std::vector<std::uint8_t> state_packet(std::uint32_t send_id, const char* name = "AircraftLoaded") {
    return call_packet(send_id, protocol::RequestSystemState{3, {name, false}});
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> first, const std::vector<std::uint8_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) text += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 0xf]};
    return text;
}

TEST(StandinProtocol, OtherClientsOpenWithEachEncodingAndHearExceptionsNotAnswers) {
    ScratchDir scratch;
    const std::string packets = (scratch.path() / "packets.log").string();
    Standin standin({"--packet-log", packets});
    // The FSX SP2, 2020 and 2024 encodings are accepted; RECV_OPEN comes back, all 308 bytes (its fields, as an
    // independent client reads them: tests/node). An older one: VERSION_MISMATCH for the Open, then a hang-up.
    for (const std::uint32_t version : {4u, 5u, 6u, 3u}) {
        Peer raw(standin.port());
        ASSERT_TRUE(raw.send(open_packet(7, version)));
        const Received record = raw.next();
        EXPECT_EQ(version == 3 ? refusal(record) : std::to_string(record.bytes.size()),
                  version == 3 ? "5 7 4294967295" : "308");
        EXPECT_TRUE(version != 3 || raw.closed_by_peer());
    }

    // No answers to calls: the records they cause, exceptions with the send id and parameter index, and
    // `fail` as an exception too. The call log shows the calls as it does for our client.
    Peer raw(standin.port());
    const auto priority = call_packet(4, protocol::SetNotificationGroupPriority{9, 1});
    ASSERT_TRUE(raw.send(open_packet(0) + state_packet(1) + state_packet(2, "NoSuchState")));
    EXPECT_EQ((Texts{raw.next().text(), raw.next().text(), refusal(raw.next())}),
              (Texts{"open", "state 3 SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg", "7 2 2"}));
    standin.control("fail SimConnect_RequestSystemState 5 1");
    ASSERT_TRUE(raw.send(state_packet(3) + priority));
    EXPECT_EQ((Texts{refusal(raw.next()), refusal(raw.next())}), (Texts{"1 3 4294967295", "3 4 1"}));
    standin.control("event 6 1");
    EXPECT_EQ(raw.next().text(), "event 6 1");  // nothing else came in between
    const Texts log = standin.log_lines();
    EXPECT_EQ(Texts(log.end() - 5, log.end()), (Texts{
                                                   "SimConnect_Open \"raw\" 0 0 0 0 -> 0",
                                                   "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0",
                                                   "SimConnect_RequestSystemState 3 \"NoSuchState\" -> 0",
                                                   "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 5",
                                                   "SimConnect_SetNotificationGroupPriority 9 1 -> 0",
                                               }));
    // The packet log holds every packet as it arrived, by connection.
    const Texts logged = split_lines(read_file(packets));
    ASSERT_GE(logged.size(), 9u);
    EXPECT_EQ(logged[2], "3 " + hex(open_packet(7, 6)));
    EXPECT_EQ(logged.back(), "5 " + hex(priority));
}

TEST(StandinGarbage, ClientsSendingGarbageOrVanishingMidCallAreDroppedAndTheOthersServed) {
    Standin standin;
    Client good(standin, "good");
    auto unmarked = state_packet(2);
    unmarked[11] = 0;
    auto short_open = open_packet(1);
    short_open.resize(100);
    protocol::write_u32(short_open.data(), 100);
    auto short_call = state_packet(2);
    short_call.resize(20);
    protocol::write_u32(short_call.data(), 20);
    const std::pair<std::vector<std::uint8_t>, std::string> rows[] = {
        {{0xff, 0xff, 0xff, 0xff, 1, 2, 3}, "dropped a client: a packet of 4294967295 bytes"},
        {{8, 0, 0, 0, 4, 0, 0, 0}, "dropped a client: a packet of 8 bytes"},
        {open_packet(1) + unmarked, "dropped a client: a packet of type 0x35"},
        {state_packet(1), "dropped a client: a packet before open"},
        {short_open, "dropped a client: a malformed open of 100 bytes"},
        {open_packet(1, 99), "refused an open of protocol version 99"},
        {open_packet(1) + open_packet(2), "dropped a client: a second open"},
        {open_packet(1) + short_call, "dropped a client: a malformed SimConnect_RequestSystemState"},
        {open_packet(1) + protocol::encode_close(), "dropped a client: a private packet without hello"},
    };
    for (const auto& [bytes, reason] : rows) {
        Peer raw(standin.port());
        ASSERT_TRUE(raw.send(bytes)) << reason;
        EXPECT_TRUE(raw.closed_by_peer()) << reason;
        EXPECT_TRUE(standin.process().wait_for_error_output("sim-standin: " + reason + "\n"))
            << standin.process().error_output();
        EXPECT_EQ(request_state(good.handle()), S_OK) << reason;
    }

    // Half a call, then gone; or gone with the answer unread.
    const auto logged = standin.log_lines().size();
    {
        Peer raw(standin.port());
        ASSERT_TRUE(raw.send(open_packet(1) + state_packet(2)));
        ASSERT_TRUE(standin.wait_for_log_lines(logged + 2));
        auto half = state_packet(3);
        half.resize(half.size() / 2);
        ASSERT_TRUE(raw.send(half));
    }
    ASSERT_TRUE(Peer(standin.port()).send(open_packet(1)));
    ASSERT_TRUE(standin.wait_for_log_lines(logged + 3));  // the Open of a client gone at once still counts
    standin.control("event 5");
    EXPECT_EQ(texts(good.collect(1, kEventId), kEventId), Texts{"event 5 0"});
    EXPECT_EQ(request_state(good.handle()), S_OK);
    EXPECT_EQ(standin.log_lines().back(), "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0");
}

// A simulator other than sim-standin, for our client library: it answers Open with an unmarked RECV_OPEN
// and then sends whatever bytes the test chooses.
class FakeSimulator : public Peer {
public:
    FakeSimulator() {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(listen_fd_, 1);
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
        ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(ntohs(address.sin_port)).c_str(), 1);
    }
    ~FakeSimulator() { ::close(listen_fd_); }

    // Opens our client against it; the Open packet it got is kept in open_packet.
    HANDLE open() {
        std::thread server([this] {
            pollfd entry{listen_fd_, POLLIN, 0};
            if (::poll(&entry, 1, 10000) == 1) fd_ = ::accept(listen_fd_, nullptr, nullptr);
            open_packet = next().bytes;
            SIMCONNECT_RECV_OPEN open{};
            open.dwSize = sizeof open;
            open.dwVersion = 5;
            open.dwID = SIMCONNECT_RECV_ID_OPEN;
            send(bytes_of(open));
        });
        HANDLE handle = nullptr;
        EXPECT_EQ(SimConnect_Open(&handle, "fake", nullptr, 0, nullptr, 0), S_OK);
        server.join();
        return handle;
    }
    std::vector<std::uint8_t> open_packet;

private:
    const int listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
};

std::string packet_text(const std::vector<std::uint8_t>& packet) {
    if (packet.size() < protocol::kPacketHeaderBytes) return "none";
    const auto header = protocol::read_header(packet.data());
    return std::to_string(header.size) + " bytes, version " + std::to_string(header.protocol) + ", type " +
           std::to_string(protocol::read_u32(packet.data() + 8)) + ", send id " + std::to_string(header.send_id);
}

// Each packet's bytes are compared with an independent client's in tests/node; here: against a simulator that
// is not sim-standin, no private packet, no waiting for an answer, and no close packet.
TEST(ClientLibrary, AgainstASimulatorSendsOnlyDocumentedPacketsAndReturnsOnceSent) {
    FakeSimulator simulator;
    const HANDLE h = simulator.open();
    EXPECT_EQ(packet_text(simulator.open_packet), "296 bytes, version 4, type 4026531841, send id 1");
    double gallons = 26.5;
    const std::function<HRESULT()> calls[] = {
        [&] { return SimConnect_AddToDataDefinition(h, 100, "PLANE ALTITUDE", "feet"); },
        [&] { return SimConnect_MapClientEventToSimEvent(h, 4, "PAUSE_TOGGLE"); },
        [&] { return SimConnect_TransmitClientEvent(h, 0, 4, 7, 1, 16); },
        [&] { return SimConnect_AddClientEventToNotificationGroup(h, 1, 4, TRUE); },
        [&] { return SimConnect_SetNotificationGroupPriority(h, 1, SIMCONNECT_GROUP_PRIORITY_HIGHEST); },
        [&] { return SimConnect_RequestDataOnSimObject(h, 2, 0, 0, SIMCONNECT_PERIOD_VISUAL_FRAME, 1); },
        [&] { return SimConnect_SetDataOnSimObject(h, 103, 0, 0, 0, sizeof gallons, &gallons); },
        [&] { return SimConnect_SubscribeToSystemEvent(h, 8, "Sim"); },
        [&] { return SimConnect_RequestSystemState(h, 3, "AircraftLoaded"); },
    };
    for (const auto& call : calls) {
        EXPECT_EQ(call(), S_OK);  // nothing answers these: sent is done
        DWORD sent = 0;
        SimConnect_GetLastSentPacketID(h, &sent);
        const auto packet = simulator.next().bytes;
        ASSERT_GE(packet.size(), protocol::kPacketHeaderBytes);
        const auto header = protocol::read_header(packet.data());
        EXPECT_TRUE(header.marked && header.protocol == 4 && protocol::decode_call(packet.data(), packet.size()))
            << packet_text(packet);  // a call of the documented size, never one of sim-standin's own packets
        EXPECT_EQ(header.send_id, sent);
    }
    EXPECT_EQ(SimConnect_Close(h), S_OK);
    EXPECT_TRUE(simulator.next().bytes.empty() && simulator.closed_by_peer());  // no packet before the hang-up
}

TEST(ClientLibrary, BadRecordsOrASimulatorSilentMidRecordEndTheConnectionWithNoQuitMadeUp) {
    const ReplyTimeout patience(200);
    SIMCONNECT_RECV_EVENT event{};
    event.dwSize = sizeof event;
    event.dwID = SIMCONNECT_RECV_ID_EVENT;
    event.uEventID = 9;
    const auto event_bytes = bytes_of(event);
    const std::pair<std::vector<std::uint8_t>, std::string> rows[] = {
        {{4, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, "a size below the header's"},
        {{0, 0, 0, 0x40, 0, 0, 0, 0, 4, 0, 0, 0}, "a size of a gigabyte"},
        {{event_bytes.begin(), event_bytes.begin() + 10}, "a record cut short, then silence"},
    };
    for (const auto& [bytes, what] : rows) {
        FakeSimulator simulator;
        const HANDLE h = simulator.open();
        simulator.send(event_bytes + bytes);
        SIMCONNECT_RECV* record = nullptr;
        DWORD size = 0;
        Texts seen;
        HRESULT result = S_OK;
        ASSERT_TRUE(eventually([&] {
            while ((result = SimConnect_GetNextDispatch(h, &record, &size)) == S_OK) {
                const auto* first = reinterpret_cast<const std::uint8_t*>(record);
                seen.push_back(Received{{first, first + size}}.text());
            }
            return result != E_FAIL;
        })) << what;
        EXPECT_EQ(seen, (Texts{"open", "event 9 0 group 0"})) << what;
        EXPECT_EQ(result, kGone) << what;
        EXPECT_EQ(SimConnect_RequestSystemState(h, 1, "Sim"), kGone) << what;
        EXPECT_EQ(SimConnect_Close(h), S_OK) << what;
    }
}

TEST(StandinHung, SilencedCallsAndOpensGiveUpAndAtResumeWhatArrivedIsCarriedOutInOrder) {
    const ReplyTimeout patience(300);
    Standin standin;
    Client caller(standin, "caller");
    Client listener(standin, "listener");
    standin.control("silence");  // it still accepts connections, but answers nothing
    EXPECT_EQ(request_state(caller.handle()), kGone);
    EXPECT_TRUE(caller.until_gone().empty());  // no QUIT made up
    EXPECT_EQ(caller.last(), kGone);
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&handle, "patient", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234));
    standin.control("event 5");  // dropped, not kept for later
    const auto logged = standin.log_lines().size();
    standin.control("resume");
    EXPECT_TRUE(standin.wait_for_log_lines(logged + 2));
    const Texts lines = standin.log_lines();
    EXPECT_EQ(
        Texts(lines.begin() + static_cast<std::ptrdiff_t>(logged), lines.end()),
        (Texts{"SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0", "SimConnect_Open \"patient\" 0 0 0 0 -> 0"}));
    standin.control("event 6");
    EXPECT_EQ(texts(listener.collect(1)), Texts{"event 6 0"});
    EXPECT_EQ(request_state(listener.handle()), S_OK);
}

const std::string kUsage =
    "usage: sim-standin [--port N] [--rate HZ] [--aircraft PATH] [--log FILE] [--packet-log FILE] [--script FILE]";

TEST(StandinProcess, FirstLineEchoesAndBadControlLinesThatStopNothing) {
    ScratchDir scratch;
    write_file(scratch.path() / "start.txt",
               "# the scene\naircraft My Folder\\aircraft.cfg\nbogus line\n\nevent 3 4\n");
    Standin standin({"--script", (scratch.path() / "start.txt").string()});  // with --port 0 --log FILE
    standin.control("freeze on");
    const std::pair<std::string, std::string> bad[] = {
        {"fail SimConnect_Open", "usage: fail FUNCTION HRESULT [COUNT]"},
        {"fail SimConnect_GetNextDispatch 1", "unknown function 'SimConnect_GetNextDispatch'"},
        {"event 1 x", "DATA must be a 32-bit decimal number"},
        {"sample 2 1 2 3 4 5 6 7 8 nine", "'nine' is not a number"},
        {"wait 1.5", "MS must be a number from 0 to 4294967295"},
        {"hold SimConnect_Bogus", "unknown function 'SimConnect_Bogus'"},
        {"state 1 " + std::string(261, 'x'), "path longer than 260 bytes"},
        {"release", "usage: release FUNCTION"},
    };
    Texts errors = {"sim-standin: bad control line \"bogus line\": unknown command 'bogus'"};
    for (const auto& [line, error] : bad) {
        standin.process().write_input(line + "\n");
        errors.push_back("sim-standin: bad control line \"" + line + "\": " + error);
    }
    standin.process().write_input("event 5 1\r\n");  // a CR LF line end is a line end
    standin.control("wait 20");
    EXPECT_TRUE(standin.process().wait_for_error_output(errors.back() + "\n"));
    EXPECT_EQ(standin.process().error_lines(), errors);
    EXPECT_EQ(
        standin.process().output_lines(),
        (Texts{"sim-standin listening on 127.0.0.1:" + std::to_string(standin.port()),
               "ok aircraft My Folder\\aircraft.cfg", "ok event 3 4", "ok freeze on", "ok event 5 1", "ok wait 20"}));
    standin.process().close_input();  // stops nothing
    Client again(standin);
}

TEST(StandinProcess, ExitSigintAndSigtermStopItWithStatusZeroAndClientsHearIt) {
    for (const std::string how : {"exit", "SIGINT", "SIGTERM"}) {
        Standin standin;
        Client client(standin);
        if (how == "exit") standin.control("exit");
        if (how != "exit") standin.process().send_signal(how == "SIGINT" ? SIGINT : SIGTERM);
        EXPECT_EQ(standin.process().wait(), 0) << how;
        EXPECT_EQ(texts(client.collect(1, SIMCONNECT_RECV_ID_QUIT)), Texts{"quit"}) << how;
    }
}

TEST(StandinProcess, BadOptionsAndStartFailuresAreRefusedClearly) {
    Standin running;
    ScratchDir scratch;
    const std::string port = std::to_string(running.port());
    const std::string missing = (scratch.path() / "no" / "such").string();
    const std::tuple<Texts, int, std::string> rows[] = {
        // arguments, status, start of standard error
        {{"--bogus"}, 2, "sim-standin: unknown option --bogus\n" + kUsage + "\n"},
        {{"--port", "70000"}, 2, "sim-standin: --port needs a number from 0 to 65535\n" + kUsage + "\n"},
        {{"--rate", "0"}, 2, "sim-standin: --rate needs a number of frames per second above 0, at most 1000\n"},
        {{"--port", "0", "--log", missing}, 1, "sim-standin: cannot write the call log " + missing + ": "},
        {{"--port", "0", "--script", missing}, 1, "sim-standin: cannot read the script " + missing},
        {{}, 1, "sim-standin: cannot listen on 127.0.0.1:" + port + ": "},  // the port from the environment
    };
    for (const auto& [arguments, status, error] : rows) {
        Texts argv = {bin_path("sim-standin")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Process process(argv, ProcessOptions{{{"SIMCONNECT_STANDIN_PORT", port}}, {}, false});
        EXPECT_EQ(process.wait(), status) << error;
        EXPECT_EQ(process.error_output().substr(0, error.size()), error);
        EXPECT_EQ(process.output(), "") << error;
    }
}

}  // namespace
}  // namespace velmar::test
