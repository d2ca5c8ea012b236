// Simple mode end to end: the real executable under a pseudo-terminal (or
// with its standard input at its end) against sim-standin.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace velmar {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const Lines kHeader = {
    "MSFS Velmar Tracker - Simple Version",        "====================================", "Version: 0.0.1", "",
    "Connecting to Microsoft Flight Simulator...",
};
const Lines kFailure = {
    "[CUSTOM ERROR] Failed to connect to Flight Simulator",
    "Make sure Microsoft Flight Simulator is running.",
    "",
    "Press ENTER to try again, or ESC to exit...",
};
const Lines kRetry = {"", "Connecting to Microsoft Flight Simulator..."};
const Lines kSuccess = {
    "[OK] Connected to Flight Simulator!",
    "SimConnect connection successful.",
    "",
    "This is the simple test version.",
    "For full HTTP server with React UI, use the Python bridge:",
    "  python python-server.py",
    "",
    "Press any key to exit...",
};
const std::string kPrompt = "Press ENTER to try again, or ESC to exit...";
const std::string kEFail = "-2147467259";

Lines join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::string open_line(const std::string& result) {
    return "SimConnect_Open \"MSFS Velmar Tracker Simple\" 0 0 0 0 -> " + result;
}

template <typename Predicate>
bool eventually(Predicate predicate) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::size_t count_lines(const test::Process& process, const std::string& line) {
    const Lines lines = process.output_lines();
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// Waits until the program has shown `prompts` prompts and is waiting for a
// key with its terminal in raw mode, so that a key typed now is neither
// echoed nor typed ahead.
bool wait_for_key_read(const test::Process& process, const std::string& prompt, std::size_t prompts) {
    if (!eventually([&] { return count_lines(process, prompt) >= prompts; })) {
        return false;
    }
    const std::string terminal = "/proc/" + std::to_string(process.pid()) + "/fd/0";
    const int fd = open(terminal.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    const bool raw = eventually([&] {
        termios modes{};
        return tcgetattr(fd, &modes) == 0 && (modes.c_lflag & ICANON) == 0;
    });
    close(fd);
    return raw;
}

// A port on which nothing listens: a stand-in's, after it is gone.
int free_port() {
    test::Standin standin;
    return standin.port();
}

std::unique_ptr<test::Process> start_tracker(const std::map<std::string, std::string>& environment, bool on_terminal,
                                             const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> argv = {test::bin_path("velmar-tracker")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    test::ProcessOptions options;
    options.environment = environment;
    options.use_pty = on_terminal;
    auto process = std::make_unique<test::Process>(argv, options);
    if (!on_terminal) {
        process->close_input();
    }
    return process;
}

TEST(SimpleMode, ConnectsClosesAndEndsOnAnyKey) {
    test::Standin standin;
    auto tracker = start_tracker(standin.client_environment(), true);

    ASSERT_TRUE(wait_for_key_read(*tracker, "Press any key to exit...", 1)) << tracker->output();
    tracker->write_input("x");
    EXPECT_EQ(tracker->wait(), 0);

    EXPECT_EQ(tracker->output_lines(), join({kHeader, kSuccess}));
    EXPECT_EQ(tracker->error_output(), "");
    ASSERT_TRUE(standin.wait_for_log_lines(2));
    EXPECT_EQ(standin.log_lines(), (Lines{open_line("0"), "SimConnect_Close -> 0"}));
}

TEST(SimpleMode, RetriesOnEveryKeyButEscThenExits) {
    test::Standin standin;
    standin.control("fail SimConnect_Open " + kEFail);
    auto tracker = start_tracker(standin.client_environment(), true);

    ASSERT_TRUE(wait_for_key_read(*tracker, kPrompt, 1)) << tracker->output();
    tracker->write_input("\r");
    ASSERT_TRUE(wait_for_key_read(*tracker, kPrompt, 2)) << tracker->output();
    tracker->write_input("q");
    ASSERT_TRUE(wait_for_key_read(*tracker, kPrompt, 3)) << tracker->output();
    // An arrow key sends two codes: two more tries, and never read as ESC.
    tracker->write_input("\x1b[A");
    ASSERT_TRUE(wait_for_key_read(*tracker, kPrompt, 5)) << tracker->output();
    tracker->write_input("\x1b");
    EXPECT_EQ(tracker->wait(), 0);

    EXPECT_EQ(tracker->output_lines(), join({kHeader,
                                             kFailure,
                                             kRetry,
                                             kFailure,
                                             kRetry,
                                             kFailure,
                                             kRetry,
                                             kFailure,
                                             kRetry,
                                             kFailure,
                                             {"Exiting..."}}));
    EXPECT_EQ(tracker->error_output(), "");
    ASSERT_TRUE(standin.wait_for_log_lines(5));
    EXPECT_EQ(standin.log_lines(), Lines(5, open_line(kEFail))) << "every try opens anew, none is closed";
}

TEST(SimpleMode, ConnectsOnceTheSimulatorStartsBetweenTwoTries) {
    const int port = free_port();
    auto tracker = start_tracker({{"SIMCONNECT_STANDIN_PORT", std::to_string(port)}}, true);
    ASSERT_TRUE(wait_for_key_read(*tracker, kPrompt, 1)) << tracker->output();

    test::ScratchDir scratch;
    const std::string log = (scratch.path() / "calls.log").string();
    test::Process standin({test::bin_path("sim-standin"), "--port", std::to_string(port), "--log", log});
    ASSERT_TRUE(standin.wait_for_line("sim-standin listening on 127.0.0.1:" + std::to_string(port)))
        << standin.error_output();

    tracker->write_input("\r");
    ASSERT_TRUE(wait_for_key_read(*tracker, "Press any key to exit...", 1)) << tracker->output();
    tracker->write_input(" ");
    EXPECT_EQ(tracker->wait(), 0);

    EXPECT_EQ(tracker->output_lines(), join({kHeader, kFailure, kRetry, kSuccess}));
    EXPECT_EQ(test::split_lines(test::read_file(log)), (Lines{open_line("0"), "SimConnect_Close -> 0"}));
}

TEST(SimpleMode, EndOfInputAtTheRetryPromptExitsOnce) {
    test::Standin standin;
    standin.control("fail SimConnect_Open " + kEFail);
    auto tracker = start_tracker(standin.client_environment(), false);

    EXPECT_EQ(tracker->wait(), 0);
    EXPECT_EQ(tracker->output_lines(), join({kHeader, kFailure, {"Exiting..."}}));
    EXPECT_EQ(standin.log_lines(), Lines{open_line(kEFail)});
}

TEST(SimpleMode, EndOfInputAfterConnectingEnds) {
    test::Standin standin;
    auto tracker = start_tracker(standin.client_environment(), false);

    EXPECT_EQ(tracker->wait(), 0);
    EXPECT_EQ(tracker->output_lines(), join({kHeader, kSuccess}));
    ASSERT_TRUE(standin.wait_for_log_lines(2));
    EXPECT_EQ(standin.log_lines(), (Lines{open_line("0"), "SimConnect_Close -> 0"}));
}

TEST(SimpleMode, ArgumentsOtherThanTheExactFlagRunIt) {
    const int port = free_port();
    auto tracker = start_tracker({{"SIMCONNECT_STANDIN_PORT", std::to_string(port)}}, false,
                                 {"--file-mode=/tmp", "--FILE-MODE", "-file-mode", "/tmp"});
    EXPECT_EQ(tracker->wait(), 0);
    EXPECT_EQ(tracker->output_lines(), join({kHeader, kFailure, {"Exiting..."}}));
}

}  // namespace
}  // namespace velmar
