// Faults on either side of the connection: clients that send garbage or vanish
// mid-call, a stand-in that stops answering.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include "standin_harness.h"
#include "wire.h"

namespace velmar::test {
namespace {

namespace wire = standin::wire;

// A raw connection to the stand-in, closed with the object.
class RawClient {
public:
    explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool send(const std::vector<std::uint8_t>& bytes) {
        return connected_ &&
               ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // True when the stand-in closes the connection (whatever it sent before) in time.
    bool closed_by_peer() {
        for (pollfd entry{fd_, POLLIN, 0}; ::poll(&entry, 1, 10000) > 0;) {
            std::uint8_t buffer[4096];
            if (::recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
        }
        return false;
    }

private:
    int fd_;
    bool connected_ = false;
};

std::vector<std::uint8_t> open_frame(std::uint32_t version = wire::kProtocolVersion, bool whole = true) {
    wire::Writer writer(wire::Kind::Open);
    writer.u32(1).u32(version).text("raw");
    if (whole) writer.flag(false).u32(0).flag(false).u32(0);
    return std::move(writer).finish();
}

std::vector<std::uint8_t> call_frame(wire::Kind kind) {
    wire::Writer writer(kind);
    writer.u32(2).u32(3).text("AircraftLoaded");
    return std::move(writer).finish();
}

TEST(StandinGarbage, OnlyTheClientThatSendsGarbageIsDroppedWithAClearMessage) {
    Standin standin;
    Client good(standin, "good");
    ASSERT_TRUE(good.ready());
    auto twice = open_frame();
    const auto second = open_frame();
    twice.insert(twice.end(), second.begin(), second.end());
    const std::pair<std::vector<std::uint8_t>, std::string> rows[] = {
        {{0xff, 0xff, 0xff, 0xff, 1, 2, 3}, "a frame of 4294967295 bytes"},
        {call_frame(static_cast<wire::Kind>(999)), "an unknown call 999"},
        {call_frame(wire::Kind::RequestSystemState), "a call before open"},
        {open_frame(wire::kProtocolVersion, false), "a malformed SimConnect_Open"},
        {open_frame(99), "protocol version 99"},
        {twice, "a second open"},
    };
    for (const auto& [bytes, reason] : rows) {
        RawClient raw(standin.port());
        ASSERT_TRUE(raw.send(bytes)) << reason;
        EXPECT_TRUE(raw.closed_by_peer()) << reason;
        EXPECT_TRUE(standin.process().wait_for_error_output("sim-standin: dropped a client: " + reason + "\n"))
            << standin.process().error_output();
        EXPECT_EQ(SimConnect_RequestSystemState(good.handle(), 3, "AircraftLoaded"), S_OK) << reason;
    }
}

TEST(StandinGarbage, ClientsVanishingMidCallAreDroppedAndTheOthersGoOn) {
    Standin standin;
    Client good(standin, "good");
    ASSERT_TRUE(good.ready());
    {
        RawClient raw(standin.port());
        ASSERT_TRUE(raw.send(open_frame()));
        ASSERT_TRUE(standin.wait_for_log_lines(2));
        auto half = call_frame(wire::Kind::RequestSystemState);
        half.resize(half.size() / 2);
        ASSERT_TRUE(raw.send(half));
    }
    {
        RawClient rude(standin.port());  // gone with its answer unread
        ASSERT_TRUE(rude.send(open_frame()));
    }
    standin.control("event 5");
    EXPECT_EQ(events_of(good.collect_ids(SIMCONNECT_RECV_ID_EVENT)), (Events{{5, 0}}));
    EXPECT_EQ(SimConnect_RequestSystemState(good.handle(), 3, "AircraftLoaded"), S_OK);
    const auto log = standin.log_lines();
    EXPECT_EQ(log.back(), "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0");
    EXPECT_EQ(std::count(log.begin(), log.end(), "SimConnect_Open \"raw\" 0 0 0 0 -> 0"), 2);
}

TEST(StandinHung, CallsAndOpensGiveUpAndTheClientCountsItGone) {
    Standin standin;
    Client client(standin);
    ASSERT_TRUE(client.ready());
    standin.process().send_signal(SIGSTOP);  // it still accepts connections, but answers nothing
    EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), E_FAIL);
    const auto records = client.drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].id(), DWORD{SIMCONNECT_RECV_ID_QUIT});
    EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), E_FAIL);
    EXPECT_EQ(client.close(), S_OK);

    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&handle, "patient", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234));
}

}  // namespace
}  // namespace velmar::test
