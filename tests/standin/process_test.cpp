// sim-standin as a process: what a test outside the project sees.

#include <gtest/gtest.h>

#include <csignal>

#include "standin_harness.h"

namespace velmar::test {
namespace {

const std::string kUsage = "usage: sim-standin [--port N] [--rate HZ] [--aircraft PATH] [--log FILE] [--script FILE]";

TEST(StandinProcess, FirstLineEchoesAndBadControlLinesThatStopNothing) {
    ScratchDir scratch;
    write_file(scratch.path() / "start.txt",
               "# set the scene\naircraft My Folder\\aircraft.cfg\nbogus line\n\nevent 3 4\n");
    Standin standin({"--script", (scratch.path() / "start.txt").string()});  // with --port 0 --log FILE
    standin.control("freeze on");
    standin.control("");
    standin.control("  # comments are skipped silently");
    const std::pair<std::string, std::string> bad[] = {
        {"frobnicate 3", "unknown command 'frobnicate'"},
        {"fail SimConnect_Open", "usage: fail FUNCTION HRESULT [COUNT]"},
        {"fail SimConnect_GetNextDispatch 1", "unknown function 'SimConnect_GetNextDispatch'"},
        {"fail SimConnect_Open 4294967296", "HRESULT must be a 32-bit decimal number"},
        {"fail SimConnect_Open 1 0", "COUNT must be a number from 1 to 4294967295"},
        {"exception -1", "CODE must be a number from 0 to 4294967295"},
        {"event 1 x", "DATA must be a 32-bit decimal number"},
        {"sample 2 1 2 3 4 5 6 7 8", "usage: sample REQUEST V1 V2 V3 V4 V5 V6 V7 V8 V9"},
        {"sample 2 1 2 3 4 5 6 7 8 nine", "'nine' is not a number"},
        {"state x path", "REQUEST must be a number from 0 to 4294967295"},
        {"state 1 " + std::string(261, 'x'), "path longer than 260 bytes"},
        {"freeze maybe", "usage: freeze on|off"},
        {"quit now", "usage: quit"},
        {"wait 1.5", "MS must be a number from 0 to 4294967295"},
    };
    std::vector<std::string> errors = {"sim-standin: bad control line \"bogus line\": unknown command 'bogus'"};
    for (const auto& [line, error] : bad) {
        standin.process().write_input(line + "\n");
        errors.push_back("sim-standin: bad control line \"" + line + "\": " + error);
    }
    standin.process().write_input("event 5 1\r\n");  // a CR LF line end is a line end
    standin.control("wait 20");
    EXPECT_TRUE(standin.process().wait_for_error_output(errors.back() + "\n"));
    EXPECT_EQ(standin.process().error_lines(), errors);
    EXPECT_EQ(standin.process().output_lines(),
              (std::vector<std::string>{
                  "sim-standin listening on 127.0.0.1:" + std::to_string(standin.port()),
                  "ok aircraft My Folder\\aircraft.cfg",
                  "ok event 3 4",
                  "ok freeze on",
                  "ok event 5 1",
                  "ok wait 20",
              }));

    // The end of input stops nothing; the script's aircraft is in force.
    standin.process().close_input();
    Client client(standin);
    ASSERT_TRUE(client.ready());
    ASSERT_EQ(SimConnect_RequestSystemState(client.handle(), 3, "AircraftLoaded"), S_OK);
    const auto states = of_id(client.drain(), SIMCONNECT_RECV_ID_SYSTEM_STATE);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_STREQ(states[0].as<SIMCONNECT_RECV_SYSTEM_STATE>().szString, "My Folder\\aircraft.cfg");
}

TEST(StandinProcess, ExitSigintAndSigtermStopItWithStatusZeroAndClientsHearIt) {
    for (const char* how : {"exit", "SIGINT", "SIGTERM"}) {
        Standin standin;
        Client client(standin);
        ASSERT_TRUE(client.ready()) << how;
        if (how == std::string("exit")) standin.control("exit");
        if (how == std::string("SIGINT")) standin.process().send_signal(SIGINT);
        if (how == std::string("SIGTERM")) standin.process().send_signal(SIGTERM);
        EXPECT_EQ(standin.process().wait(), 0) << how;
        EXPECT_EQ(of_id(client.collect_ids(SIMCONNECT_RECV_ID_QUIT), SIMCONNECT_RECV_ID_QUIT).size(), 1u) << how;
    }
}

TEST(StandinProcess, BadOptionsAndStartFailuresAreRefusedClearly) {
    Standin running;
    ScratchDir scratch;
    const std::string port = std::to_string(running.port());
    const std::string missing = (scratch.path() / "no" / "such").string();
    struct Row {
        std::vector<std::string> arguments;
        int status;
        std::string error;  // the start of standard error
    };
    const Row rows[] = {
        {{"--bogus"}, 2, "sim-standin: unknown option --bogus\n" + kUsage + "\n"},
        {{"--port"}, 2, "sim-standin: --port needs a value\n" + kUsage + "\n"},
        {{"--port", "70000"}, 2, "sim-standin: --port needs a number from 0 to 65535\n" + kUsage + "\n"},
        {{"--rate", "0"}, 2, "sim-standin: --rate needs a number of frames per second above 0, at most 1000\n"},
        {{"--aircraft", std::string(261, 'a')}, 2, "sim-standin: --aircraft path longer than 260 bytes\n"},
        {{"--port", "0", "--log", missing}, 1, "sim-standin: cannot write the call log " + missing + ": "},
        {{"--port", "0", "--script", missing}, 1, "sim-standin: cannot read the script " + missing},
        {{}, 1, "sim-standin: cannot listen on 127.0.0.1:" + port + ": "},  // the port from the environment
    };
    for (const auto& row : rows) {
        std::vector<std::string> argv = {bin_path("sim-standin")};
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        Process process(argv, ProcessOptions{{{"SIMCONNECT_STANDIN_PORT", port}}, {}, {}, false});
        EXPECT_EQ(process.wait(), row.status) << row.error;
        EXPECT_EQ(process.error_output().substr(0, row.error.size()), row.error);
        EXPECT_EQ(process.output(), "") << row.error;
    }
    Process help({bin_path("sim-standin"), "--help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_EQ(help.output(), kUsage + "\n");
}

// The helpers every end-to-end test leans on must not let a check pass by mistake.
TEST(SupportProcess, SignalsAreNoCleanExitAndPartLinesNoLines) {
    Process process({"/bin/sh", "-c", "printf 'three\\r\\nfour'; kill -TERM $$"});
    EXPECT_EQ(process.wait(), 128 + SIGTERM);
    EXPECT_EQ(process.output_lines(), (std::vector<std::string>{"three", "four"}));
    EXPECT_FALSE(process.wait_for_line("thr", 10ms));
    EXPECT_EQ(process.count_lines("four"), 0u);  // no line end yet
}

}  // namespace
}  // namespace velmar::test
