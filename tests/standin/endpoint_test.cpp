// Where the substitute library's Open connects: the rule as a table, then the
// product in simple mode started in a folder with a SimConnect.cfg, and the library in this process.
#include <SimConnect.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <string>
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

// The endpoints Open would try, or the reason it fails.
std::string describe(const standin::EndpointChoice& choice) {
    std::string text;
    for (const Endpoint& endpoint : choice.endpoints) {
        if (const auto* tcp = std::get_if<TcpEndpoint>(&endpoint)) {
            text += (tcp->family == Family::IPv6 ? "ipv6 " : "ipv4 ") + tcp->address + " " + std::to_string(tcp->port) +
                    "; ";
        } else {
            text += "pipe " + std::get<PipeEndpoint>(endpoint).name + "; ";
        }
    }
    return text + choice.error;
}

TEST(ChooseEndpoints, FromVariableConfigFileAndPlatform) {
    struct Row {
        std::optional<std::string> variable, config;
        std::uint32_t index;
        bool windows;
        std::string expected;
    };
    const auto none = std::nullopt;
    const std::string remote = "[SimConnect]\nProtocol=IPv4\nAddress=192.168.1.20\nPort=500\n";
    const std::string here = "ipv4 127.0.0.1 47474; ", there = "ipv4 192.168.1.20 500; ";
    const std::string cfg = "SimConnect.cfg: [SimConnect] ", v4 = "[SimConnect]\nProtocol=IPv4\nAddress=1.2.3.4\n";
    const Row rows[] = {
        // The variable wins over everything; empty counts as unset.
        {"5000", remote, 0, true, "ipv4 127.0.0.1 5000; "},
        {"", none, 0, false, here},
        {"", remote, 0, false, there},
        {"abc", none, 0, false, "SIMCONNECT_STANDIN_PORT=abc is not a port number (1 to 65535)"},
        {"0", none, 0, false, "SIMCONNECT_STANDIN_PORT=0 is not a port number (1 to 65535)"},
        {"65536", none, 0, false, "SIMCONNECT_STANDIN_PORT=65536 is not a port number (1 to 65535)"},
        {" 80", none, 0, false, "SIMCONNECT_STANDIN_PORT= 80 is not a port number (1 to 65535)"},
        // Nothing set: the simulator's pipe on Windows, then the stand-in's default port.
        {none, none, 0, false, here},
        {none, none, 3, true, "pipe \\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect; " + here},
        // The file: case, blanks, comments, CR LF, a byte-order mark, other sections and settings.
        {none, remote, 0, true, there},
        {none,
         "\xEF\xBB\xBF; bridge PC\r\n[Other]\r\nPort=1\r\n[ simconnect ]\r\n  protocol = ipv4 \r\nADDRESS=sim-pc\r\n"
         "port=4506\r\nMaxReceiveSize=41088\r\n# done\r\n",
         0, false, "ipv4 sim-pc 4506; "},
        {none, "[SimConnect]\nProtocol=IPv6\nAddress=[::1]\nPort=4507\n", 0, false, "ipv6 ::1 4507; "},
        // The section of the ConfigIndex; 0 prefers [SimConnect.0] to [SimConnect]; the first setting counts.
        {none, remote + "[SimConnect.1]\nProtocol=IPv4\nAddress=10.0.0.1\nPort=501\n", 1, false, "ipv4 10.0.0.1 501; "},
        {none, remote + "[SimConnect.0]\nProtocol=IPv4\nAddress=10.0.0.2\nPort=502\n", 0, false, "ipv4 10.0.0.2 502; "},
        {none, remote + "[SimConnect]\nProtocol=IPv4\nAddress=10.0.0.3\nPort=503\nPort=504\n", 0, false, there},
        // SIMCONNECT_OPEN_CONFIGINDEX_LOCAL ignores the file.
        {none, remote, 0xFFFFFFFF, false, here},
        // A file that can't be used fails Open; nothing is guessed.
        {none, remote, 2, true, "SimConnect.cfg: no section [SimConnect.2] for config index 2"},
        {none, "", 0, true, "SimConnect.cfg: no section [SimConnect.0] or [SimConnect] for config index 0"},
        {none, "[SimConnect]\nAddress=1.2.3.4\nPort=500\n", 0, false, cfg + "has no Protocol (IPv4 or IPv6)"},
        {none, "[SimConnect]\nProtocol=Pipe\nAddress=.\nPort=Custom/SimConnect\n", 0, true,
         cfg + "Protocol=Pipe is not supported: use IPv4 or IPv6"},
        {none, "[SimConnect.1]\nProtocol=IPv4\nPort=500\n", 1, false, "SimConnect.cfg: [SimConnect.1] has no Address"},
        {none, v4 + "Port=\n", 0, false, cfg + "has no Port"},
        {none, v4 + "Port=5OO\n", 0, false, cfg + "Port=5OO is not a port number (1 to 65535)"},
        {none, "[SimConnect]\nProtocol=IPv4\nAddress 1.2.3.4\nPort=500\n", 0, false,
         cfg + "line 3 is no setting: Address 1.2.3.4"},
        // What the line shows of the file is cut short and cannot steer a terminal.
        {none, "[SimConnect]\nProtocol=IPv4\x1b[2J" + std::string(70, '4') + "\nAddress=a\nPort=1\n", 0, false,
         cfg + "Protocol=IPv4?[2J" + std::string(52, '4') + "... is not supported: use IPv4 or IPv6"},
    };
    for (const Row& row : rows) {
        const EndpointSources sources{row.variable, row.config, row.index, row.windows};
        EXPECT_EQ(describe(standin::choose_endpoints(sources)), row.expected)
            << testing::PrintToString(row.variable) << " " << testing::PrintToString(row.config);
    }
}

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

