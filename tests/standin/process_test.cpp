// sim-standin as a process: what a test outside the project sees.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include "standin_harness.h"

namespace velmar::test {
namespace {

const std::string kListening = "sim-standin listening on 127.0.0.1:";

// A client of the library reaching the stand-in process.
class ProcessClient : public TestClient {
public:
    explicit ProcessClient(const Standin& standin) : TestClient(set_port(standin)) {
        if (opened()) collect_ids(SIMCONNECT_RECV_ID_OPEN, 1);
    }

private:
    static const char* set_port(const Standin& standin) {
        ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(standin.port()).c_str(), 1);
        return "process client";
    }
};

std::string aircraft_loaded(TestClient& client) {
    if (SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded") != S_OK) return "<failed>";
    for (const auto& record : client.drain()) {
        if (record.id() == SIMCONNECT_RECV_ID_SYSTEM_STATE) {
            const auto state = record.as<SIMCONNECT_RECV_SYSTEM_STATE>();
            return std::string(state.szString, strnlen(state.szString, sizeof state.szString));
        }
    }
    return "<none>";
}

int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(StandinProcess, ListensEchoesControlLinesAndReportsBadOnes) {
    Standin standin;
    EXPECT_GT(standin.port(), 0);
    standin.control("freeze on");
    standin.control("");
    standin.control("# comments are skipped silently");
    standin.process().write_input("frobnicate 3\n");
    standin.process().write_input("event 5 1\r\n");  // a CR LF line end is a line end
    standin.control("wait 20");
    EXPECT_TRUE(standin.process().wait_for_error_output("frobnicate 3"));
    EXPECT_EQ(standin.process().output_lines(), (std::vector<std::string>{
                                                    kListening + std::to_string(standin.port()),
                                                    "ok freeze on",
                                                    "ok event 5 1",
                                                    "ok wait 20",
                                                }));
    EXPECT_EQ(standin.process().error_lines().size(), 1u);
    standin.process().send_signal(SIGTERM);
    EXPECT_EQ(standin.process().wait(), 0);
}

TEST(StandinProcess, ScriptLinesRunAtStartInOrder) {
    ScratchDir scratch;
    const auto script = scratch.path() / "start.txt";
    write_file(script, "# set the scene\naircraft My Folder\\aircraft.cfg\nbogus line\n\nevent 3 4\n");
    Standin standin({"--script", script.string()});
    ASSERT_TRUE(standin.process().wait_for_line("ok event 3 4"));
    EXPECT_EQ(standin.process().output_lines(), (std::vector<std::string>{
                                                    kListening + std::to_string(standin.port()),
                                                    "ok aircraft My Folder\\aircraft.cfg",
                                                    "ok event 3 4",
                                                }));
    EXPECT_TRUE(standin.process().wait_for_error_output("bogus line"));
    ProcessClient client(standin);
    ASSERT_TRUE(client.opened());
    EXPECT_EQ(aircraft_loaded(client), "My Folder\\aircraft.cfg");
}

TEST(StandinProcess, EachCallIsLoggedBeforeItIsAnswered) {
    Standin standin;
    ProcessClient client(standin);
    ASSERT_TRUE(client.opened());
    EXPECT_EQ(aircraft_loaded(client), "SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg");
    // No waiting: the line was on disk before the answer came.
    EXPECT_EQ(standin.log_lines().back(), "SimConnect_RequestSystemState 3 \"AircraftLoaded\" -> 0");
    standin.control("fail SimConnect_Open -1");
    HANDLE handle = reinterpret_cast<HANDLE>(0x1);
    EXPECT_EQ(SimConnect_Open(&handle, "refused", nullptr, 0, nullptr, 0), -1);
    EXPECT_EQ(standin.log_lines().back(), "SimConnect_Open \"refused\" 0 0 0 0 -> -1");
}

TEST(StandinProcess, EndOfInputStopsNothingButExitAndSignalsDo) {
    {
        Standin standin;
        standin.process().close_input();
        ProcessClient client(standin);
        EXPECT_TRUE(client.opened());
        EXPECT_TRUE(standin.process().running());
        standin.process().send_signal(SIGINT);
        EXPECT_EQ(standin.process().wait(), 0);
        // The client hears it went away.
        EXPECT_EQ(client.collect_ids(SIMCONNECT_RECV_ID_QUIT, 1).size(), 1u);
    }
    {
        Standin standin;
        ProcessClient client(standin);
        standin.control("exit");
        EXPECT_EQ(standin.process().wait(), 0);
        EXPECT_EQ(client.collect_ids(SIMCONNECT_RECV_ID_QUIT, 1).back().id(),
                  static_cast<DWORD>(SIMCONNECT_RECV_ID_QUIT));
        EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), E_FAIL);
    }
}

