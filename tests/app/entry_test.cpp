// The command-line scan; --help and --version; simple mode end to end against
// sim-standin; a second interrupt and a failed start in bridge mode (the rest
// of bridge mode is in tests/e2e and tests/faults).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "support/process.h"

namespace velmar::test {
namespace {

using namespace std::string_view_literals;
using Lines = std::vector<std::string>;

TEST(ScanCommandLine, ChoosesModeDirectoryFlagsAndExport) {
    struct Row {
        std::vector<std::string_view> arguments;
        const char* directory;        // the portable directory in bridge mode (null: not bridge mode)
        std::string_view flags = "";  // r: --reconnect, h: --help, v: --version, a: --atomic-files, e: --export
        const char* recording = "";   // the two arguments after --export
        const char* output = "";
    };
    const Row rows[] = {
        {{}, nullptr},
        {{"--file-mode"}, ""},
        {{"--file-mode", "C:\\My Temp\\velmar"}, "C:\\My Temp\\velmar"},
        {{"--file-mode", "--file-mode"}, "--file-mode"},
        {{"verbose", "--file-mode", "/tmp/v", "extra"}, "/tmp/v"},
        {{"", "a", "--file-mode"}, ""},
        {{"--file-mode", "one", "--file-mode", "two"}, "one"},
        {{"--file-mode", ""}, ""},
        {{"--file-mode", "d\xe9j\xe0/./x/"}, "d\xe9j\xe0/./x/"},
        {{"--file-mode=/tmp/v", "--FILE-MODE", "-file-mode", "--file-mod", "--file-modes", "--file-mode ",
          " --file-mode", "--file-mode\0"sv},
         nullptr},
        // --reconnect and --atomic-files anywhere but in the folder's place
        {{"--reconnect", "--file-mode"}, "", "r"},
        {{"--file-mode", "/tmp/v", "--reconnect"}, "/tmp/v", "r"},
        {{"--file-mode", "--reconnect"}, "--reconnect"},
        {{"--file-mode", "--reconnect", "--reconnect"}, "--reconnect", "r"},
        {{"--file-mode", "--file-mode", "--reconnect"}, "--file-mode", "r"},
        {{"--reconnect"}, nullptr, "r"},
        {{"--Reconnect", "--reconnect=1", "-reconnect", "--reconnect ", "--file-mode"}, ""},
        {{"--atomic-files", "--file-mode", "/tmp/v"}, "/tmp/v", "a"},
        {{"--file-mode", "--atomic-files"}, "--atomic-files"},
        {{"--file-mode", "--atomic-files", "--atomic-files"}, "--atomic-files", "a"},
        {{"--file-mode", "/tmp/v", "--file-mode", "--atomic-files"}, "/tmp/v", "a"},
        {{"--file-mode", "/tmp/v", "--atomic-files=1", "--ATOMIC-FILES", "-atomic-files", "--atomic-file"}, "/tmp/v"},
        {{"--atomic-files"}, nullptr, "a"},
        // --help and --version only before --file-mode
        {{"--help"}, nullptr, "h"},
        {{"--version", "--file-mode", "/tmp/v"}, "/tmp/v", "v"},
        {{"--help", "--version"}, nullptr, "hv"},
        {{"--file-mode", "--help"}, "--help"},
        {{"--file-mode", "/tmp/v", "--help", "--version"}, "/tmp/v"},
        {{"-h", "--HELP", "-v", "--version=1", "help"}, nullptr},
        // --export takes the two arguments after it, whatever they are
        {{"--export", "r.json", "o.gpx"}, nullptr, "e", "r.json", "o.gpx"},
        {{"--export", "--help", "--file-mode", "--export"}, nullptr, "e", "--help", "--file-mode"},
        {{"--reconnect", "--export", "r.json"}, nullptr, "re", "r.json"},
        {{"--file-mode", "--export", "--export", "a", "b"}, "--export", "e", "a", "b"},
        {{"--export=r.json", "--EXPORT", "-export", "r", "o"}, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.arguments));
        const CommandLine result = scan_command_line(row.arguments);
        EXPECT_EQ(result.file_mode, row.directory != nullptr);
        EXPECT_EQ(result.portable_directory, row.directory ? row.directory : "");
        const auto flag = [&](char letter) { return row.flags.find(letter) != std::string_view::npos; };
        EXPECT_EQ(result.bridge.reconnect, flag('r'));
        EXPECT_EQ(result.help, flag('h'));
        EXPECT_EQ(result.version, flag('v'));
        EXPECT_EQ(result.bridge.atomic_files, flag('a'));
        EXPECT_EQ(result.export_mode, flag('e'));
        EXPECT_EQ(result.export_recording, row.recording);
        EXPECT_EQ(result.export_output, row.output);
    }
}

// The console's blocks, byte for byte.
const std::string kHeader =
    "MSFS Velmar Tracker - Simple Version\n====================================\nVersion: 0.0.1\n\n"
    "Connecting to Microsoft Flight Simulator...\n";
const std::string kPrompt = "Press ENTER to try again, or ESC to exit...";
const std::string kFailure =
    "[CUSTOM ERROR] Failed to connect to Flight Simulator\n"
    "Make sure Microsoft Flight Simulator is running.\n\n" +
    kPrompt + "\n";
const std::string kRetry = "\nConnecting to Microsoft Flight Simulator...\n";
const std::string kAnyKey = "Press any key to exit...";
const std::string kSuccess =
    "[OK] Connected to Flight Simulator!\nSimConnect connection successful.\n\nThis is the simple test version.\n"
    "For full HTTP server with React UI, use the Python bridge:\n  python python-server.py\n\n" +
    kAnyKey + "\n";
const std::string kOpen = "SimConnect_Open \"MSFS Velmar Tracker Simple\" 0 0 0 0 -> ";

ProcessOptions options(std::map<std::string, std::string> environment, bool on_terminal) {
    return {std::move(environment), {}, on_terminal};  // no variables unset
}

// Waits for the `count`th `prompt` and the terminal in raw mode: a key typed now is one key press.
bool wait_for_key_read(Process& tracker, const std::string& prompt, std::size_t count) {
    if (!tracker.wait_for_line_count(prompt, count, 30s)) return false;
    const int fd = open(("/proc/" + std::to_string(tracker.pid()) + "/fd/0").c_str(), O_RDONLY | O_NOCTTY);
    termios modes{};
    const auto raw = [&] { return tcgetattr(fd, &modes) == 0 && (modes.c_lflag & ICANON) == 0; };
    for (int i = 0; i < 3000 && !raw(); ++i) std::this_thread::sleep_for(10ms);
    const bool ready = raw();
    close(fd);
    return ready;
}

Lines log_of(const Standin& standin, std::size_t count) {
    EXPECT_TRUE(standin.wait_for_log_lines(count, 30s));
    return standin.log_lines();
}

// Both print to standard output and end with status 0, touching nothing.
TEST(Entry, HelpAndVersionPrintAndExitZero) {
    for (const std::string flag : {"--help", "--version"}) {
        SCOPED_TRACE(flag);
        Process tracker({bin_path("velmar-tracker"), flag, "--file-mode"},
                        options({{"SIMCONNECT_STANDIN_PORT", "1"}}, false));
        EXPECT_EQ(tracker.wait(30s), 0);
        EXPECT_EQ(tracker.error_output(), "");
        const Lines lines = tracker.output_lines();
        if (flag == "--version") {
            EXPECT_EQ(lines, Lines{"velmar-tracker " VELMAR_VERSION});
        } else {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.front(), "Usage:");
            for (const char* mentioned : {"--file-mode [DIR]", "--reconnect", "--export RECORDING OUTPUT", "--version",
                                          "APPDATA", "Exit status"}) {
                EXPECT_NE(tracker.output().find(mentioned), std::string::npos) << mentioned;
            }
        }
    }
}

