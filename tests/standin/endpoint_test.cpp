// Where the substitute library's Open connects: the rule as a table, then the
// product in simple mode started in a folder with a SimConnect.cfg.
#include <SimConnect.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "support/process.h"

namespace velmar::test {
namespace {

using standin::Endpoint;
using standin::EndpointSources;
using standin::PipeEndpoint;
using standin::TcpEndpoint;
using standin::net::Family;
using Lines = std::vector<std::string>;

const Endpoint kDefault = TcpEndpoint{Family::IPv4, "127.0.0.1", 47474};
const Endpoint kPipe = PipeEndpoint{"\\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect"};

std::string describe(const std::vector<Endpoint>& endpoints) {
    std::string text;
    for (const Endpoint& endpoint : endpoints) {
        if (const auto* tcp = std::get_if<TcpEndpoint>(&endpoint)) {
            text += (tcp->family == Family::IPv6 ? "ipv6 " : "ipv4 ") + tcp->address + " " + std::to_string(tcp->port) +
                    "; ";
        } else {
            text += "pipe " + std::get<PipeEndpoint>(endpoint).name + "; ";
        }
    }
    return text;
}

TEST(ChooseEndpoints, FromVariableConfigFileAndPlatform) {
    struct Row {
        std::optional<std::string> variable;
        std::optional<std::string> config;
        std::uint32_t index;
        bool windows;
        std::vector<Endpoint> endpoints;
        std::string error;
    };
    const std::string remote = "[SimConnect]\nProtocol=IPv4\nAddress=192.168.1.20\nPort=500\n";
    const Row rows[] = {
        // The variable wins over everything; empty counts as unset.
        {"5000", remote, 0, true, {TcpEndpoint{Family::IPv4, "127.0.0.1", 5000}}, ""},
        {"", std::nullopt, 0, false, {kDefault}, ""},
        {"", remote, 0, false, {TcpEndpoint{Family::IPv4, "192.168.1.20", 500}}, ""},
        {"abc", std::nullopt, 0, false, {}, "SIMCONNECT_STANDIN_PORT=abc is not a port number (1 to 65535)"},
        {"0", std::nullopt, 0, false, {}, "SIMCONNECT_STANDIN_PORT=0 is not a port number (1 to 65535)"},
        {"65536", std::nullopt, 0, false, {}, "SIMCONNECT_STANDIN_PORT=65536 is not a port number (1 to 65535)"},
        {" 80", std::nullopt, 0, false, {}, "SIMCONNECT_STANDIN_PORT= 80 is not a port number (1 to 65535)"},
        // Nothing set: the simulator's pipe on Windows, then the stand-in's default port.
        {std::nullopt, std::nullopt, 0, false, {kDefault}, ""},
        {std::nullopt, std::nullopt, 3, true, {kPipe, kDefault}, ""},
        // The file: case, blanks, comments, CR LF, a byte-order mark, other sections and settings.
        {std::nullopt, remote, 0, true, {TcpEndpoint{Family::IPv4, "192.168.1.20", 500}}, ""},
        {std::nullopt,
         "\xEF\xBB\xBF; bridge PC\r\n[Other]\r\nPort=1\r\n[ simconnect ]\r\n  protocol = ipv4 \r\nADDRESS=sim-pc\r\n"
         "port=4506\r\nMaxReceiveSize=41088\r\n# done\r\n",
         0,
         false,
         {TcpEndpoint{Family::IPv4, "sim-pc", 4506}},
         ""},
        {std::nullopt,
         "[SimConnect]\nProtocol=IPv6\nAddress=[::1]\nPort=4507\n",
         0,
         false,
         {TcpEndpoint{Family::IPv6, "::1", 4507}},
         ""},
        // The section of the ConfigIndex; 0 prefers [SimConnect.0] to [SimConnect].
        {std::nullopt,
         remote + "[SimConnect.1]\nProtocol=IPv4\nAddress=10.0.0.1\nPort=501\n",
         1,
         false,
         {TcpEndpoint{Family::IPv4, "10.0.0.1", 501}},
         ""},
        {std::nullopt,
         remote + "[SimConnect.0]\nProtocol=IPv4\nAddress=10.0.0.2\nPort=502\n",
         0,
         false,
         {TcpEndpoint{Family::IPv4, "10.0.0.2", 502}},
         ""},
        {std::nullopt,
         remote + "[SimConnect]\nProtocol=IPv4\nAddress=10.0.0.3\nPort=503\nPort=504\n",
         0,
         false,
         {TcpEndpoint{Family::IPv4, "192.168.1.20", 500}},
         ""},
        // SIMCONNECT_OPEN_CONFIGINDEX_LOCAL ignores the file.
        {std::nullopt, remote, 0xFFFFFFFF, false, {kDefault}, ""},
        // A file that can't be used fails Open; nothing is guessed.
        {std::nullopt, remote, 2, true, {}, "SimConnect.cfg: no section [SimConnect.2] for config index 2"},
        {std::nullopt, "", 0, true, {}, "SimConnect.cfg: no section [SimConnect.0] or [SimConnect] for config index 0"},
        {std::nullopt,
         "[SimConnect]\nAddress=1.2.3.4\nPort=500\n",
         0,
         false,
         {},
         "SimConnect.cfg: [SimConnect] has no Protocol (IPv4 or IPv6)"},
        {std::nullopt,
         "[SimConnect]\nProtocol=Pipe\nAddress=.\nPort=Custom/SimConnect\n",
         0,
         true,
         {},
         "SimConnect.cfg: [SimConnect] Protocol=Pipe is not supported: use IPv4 or IPv6"},
        {std::nullopt,
         "[SimConnect.1]\nProtocol=IPv4\nPort=500\n",
         1,
         false,
         {},
         "SimConnect.cfg: [SimConnect.1] has no Address"},
        {std::nullopt,
         "[SimConnect]\nProtocol=IPv4\nAddress=1.2.3.4\nPort=\n",
         0,
         false,
         {},
         "SimConnect.cfg: [SimConnect] has no Port"},
        {std::nullopt,
         "[SimConnect]\nProtocol=IPv4\nAddress=1.2.3.4\nPort=5OO\n",
         0,
         false,
         {},
         "SimConnect.cfg: [SimConnect] Port=5OO is not a port number (1 to 65535)"},
        {std::nullopt,
         "[SimConnect]\nProtocol=IPv4\nAddress 1.2.3.4\nPort=500\n",
         0,
         false,
         {},
         "SimConnect.cfg: [SimConnect] line 3 is no setting: Address 1.2.3.4"},
        // What the line shows of the file is cut short and cannot steer a terminal.
        {std::nullopt,
         "[SimConnect]\nProtocol=IPv4\x1b[2J" + std::string(70, '4') + "\nAddress=a\nPort=1\n",
         0,
         false,
         {},
         "SimConnect.cfg: [SimConnect] Protocol=IPv4?[2J" + std::string(52, '4') +
             "... is not supported: use IPv4 or IPv6"},
    };
    for (const Row& row : rows) {
        EndpointSources sources;
        sources.port_variable = row.variable;
        sources.config_text = row.config;
        sources.config_index = row.index;
        sources.windows = row.windows;
        const standin::EndpointChoice choice = standin::choose_endpoints(sources);
        const std::string input = testing::PrintToString(row.variable) + " " + testing::PrintToString(row.config);
        EXPECT_EQ(describe(choice.endpoints), describe(row.endpoints)) << input;
        EXPECT_EQ(choice.error, row.error) << input;
    }
}

// Accepts one connection on [::1] and forwards it to the stand-in on 127.0.0.1.
class Ipv6Relay {
public:
    explicit Ipv6Relay(int target_port) : target_port_(target_port) {
        listener_ = ::socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin6_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~Ipv6Relay() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) ::close(listener_);
    }
    int port() const { return port_; }

private:
    void serve() {
        int client = -1;
        while (!stop_ && client < 0) {
            pollfd entry{listener_, POLLIN, 0};
            if (::poll(&entry, 1, 50) == 1) client = ::accept(listener_, nullptr, nullptr);
        }
        if (client < 0) return;
        const int target = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(target_port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(target, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            pollfd ends[2] = {{client, POLLIN, 0}, {target, POLLIN, 0}};
            char buffer[4096];
            for (bool open = true; open && !stop_;) {
                if (::poll(ends, 2, 50) <= 0) continue;
                for (int i = 0; i < 2 && open; ++i) {
                    if (ends[i].revents == 0) continue;
                    const ssize_t got = ::read(ends[i].fd, buffer, sizeof buffer);
                    open = got > 0 && ::write(ends[1 - i].fd, buffer, static_cast<std::size_t>(got)) == got;
                }
            }
        }
        ::close(target);
        ::close(client);
    }

    int target_port_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};  // set by the destructor; the relay thread polls it
    std::thread thread_;
};

// velmar-tracker in simple mode, without a user, started in `folder`.
struct SimpleRun {
    int status;
    Lines output;
    Lines errors;
};

SimpleRun run_simple_mode_in(const ScratchDir& folder, std::map<std::string, std::string> environment = {}) {
    ProcessOptions options;
    options.environment = std::move(environment);
    options.unset_environment = {"SIMCONNECT_STANDIN_PORT"};
    Process tracker(
        {"/bin/sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", folder.str(), bin_path("velmar-tracker")},
        options);
    tracker.close_input();
    const std::optional<int> status = tracker.wait(30s);
    return {status.value_or(-1), tracker.output_lines(), tracker.error_lines()};
}

const std::string kConnected = "[OK] Connected to Flight Simulator!";
const std::string kFailed = "[CUSTOM ERROR] Failed to connect to Flight Simulator";
const Lines kOpenAndClose = {"SimConnect_Open \"MSFS Velmar Tracker Simple\" 0 0 0 0 -> 0", "SimConnect_Close -> 0"};

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(OpenWithConfigFile, ReachesTheStandinOverIpv4AndIpv6) {
    Standin standin;
    Ipv6Relay relay(standin.port());
    ASSERT_NE(relay.port(), 0) << "no IPv6 loopback here";
    ScratchDir folder;
    // Index 0 takes [SimConnect.0] over the bare section, which points nowhere.
    write_file(folder.path() / "SimConnect.cfg",
               "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=1\n"
               "[SimConnect.0]\nProtocol=IPv4\nAddress=localhost\nPort=" +
                   std::to_string(standin.port()) + "\n");
    SimpleRun run = run_simple_mode_in(folder);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.output, kConnected)) << testing::PrintToString(run.output);
    ASSERT_TRUE(standin.wait_for_log_lines(2));
    EXPECT_EQ(standin.log_lines(), kOpenAndClose);

    write_file(folder.path() / "SimConnect.cfg",
               "[SimConnect]\nProtocol=IPv6\nAddress=::1\nPort=" + std::to_string(relay.port()) + "\n");
    run = run_simple_mode_in(folder);
    EXPECT_TRUE(contains(run.output, kConnected)) << testing::PrintToString(run.output);
    ASSERT_TRUE(standin.wait_for_log_lines(4));
    EXPECT_EQ(standin.log_lines(), (Lines{kOpenAndClose[0], kOpenAndClose[1], kOpenAndClose[0], kOpenAndClose[1]}));
}