// The product in simple mode: a file it cannot use fails Open with one line (nothing guessed) and the variable
// still wins; a usable one is followed, index 0 taking [SimConnect.0] over the bare section.
TEST(OpenWithConfigFile, TheProductFollowsTheFileOrSaysWhyNot) {
    Standin standin;
    ScratchDir folder;
    const std::string port = std::to_string(standin.port());
    write_file(folder.path() / "SimConnect.cfg",
               "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + port + "\n[SimConnect.0]\nProtocol=Auto\n");
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

    write_file(folder.path() / "SimConnect.cfg",
               "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=1\n"
               "[SimConnect.0]\nProtocol=IPv4\nAddress=localhost\nPort=" +
                   port + "\n");
    const SimpleRun run = run_simple_mode_in(folder);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.output, kConnected)) << testing::PrintToString(run.output);
    ASSERT_TRUE(standin.wait_for_log_lines(4));
    EXPECT_EQ(standin.log_lines(), (Lines{kOpenAndClose[0], kOpenAndClose[1], kOpenAndClose[0], kOpenAndClose[1]}));
}

// In this process: the working directory's file is read (not one beside the executable), a missing section is
// an invalid argument, and IPv6 reaches a listener on [::1].
TEST(OpenWithConfigFile, TheWorkingDirectorysFileIsReadAndAMissingSectionIsAnInvalidArgument) {
    Standin standin;
    ScratchDir folder;
    const int six = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof address;
    EXPECT_TRUE(::bind(six, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(six, 1) == 0 &&
                ::getsockname(six, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        << "no IPv6 loopback here";
    write_file(folder.path() / "SimConnect.cfg",
               "[SimConnect.1]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(standin.port()) +
                   "\n[SimConnect.3]\nProtocol=IPv6\nAddress=::1\nPort=" + std::to_string(ntohs(address.sin6_port)));
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    ::unsetenv("SIMCONNECT_STANDIN_PORT");
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&handle, "two", nullptr, 0, nullptr, 2), E_INVALIDARG);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234));
    EXPECT_EQ(SimConnect_Open(&handle, "one", nullptr, 0, nullptr, 1), S_OK);
    EXPECT_EQ(SimConnect_Close(handle), S_OK);
    HANDLE six_handle = nullptr;
    auto opened =
        std::async(std::launch::async, [&] { return SimConnect_Open(&six_handle, "six", nullptr, 0, nullptr, 3); });
    pollfd entry{six, POLLIN, 0};
    const int peer = ::poll(&entry, 1, 10000) == 1 ? ::accept(six, nullptr, nullptr) : -1;
    std::uint8_t size[4] = {};
    EXPECT_EQ(::recv(peer, size, sizeof size, MSG_WAITALL), 4);
    EXPECT_EQ(size[0] | size[1] << 8, 296) << "our Open over IPv6";
    ::close(peer);
    ::close(six);
    EXPECT_EQ(opened.get(), E_FAIL);  // hung up on without an answer
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

}  // namespace
}  // namespace velmar::test