// Every key but ESC tries again (a key sending two codes: two tries), each try
// opening anew and none closed, until the simulator answers one.
TEST(SimpleMode, RetriesOnEveryKeyButEscUntilTheSimulatorAnswers) {
    Standin standin;
    standin.control("fail SimConnect_Open " + kEFail + " 3");
    Process tracker({bin_path("velmar-tracker")}, options(standin.client_environment(), true));
    ASSERT_TRUE(wait_for_key_read(tracker, kPrompt, 1)) << tracker.output();
    tracker.write_input("\r");
    ASSERT_TRUE(wait_for_key_read(tracker, kPrompt, 2)) << tracker.output();
    tracker.write_input("\x1b[A");
    ASSERT_TRUE(wait_for_key_read(tracker, kAnyKey, 1)) << tracker.output();
    tracker.write_input(" ");
    EXPECT_EQ(tracker.wait(30s), 0);
    EXPECT_EQ(tracker.output_lines(),
              split_lines(kHeader + kFailure + kRetry + kFailure + kRetry + kFailure + kRetry + kSuccess));
    EXPECT_EQ(tracker.error_output(), "");
    Lines calls(3, kOpen + kEFail);
    calls.insert(calls.end(), {kOpen + "0", "SimConnect_Close -> 0"});
    EXPECT_EQ(log_of(standin, 5), calls);
}

