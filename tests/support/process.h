#pragma once

// Test helpers that run the real executables: child processes with pipes or a
// pseudo-terminal, the stand-in simulator as a process, scratch folders.
// POSIX only (the tests run natively; the Windows executable runs under Wine).

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmar::test {

using namespace std::chrono_literals;

// E_FAIL as the call log and the program print it.
inline const std::string kEFail = "-2147467259";

// Polls `done` until it holds or `timeout` has passed; generous by default,
// since the sanitizer builds run the tests in parallel on few cores.
template <typename Predicate>
bool eventually(Predicate done, std::chrono::milliseconds timeout = 30s) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; !done();) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Path of an executable built into the build folder's bin/ ("sim-standin").
std::string bin_path(std::string_view name);

struct ProcessOptions {
    std::map<std::string, std::string> environment;  // added to (or replacing) the inherited one
    std::vector<std::string> unset_environment;      // removed from the inherited one
    // Standard input and output on a pseudo-terminal (echo off, so typed keys do
    // not show up as output); standard error stays a pipe.
    bool use_pty = false;
    // When set (and not use_pty): the child's standard output, which is then
    // not collected (e.g. a pipe that nobody reads). The caller keeps its copy.
    int output_fd = -1;
};

class Process {
public:
    // Starts argv[0] (a path) with the arguments. Output is collected in the
    // background from the moment of start.
    Process(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~Process();  // kills the process (SIGKILL) if it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void write_input(std::string_view bytes);
    void close_input();

    // Waits until standard output holds a whole line equal to `line`.
    bool wait_for_line(std::string_view line, std::chrono::milliseconds timeout = 10s);
    // Waits until standard output holds `count` whole lines equal to `line`.
    bool wait_for_line_count(std::string_view line, std::size_t count, std::chrono::milliseconds timeout = 10s);
    std::size_t count_lines(std::string_view line) const;
    // Waits until standard output contains `text` anywhere.
    bool wait_for_output(std::string_view text, std::chrono::milliseconds timeout = 10s);
    bool wait_for_error_output(std::string_view text, std::chrono::milliseconds timeout = 10s);

    std::string output() const;                     // all of standard output so far (pty: CR LF as read)
    std::string error_output() const;               // all of standard error so far
    std::vector<std::string> output_lines() const;  // whole lines, line ends (LF or CR LF) removed
    std::vector<std::string> error_lines() const;

    void send_signal(int signal_number);
    // The exit status (0..255), 128 + signal when killed, or nothing on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout = 10s);
    int pid() const;

private:
    struct Impl;
    Impl* impl_;
};

// sim-standin started with --port 0 and a call log in a scratch file.
class Standin {
public:
    // Throws std::runtime_error when the stand-in does not come up.
    explicit Standin(const std::vector<std::string>& extra_arguments = {});
    ~Standin();  // kills the stand-in if still running and removes its folder
    int port() const;
    // Sends one control line and waits for its "ok" echo (for "exit": for the
    // process to end; blank and comment lines: no wait). Throws
    // std::runtime_error when the echo does not come.
    void control(const std::string& line);
    std::vector<std::string> log_lines() const;
    const std::string& log_path() const { return log_path_; }
    // Waits until the call log holds `count` lines or more.
    bool wait_for_log_lines(std::size_t count, std::chrono::milliseconds timeout = 10s) const;
    Process& process();
    // The environment a client needs to reach this stand-in.
    std::map<std::string, std::string> client_environment() const;

private:
    std::filesystem::path folder_;
    std::string log_path_;
    std::optional<Process> process_;
    int port_ = 0;
};

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view content);
std::vector<std::string> split_lines(std::string_view text);

}  // namespace velmar::test
