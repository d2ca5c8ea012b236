// The platform layer on POSIX. The single-key read must leave the terminal as
// it found it, even when a signal ends the process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "support/process.h"

namespace velmar::platform {
namespace {

using namespace std::chrono_literals;
using Codes = std::vector<int>;
using Value = std::optional<std::string>;

// Reads `count` keys with `fd` (-1: none at all) as standard input.
Codes read_keys_from(int fd, std::size_t count) {
    const int saved = dup(STDIN_FILENO);
    fd < 0 ? close(STDIN_FILENO) : dup2(fd, STDIN_FILENO);
    Codes codes;
    while (codes.size() < count) codes.push_back(read_key());
    dup2(saved, STDIN_FILENO);
    close(saved);
    return codes;
}

// The test types on the master side; the code under test reads the slave.
struct Terminal {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    std::string name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
    int slave = open(name.c_str(), O_RDWR | O_NOCTTY);
    const termios before = modes();
    ~Terminal() {
        close(slave);
        close(master);
    }
    termios modes() const {
        termios modes{};
        tcgetattr(slave, &modes);
        return modes;
    }
    // Keys typed while the reader is still in line mode would wait for a line end.
    bool type_when_raw(const std::string& keys) const {
        for (int i = 0; i < 3000 && (modes().c_lflag & ICANON) != 0; ++i) std::this_thread::sleep_for(10ms);
        return (modes().c_lflag & ICANON) == 0 &&
               write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }
    bool restored() const { return modes().c_lflag == before.c_lflag && modes().c_iflag == before.c_iflag; }
};

TEST(ReadKey, WithoutATerminalEveryByteIsAKeyAndNoInputIsEsc) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "q\0\xff\r\x1b[A", 7), 7);
    close(fds[1]);
    // ESC at the end, every time: no caller waits for input that cannot come.
    EXPECT_EQ(read_keys_from(fds[0], 9), (Codes{'q', 0, 0xFF, '\r', kEscapeKey, '[', 'A', kEscapeKey, kEscapeKey}));
    close(fds[0]);
    EXPECT_EQ(read_keys_from(-1, 1), Codes{kEscapeKey});
}

TEST(ReadKey, OnATerminalOneKeyPressWithoutEchoAndTheModesRestored) {
    const std::pair<std::string, Codes> rows[] = {
        {"x", {'x'}},
        {"\r", {'\r'}},  // as on the Windows console
        {"\x1b", {kEscapeKey}},
        {"\x1bx", {kEscapeKey, 'x'}},
        // Keys that send a sequence give a prefix and a second code, never ESC.
        {"\x1b[A", {224, 'A'}},
        {"\x1bOP", {224, 'P'}},
        {"\x1b[1;2Cz", {224, 'C', 'z'}},
    };
    for (const auto& [typed, codes] : rows) {
        Terminal terminal;
        std::thread typist([&terminal, keys = typed] { EXPECT_TRUE(terminal.type_when_raw(keys)); });
        EXPECT_EQ(read_keys_from(terminal.slave, codes.size()), codes);
        typist.join();
        EXPECT_TRUE(terminal.restored());
        fcntl(terminal.master, F_SETFL, O_NONBLOCK);
        char echo = 0;
        EXPECT_EQ(read(terminal.master, &echo, 1), -1) << "keys must not echo";
    }
}

// Otherwise the shell would be left without echo.
TEST(ReadKey, RestoresTheTerminalWhenASignalEndsTheProcess) {
    const std::pair<int, const char*> rows[] = {{SIGINT, "\x03"}, {SIGQUIT, "\x1c"}, {SIGTERM, ""}, {SIGHUP, ""}};
    for (const auto& [signal_number, key] : rows) {
        Terminal terminal;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setsid();  // the terminal becomes the controlling one: Ctrl+C signals the child
            dup2(open(terminal.name.c_str(), O_RDWR), STDIN_FILENO);
            const rlimit no_core{0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            read_key();
            _exit(0);
        }
        ASSERT_TRUE(terminal.type_when_raw(key));
        if (*key == '\0') kill(child, signal_number);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
        EXPECT_TRUE(terminal.restored()) << signal_number;
    }
}

// Every test sets what it reads, so nothing needs putting back.
void set_environment(const char* name, const Value& value) {
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    tzset();
}

// Standard output is a pipe that is full and not read until all lines are
// queued: nothing waits, and every line is either written (whole, in order)
// or counted in the one notice that follows once the pipe is read again.
TEST(Console, AStalledConsoleNeverWaitsAndCountsWhatItDropped) {
    constexpr int kLines = 1000;
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    fcntl(out[1], F_SETFL, O_NONBLOCK);
    std::size_t filled = 0;
    for (const std::size_t chunk : {std::size_t{4096}, std::size_t{1}}) {
        const std::string bytes(chunk, '#');
        for (ssize_t written; (written = write(out[1], bytes.data(), chunk)) > 0;)
            filled += static_cast<std::size_t>(written);
    }
    fcntl(out[1], F_SETFL, 0);
    test::ScratchDir scratch;
    const std::string errors_path = scratch.str() + "/errors";
    const int errors = open(errors_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_out = dup(STDOUT_FILENO);
    const int saved_errors = dup(STDERR_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(errors, STDERR_FILENO);

    for (int i = 1; i <= kLines; ++i) print_line("line " + std::to_string(i));
    std::string taken;
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;)
            taken.append(buffer, static_cast<std::size_t>(got));
    });
    const bool drained = drain_console(60s);
    print_line("after the stall");
    const bool drained_again = drain_console(60s);

    dup2(saved_out, STDOUT_FILENO);
    dup2(saved_errors, STDERR_FILENO);
    for (const int fd : {saved_out, saved_errors, errors, out[1]}) close(fd);
    reader.join();
    close(out[0]);
    ASSERT_TRUE(drained && drained_again);
    ASSERT_GT(taken.size(), filled);
    const auto lines = test::split_lines(std::string_view(taken).substr(filled));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "after the stall");
    int last = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        ASSERT_TRUE(lines[i].starts_with("line ")) << lines[i];
        const int number = std::stoi(lines[i].substr(5));
        EXPECT_GT(number, last) << "out of order";
        last = number;
    }
    const int written = static_cast<int>(lines.size()) - 1;
    EXPECT_LT(written, kLines) << "the queue is bounded";
    EXPECT_EQ(test::read_file(errors_path), "[CUSTOM ERROR] The console was not taking output: " +
                                                std::to_string(kLines - written) + " lines dropped\n");
}