// Without a user the end of input reads as ESC: no endless retries. Any
// argument but the exact flag runs simple mode.
TEST(SimpleMode, AtTheEndOfInputShowsTheFailureOnceAndEnds) {
    Standin standin;
    standin.control("fail SimConnect_Open " + kEFail);
    Process tracker({bin_path("velmar-tracker"), "--file-mode=/tmp", "--FILE-MODE"},
                    options(standin.client_environment(), false));
    tracker.close_input();
    EXPECT_EQ(tracker.wait(30s), 0);
    EXPECT_EQ(tracker.output_lines(), split_lines(kHeader + kFailure + "Exiting..."));
    EXPECT_EQ(log_of(standin, 1), Lines{kOpen + kEFail});
}

const std::string kStarted = "[OK] Auto-started data collection for monitoring";
const std::string kSessionClosed = "Disconnected from MSFS SimConnect";

TEST(BridgeMode, ASecondInterruptDuringShutdownEndsAtOnceWithStatusZero) {
    ScratchDir scratch;
    Standin standin;
    auto environment = standin.client_environment();
    environment["APPDATA"] = scratch.str();
    Process bridge({bin_path("velmar-tracker"), "--file-mode", scratch.str()}, options(environment, false));
    ASSERT_TRUE(bridge.wait_for_line(kStarted, 30s)) << bridge.output();
    // The main thread waits in a call the stand-in does not answer, so the
    // orderly shutdown cannot finish before the second interrupt.
    standin.control("hold SimConnect_TransmitClientEvent");
    const std::size_t calls = standin.log_lines().size();
    write_file(scratch.path() / "python_commands.txt", "PAUSE_REGULAR\n");
    ASSERT_TRUE(eventually([&] {
        return standin.log_lines().size() > calls &&
               standin.log_lines().back() == "SimConnect_TransmitClientEvent 0 4 0 1 16 -> 0";
    }));
    bridge.send_signal(SIGINT);
    ASSERT_TRUE(bridge.wait_for_line("Shutting down...", 30s)) << bridge.output();
    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(30s), 0);
    EXPECT_EQ(bridge.count_lines(kSessionClosed), 0u) << bridge.output();
    EXPECT_EQ(read_file(scratch.path() / "simconnect_status.json").find("\"connected\":false"), std::string::npos)
        << "the orderly shutdown ran";
    standin.control("release SimConnect_TransmitClientEvent");
}

// No thread can be started (each would need more address space than there is):
// one clear error line and exit status 1, not an abort.
TEST(BridgeMode, AThreadThatCannotStartEndsWithAnErrorAndStatusOne) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer cannot run under this stack limit";
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    GTEST_SKIP() << "ThreadSanitizer cannot run under this stack limit";
#endif
#endif
    ScratchDir scratch;
    Standin standin;
    auto environment = standin.client_environment();
    environment["APPDATA"] = scratch.str();
    Process bridge(
        {"/usr/bin/prlimit", "--stack=219902325555200", "--", bin_path("velmar-tracker"), "--file-mode", scratch.str()},
        options(environment, false));
    EXPECT_EQ(bridge.wait(30s), 1);
    EXPECT_EQ(bridge.error_lines(), Lines{"[CUSTOM ERROR] Resource temporarily unavailable"});
    EXPECT_EQ(bridge.output(), "");
    EXPECT_EQ(standin.log_lines(), Lines{}) << "it never got as far as the simulator";
}

}  // namespace
}  // namespace velmar::test