TEST(OpenWithConfigFile, TheWorkingDirectorysFileIsReadAndAMissingSectionIsAnInvalidArgument) {
    Standin standin;
    ScratchDir folder;
    write_file(folder.path() / "SimConnect.cfg",
               "[SimConnect.1]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(standin.port()) + "\n");
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    ::unsetenv("SIMCONNECT_STANDIN_PORT");
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&handle, "two", nullptr, 0, nullptr, 2), E_INVALIDARG);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234));
    EXPECT_EQ(SimConnect_Open(&handle, "one", nullptr, 0, nullptr, 1), S_OK);
    EXPECT_EQ(SimConnect_Close(handle), S_OK);
    // As with the SDK's library, a file beside the executable alone is not read.
    ScratchDir elsewhere;
    const auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "SimConnect.cfg";
    std::filesystem::rename(folder.path() / "SimConnect.cfg", beside);
    std::filesystem::current_path(elsewhere.path());
    HANDLE ignored = nullptr;
    const HRESULT from_beside = SimConnect_Open(&ignored, "beside", nullptr, 0, nullptr, 1);
    std::filesystem::remove(beside);
    std::filesystem::current_path(before);
    if (from_beside == S_OK) {
        SimConnect_Close(ignored);  // something else listens on the default port
    }
    ASSERT_TRUE(standin.wait_for_log_lines(2));
    EXPECT_EQ(standin.log_lines(), (Lines{"SimConnect_Open \"one\" 0 0 0 1 -> 0", "SimConnect_Close -> 0"}));
}

