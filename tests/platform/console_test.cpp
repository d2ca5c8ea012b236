#include "platform/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmar::platform {
namespace {

using namespace std::chrono_literals;

// Puts `fd` in the place of standard input for the lifetime of the object.
class StandardInputFrom {
public:
    explicit StandardInputFrom(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
    ~StandardInputFrom() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }
    StandardInputFrom(const StandardInputFrom&) = delete;
    StandardInputFrom& operator=(const StandardInputFrom&) = delete;

private:
    int saved_;
};

// A pseudo-terminal: the test types on the master side, the code under test
// reads the slave side.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            slave_name_ = ptsname(master_);
            slave_ = open(slave_name_.c_str(), O_RDWR | O_NOCTTY);
        }
    }
    ~PseudoTerminal() {
        if (slave_ >= 0) {
            close(slave_);
        }
        if (master_ >= 0) {
            close(master_);
        }
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ok() const { return slave_ >= 0; }
    int slave() const { return slave_; }
    const std::string& slave_name() const { return slave_name_; }

    termios modes() const {
        termios modes{};
        tcgetattr(slave_, &modes);
        return modes;
    }

    // Waits until a reader has taken the terminal out of line mode, so that
    // what is typed next reaches it as raw keys.
    bool wait_for_raw_mode() const {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            if ((modes().c_lflag & ICANON) == 0) {
                return true;
            }
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

    void type(std::string_view keys) const {
        // One write, as a terminal sends the bytes of one key press.
        EXPECT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // What the terminal has shown (echoes) so far, without waiting.
    std::string shown() const {
        std::string text;
        const int flags = fcntl(master_, F_GETFL);
        fcntl(master_, F_SETFL, flags | O_NONBLOCK);
        char buffer[256];
        ssize_t count = 0;
        while ((count = read(master_, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
        fcntl(master_, F_SETFL, flags);
        return text;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_name_;
};

constexpr tcflag_t kLineModeFlags = ICANON | ECHO | ISIG;

TEST(ReadKey, FromAPipeOneByteAtATimeThenEscAtTheEnd) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // NUL and 0xFF must come out as keys, not as "no key".
    const std::string bytes("q\0\xff\r\x1b[A", 7);
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds[1]);
    StandardInputFrom input(fds[0]);

    // Not a terminal: no sequence handling, every byte is a key.
    const std::vector<int> expected = {'q', 0, 0xFF, '\r', kEscapeKey, '[', 'A'};
    for (int code : expected) {
        EXPECT_EQ(read_key(), code);
    }
    EXPECT_EQ(read_key(), kEscapeKey) << "end of input";
    EXPECT_EQ(read_key(), kEscapeKey) << "and again, never waiting";
    close(fds[0]);
}

TEST(ReadKey, ClosedStandardInputReadsAsEsc) {
    const int saved = dup(STDIN_FILENO);
    close(STDIN_FILENO);
    EXPECT_EQ(read_key(), kEscapeKey);
    dup2(saved, STDIN_FILENO);
    close(saved);
}

struct TerminalKeyCase {
    const char* name;
    std::string typed;
    std::vector<int> codes;
};

// Test names show the row's name, not its bytes.
void PrintTo(const TerminalKeyCase& row, std::ostream* out) { *out << row.name; }

class ReadKeyOnTerminal : public testing::TestWithParam<TerminalKeyCase> {};

TEST_P(ReadKeyOnTerminal, OneKeyPressWithoutEchoAndTheModesRestored) {
    const TerminalKeyCase& row = GetParam();
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.ok());
    const termios before = terminal.modes();
    ASSERT_EQ(before.c_lflag & kLineModeFlags, kLineModeFlags);
    StandardInputFrom input(terminal.slave());

    std::thread typist([&] {
        ASSERT_TRUE(terminal.wait_for_raw_mode());
        EXPECT_NE(terminal.modes().c_lflag & ISIG, 0U) << "Ctrl+C must still interrupt";
        terminal.type(row.typed);
    });
    std::vector<int> codes;
    for (std::size_t i = 0; i < row.codes.size(); ++i) {
        codes.push_back(read_key());
    }
    typist.join();

    EXPECT_EQ(codes, row.codes);
    const termios after = terminal.modes();
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(terminal.shown(), "") << "keys must not echo";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadKeyOnTerminal,
    testing::Values(TerminalKeyCase{"Letter", "x", {'x'}},
                    // Enter reads as CR, as on the Windows console.
                    TerminalKeyCase{"Enter", "\r", {'\r'}}, TerminalKeyCase{"LoneEsc", "\x1b", {kEscapeKey}},
                    // Keys that send a sequence give two codes, never ESC.
                    TerminalKeyCase{"ArrowUp", "\x1b[A", {224, 'A'}}, TerminalKeyCase{"F1", "\x1bOP", {224, 'P'}},
                    TerminalKeyCase{
                        "F5", "\x1b[15~", {224, '~'}},  // ESC with another key typed ahead is ESC, then that key.
                    TerminalKeyCase{"EscThenLetter", "\x1bx", {kEscapeKey, 'x'}},
                    TerminalKeyCase{"ShiftArrow", "\x1b[1;2C", {224, 'C'}}),
    [](const testing::TestParamInfo<TerminalKeyCase>& row) { return std::string(row.param.name); });

TEST(ReadKey, KeysTypedAfterASequenceAreKept) {
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.ok());
    StandardInputFrom input(terminal.slave());
    std::thread typist([&] {
        ASSERT_TRUE(terminal.wait_for_raw_mode());
        // An arrow key and a letter in one burst: the sequence ends at its
        // final byte, and the letter is the next key.
        terminal.type("\x1b[Bz");
    });
    EXPECT_EQ(read_key(), 224);
    EXPECT_EQ(read_key(), 'B');
    EXPECT_EQ(read_key(), 'z');
    typist.join();
}

// A signal that ends the process during the read must leave the terminal as
// it found it: the shell would otherwise be left without echo.
struct EndingSignalCase {
    const char* name;
    int signal_number;
    const char* typed;  // the key that raises it on the terminal, or null to kill()
};

void PrintTo(const EndingSignalCase& row, std::ostream* out) { *out << row.name; }

class ReadKeyEndedBySignal : public testing::TestWithParam<EndingSignalCase> {};

TEST_P(ReadKeyEndedBySignal, RestoresTheTerminalAndDiesOfTheSignal) {
    const EndingSignalCase& row = GetParam();
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.ok());
    const termios before = terminal.modes();

    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A session of its own with the pseudo-terminal as its controlling
        // terminal, so that Ctrl+C on it signals this process.
        setsid();
        const int tty = open(terminal.slave_name().c_str(), O_RDWR);
        dup2(tty, STDIN_FILENO);
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        read_key();
        _exit(0);
    }

    ASSERT_TRUE(terminal.wait_for_raw_mode());
    if (row.typed != nullptr) {
        terminal.type(row.typed);
    } else {
        kill(child, row.signal_number);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exited with " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), row.signal_number);
    const termios after = terminal.modes();
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadKeyEndedBySignal,
    testing::Values(EndingSignalCase{"CtrlC", SIGINT, "\x03"}, EndingSignalCase{"CtrlBackslash", SIGQUIT, "\x1c"},
                    EndingSignalCase{"Terminate", SIGTERM, nullptr}, EndingSignalCase{"HangUp", SIGHUP, nullptr}),
    [](const testing::TestParamInfo<EndingSignalCase>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace velmar::platform