TEST(StandinProcess, AKilledStandinGivesTheClientQuitAndNeverAHang) {
    Standin standin;
    ProcessClient client(standin);
    ASSERT_TRUE(client.opened());
    standin.process().send_signal(SIGKILL);
    ASSERT_TRUE(standin.process().wait().has_value());
    const auto records = client.collect_ids(SIMCONNECT_RECV_ID_QUIT, 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].id(), static_cast<DWORD>(SIMCONNECT_RECV_ID_QUIT));
    EXPECT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), E_FAIL);
    EXPECT_TRUE(client.drain().empty());
}

TEST(StandinProcess, ThePortComesFromTheEnvironmentUnlessGiven) {
    const int port = free_port();
    Process process({bin_path("sim-standin")},
                    ProcessOptions{{{"SIMCONNECT_STANDIN_PORT", std::to_string(port)}}, {}, {}, false});
    EXPECT_TRUE(process.wait_for_line(kListening + std::to_string(port)));
    // The same port again is taken: a clear error and a failure status.
    Process second({bin_path("sim-standin"), "--port", std::to_string(port)});
    EXPECT_EQ(second.wait(), 1);
    EXPECT_NE(second.error_output().find("cannot listen"), std::string::npos);
}

TEST(StandinProcess, BadOptionsAreRefusedWithUsage) {
    const std::vector<std::vector<std::string>> rows = {
        {"--bogus"},
        {"--port"},
        {"--port", "x"},
        {"--port", "70000"},
        {"--rate", "0"},
        {"--rate", "fast"},
        {"--aircraft", std::string(261, 'a')},
    };
    for (const auto& arguments : rows) {
        std::vector<std::string> argv = {bin_path("sim-standin")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Process process(argv);
        EXPECT_EQ(process.wait(), 2) << arguments[0];
        EXPECT_NE(process.error_output().find("usage: sim-standin"), std::string::npos) << arguments[0];
        EXPECT_TRUE(process.output().empty()) << arguments[0];
    }
    Process help({bin_path("sim-standin"), "--help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(help.output().find("usage: sim-standin"), std::string::npos);
}

TEST(StandinProcess, AnUnwritableLogOrMissingScriptStopsTheStart) {
    ScratchDir scratch;
    Process log({bin_path("sim-standin"), "--port", "0", "--log", (scratch.path() / "no" / "such" / "dir").string()});
    EXPECT_EQ(log.wait(), 1);
    EXPECT_NE(log.error_output().find("call log"), std::string::npos);
    Process script({bin_path("sim-standin"), "--port", "0", "--script", (scratch.path() / "missing").string()});
    EXPECT_EQ(script.wait(), 1);
    EXPECT_NE(script.error_output().find("script"), std::string::npos);
}

TEST(StandinProcess, FramesFollowTheRate) {
    Standin standin({"--rate", "200"});
    ProcessClient client(standin);
    add_sample_definition(client.handle());
    SimConnect_RequestDataOnSimObject(client.handle(), 2, 0, 0, SIMCONNECT_PERIOD_VISUAL_FRAME);
    const auto records = client.collect_ids(SIMCONNECT_RECV_ID_SIMOBJECT_DATA, 10);
    ASSERT_EQ(records.size(), 10u);
    // A steady climb of 500 feet per minute: 1/24 foot per frame at 200 frames a second.
    const double step = records[9].doubles()[0] - records[8].doubles()[0];
    EXPECT_NEAR(step, 500.0 / 60 / 200, 1e-6);
}

}  // namespace
}  // namespace velmar::test
