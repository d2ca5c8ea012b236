// Faults on either side of the connection: a stand-in that stops answering,
// clients that send garbage or vanish mid-call.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "../common/wire.h"
#include "standin_harness.h"

namespace velmar::test {
namespace {

int connect_to(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void send_bytes(int fd, const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// True when the peer closes the connection (whatever it sent before) within the time.
bool closed_by_peer(int fd, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
        std::uint8_t buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return true;
    }
}

std::vector<std::uint8_t> open_frame(std::uint32_t version = standin::wire::kProtocolVersion) {
    standin::wire::Writer writer(standin::wire::Kind::Open);
    writer.u32(1).u32(version).text("raw").flag(false).u32(0).flag(false).u32(0);
    return std::move(writer).finish();
}

std::vector<std::uint8_t> bytes_of(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

// A listener that takes connections and answers at most the open, then
// nothing: a stand-in that hangs.
class SilentStandin {
public:
    explicit SilentStandin(bool answer_open) : answer_open_(answer_open) {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::listen(listen_fd_, 4);
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (::pipe(stop_) != 0) throw std::runtime_error("pipe");
        thread_ = std::thread([this] { serve(); });
        ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(port_).c_str(), 1);
    }
    ~SilentStandin() {
        [[maybe_unused]] const ssize_t written = ::write(stop_[1], "s", 1);
        thread_.join();
        for (int fd : {listen_fd_, stop_[0], stop_[1]}) ::close(fd);
    }

private:
    void serve() {
        int client = -1;
        std::vector<std::uint8_t> received;
        bool answered = false;
        for (;;) {
            pollfd fds[2] = {{stop_[0], POLLIN, 0}, {client >= 0 ? client : listen_fd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0 || fds[0].revents != 0) break;
            if (client < 0) {
                client = ::accept(listen_fd_, nullptr, nullptr);
                continue;
            }
            std::uint8_t buffer[4096];
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            received.insert(received.end(), buffer, buffer + got);
            if (answer_open_ && !answered && received.size() >= 12) {
                standin::wire::Reader reader(received.data() + 8, 4);
                standin::wire::Writer reply(standin::wire::Kind::Reply);
                reply.u32(reader.u32()).i32(0);
                const auto frame = std::move(reply).finish();
                ::send(client, frame.data(), frame.size(), MSG_NOSIGNAL);
                answered = true;
            }
        }
        if (client >= 0) ::close(client);
    }

    bool answer_open_;
    int listen_fd_ = -1;
    int port_ = 0;
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

TEST(StandinSilent, OpenGivesUpOnAListenerThatNeverAnswers) {
    SilentStandin silent(false);
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&handle, "patient", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234));
}

TEST(StandinSilent, AStandinThatStopsAnsweringMidSessionCountsAsGone) {
    SilentStandin silent(true);
    HANDLE handle = nullptr;
    ASSERT_EQ(SimConnect_Open(&handle, "patient", nullptr, 0, nullptr, 0), S_OK);
    EXPECT_EQ(SimConnect_RequestSystemState(handle, 3, "AircraftLoaded"), E_FAIL);
    SIMCONNECT_RECV* record = nullptr;
    DWORD size = 0;
    ASSERT_EQ(SimConnect_GetNextDispatch(handle, &record, &size), S_OK);
    EXPECT_EQ(record->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_QUIT));
    EXPECT_EQ(SimConnect_GetNextDispatch(handle, &record, &size), E_FAIL);
    EXPECT_EQ(SimConnect_RequestSystemState(handle, 3, "AircraftLoaded"), E_FAIL);  // at once now
    EXPECT_EQ(SimConnect_Close(handle), S_OK);
}

struct Garbage {
    const char* what;
    std::vector<std::uint8_t> bytes;
    const char* reason;
};

TEST(StandinGarbage, OnlyTheClientThatSendsGarbageIsDropped) {
    InProcessStandin standin;
    TestClient good("good");
    ASSERT_TRUE(good.opened());

    standin::wire::Writer unknown(static_cast<standin::wire::Kind>(999));
    unknown.u32(1);
    standin::wire::Writer early(standin::wire::Kind::RequestSystemState);
    early.u32(1).u32(3).text("AircraftLoaded");
    standin::wire::Writer truncated(standin::wire::Kind::Open);
    truncated.u32(1).u32(standin::wire::kProtocolVersion).text("short");
    auto twice = open_frame();
    const auto second = open_frame();
    twice.insert(twice.end(), second.begin(), second.end());
    auto trailing = open_frame();
    trailing.push_back(0);
    trailing[0] = static_cast<std::uint8_t>(trailing[0] + 1);

    const Garbage rows[] = {
        {"an absurd length", bytes_of({0xff, 0xff, 0xff, 0xff, 1, 2, 3}), "bytes"},
        {"a frame too short for a call", bytes_of({2, 0, 0, 0, 1, 0}), "bytes"},
        {"an unknown call", std::move(unknown).finish(), "unknown call"},
        {"a call before open", std::move(early).finish(), "before open"},
        {"a truncated open", std::move(truncated).finish(), "malformed"},
        {"bytes left over", trailing, "malformed"},
        {"another protocol", open_frame(99), "protocol version"},
        {"a second open", twice, "second open"},
    };
    for (const auto& row : rows) {
        const int fd = connect_to(standin.port());
        ASSERT_GE(fd, 0);
        send_bytes(fd, row.bytes);
        EXPECT_TRUE(closed_by_peer(fd)) << row.what;
        ::close(fd);
        const auto errors = standin.errors();
        ASSERT_FALSE(errors.empty()) << row.what;
        EXPECT_NE(errors.back().find(row.reason), std::string::npos) << row.what << ": " << errors.back();
        EXPECT_EQ(SimConnect_RequestSystemState(good.handle(), 3, "AircraftLoaded"), S_OK) << row.what;
    }
}

TEST(StandinGarbage, AClientVanishingMidCallIsDroppedAndTheOthersGoOn) {
    InProcessStandin standin;
    TestClient good("good");
    ASSERT_TRUE(good.opened());
    const int fd = connect_to(standin.port());
    ASSERT_GE(fd, 0);
    send_bytes(fd, open_frame());
    ASSERT_TRUE(standin.wait_for_log_lines(2));
    // Half a call, then gone.
    standin::wire::Writer call(standin::wire::Kind::RequestSystemState);
    call.u32(2).u32(3).text("AircraftLoaded");
    auto frame = std::move(call).finish();
    frame.resize(frame.size() / 2);
    send_bytes(fd, frame);
    ::close(fd);

    // A client that vanishes with its answers unread is dropped too.
    const int rude = connect_to(standin.port());
    send_bytes(rude, open_frame());
    ::close(rude);

    standin.control("event 5");
    EXPECT_EQ(SimConnect_RequestSystemState(good.handle(), 3, "AircraftLoaded"), S_OK);
    const auto log = standin.log_lines();
    EXPECT_EQ(log.back(), "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0");
    EXPECT_EQ(std::count(log.begin(), log.end(), "SimConnect_Open \"raw\" 0 0 0 0 -> 0"), 2);
}

}  // namespace
}  // namespace velmar::test