TEST(AppDataFolder, AppdataThenXdgThenHomeThenNothing) {
    const Value none;
    const Value rows[][4] = {
        // APPDATA, XDG_DATA_HOME, HOME, the folder
        {"/a/roaming", "/x/data", "/home/u", "/a/roaming"},
        {"", "/x/data", "/home/u", ""},  // set, though empty
        {none, "/x/data", "/home/u", "/x/data"},
        {none, "", "/home/u", "/home/u/.local/share"},
        {none, "x/data", "/home/u", "/home/u/.local/share"},  // relative: ignored
        {none, none, "/home/u", "/home/u/.local/share"},
        {none, none, none, none},
        {none, none, "", none},
    };
    for (const auto& row : rows) {
        set_environment("APPDATA", row[0]);
        set_environment("XDG_DATA_HOME", row[1]);
        set_environment("HOME", row[2]);
        EXPECT_EQ(app_data_folder(), row[3]) << row[0].value_or("-") << row[1].value_or("-") << row[2].value_or("-");
    }
}

TEST(FormatLocalTime, UsesTheZoneOfTheMoment) {
    set_environment("TZ", "UTC0");
    EXPECT_EQ(format_local_time(1700000000, "%Y%m%d_%H%M%S"), "20231114_221320");
    set_environment("TZ", "EST5");
    EXPECT_EQ(format_local_time(1704070800, "%Y-%m-%d %H:%M:%S"), "2023-12-31 20:00:00");

    // The bridge formats on two threads at once. Without TZ the C library
    // replaces its zone name on every tzset: the ThreadSanitizer build sees it.
    set_environment("TZ", std::nullopt);
    std::thread other([] {
        for (int i = 0; i < 200; ++i) format_local_time(i, "%H");
    });
    for (int i = 0; i < 200; ++i) format_local_time(i, "%H");
    other.join();
}

// What stands at a path decides each operation's outcome; a pipe or device
// is refused without waiting on it (a blocking open would hang here).
TEST(ExchangeFiles, OnlyPlainFilesAreWrittenOrReadAndFoldersAreMadeOneLevel) {
    test::ScratchDir scratch;
    const auto at = [&](const char* name) { return scratch.str() + "/" + name; };
    std::filesystem::create_directory(at("folder"));
    test::write_file(at("plain"), "PAUSE_SIM\n");
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0666), 0);
    const std::string not_plain = not_a_regular_file().message();
    const std::string absent = "No such file or directory";
    struct Row {
        std::string path, made, rewritten, replaced, read;  // each operation's reason, "" when it works
    };
    const Row rows[] = {
        {at("plain"), "Not a directory", "", "", ""},
        {at("folder"), "", "Is a directory", "Is a directory", "Is a directory"},
        // No reader: the open fails at once. Replacing puts a plain file in its place.
        {at("fifo"), "Not a directory", "No such device or address", "", not_plain},
        {"/dev/zero", "Not a directory", not_plain, "-", not_plain},
        {at("missing/child"), absent, absent, absent, absent},
    };
    const auto outcome = [](const std::error_code& error) { return error ? error.message() : ""; };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        char head[16];
        std::size_t size = 0;
        EXPECT_EQ(outcome(read_head(row.path, head, sizeof head, size)), row.read);
        EXPECT_EQ(outcome(make_directory(row.path)), row.made);
        EXPECT_EQ(outcome(rewrite_in_place(row.path, "{}")), row.rewritten);
        if (row.replaced != "-") {
            EXPECT_EQ(outcome(replace_whole(row.path, "{}")), row.replaced);
        }
    }
    EXPECT_FALSE(make_directory(at("new")));
    EXPECT_TRUE(is_directory(at("new")));
    EXPECT_EQ(test::read_file(at("plain")), "{}");
    EXPECT_FALSE(std::filesystem::exists(at("missing")));
}

// A reader that holds the old file keeps reading the old text whole; the
// name shows the new text at once; a missing folder leaves nothing behind.
TEST(ReplaceFile, OldOrNewTextNeverAPart) {
    test::ScratchDir scratch;
    const std::string path = scratch.str() + "/state.json";
    ASSERT_FALSE(replace_whole(path, "{\"old\":1}"));
    std::ifstream holder(path);
    ASSERT_FALSE(replace_whole(path, "{\"new\":22}"));
    std::ostringstream held;
    held << holder.rdbuf();
    EXPECT_EQ(held.str(), "{\"old\":1}");
    EXPECT_EQ(test::read_file(path), "{\"new\":22}");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1) << "no temporary left";
}

}  // namespace
}  // namespace velmar::platform