TEST(OpenWithConfigFile, AFileItCannotUseFailsOpenWithOneLineAndTheVariableStillWins) {
    Standin standin;
    ScratchDir folder;
    write_file(folder.path() / "SimConnect.cfg",
               "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(standin.port()) +
                   "\n[SimConnect.0]\nProtocol=Auto\n");
    const SimpleRun refused = run_simple_mode_in(folder);
    EXPECT_EQ(refused.status, 0);
    EXPECT_TRUE(contains(refused.output, kFailed)) << testing::PrintToString(refused.output);
    EXPECT_EQ(
        refused.errors,
        Lines{"SimConnect_Open: SimConnect.cfg: [SimConnect.0] Protocol=Auto is not supported: use IPv4 or IPv6"});
    EXPECT_EQ(standin.log_lines(), Lines{}) << "nothing was guessed";

    const SimpleRun tested = run_simple_mode_in(folder, standin.client_environment());
    EXPECT_TRUE(contains(tested.output, kConnected)) << testing::PrintToString(tested.output);
    EXPECT_EQ(tested.errors, Lines{});
    ASSERT_TRUE(standin.wait_for_log_lines(2));
    EXPECT_EQ(standin.log_lines(), kOpenAndClose);
}

}  // namespace
}  // namespace velmar::test
