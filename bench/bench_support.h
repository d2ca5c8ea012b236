#pragma once

// What the benchmarks share: child processes whose output lines are stamped
// on arrival, scratch folders, percentiles and /proc figures. POSIX only.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmar::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct StampedLine {
    Clock::time_point at;
    std::string text;
};

// A child process with pipes on standard input, output and error. Each output
// line is stamped with the steady clock the moment the reader thread sees it.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment = {});
    ~Child();  // SIGKILL when still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void send(std::string_view bytes);
    // Index of the first output line at or after `from` that `matches`, or
    // nothing after `timeout`.
    std::optional<std::size_t> wait_line(const std::function<bool(std::string_view)>& matches, std::size_t from,
                                         std::chrono::milliseconds timeout);
    std::optional<std::size_t> wait_line_equal(std::string_view text, std::size_t from,
                                               std::chrono::milliseconds timeout);
    StampedLine line(std::size_t index) const;
    std::size_t line_count() const;
    std::vector<std::string> error_lines() const;

    int pid() const { return pid_; }
    void signal(int signal_number);
    // Exit status, 128 + signal when killed, nothing on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);

private:
    void read_loop();

    int pid_ = -1;
    int input_fd_ = -1;
    int output_fd_ = -1;
    int error_fd_ = -1;
    std::optional<int> status_;
    mutable std::mutex mutex_;  // guards lines_, error_lines_
    std::vector<StampedLine> lines_;
    std::vector<std::string> error_lines_;
    std::thread reader_;
};

// A sim-standin on a free port, with its call log in `folder`.
class StandinProcess {
public:
    StandinProcess(const std::filesystem::path& folder, int rate_hz);
    int port() const { return port_; }
    // Sends one control line and waits for its "ok" echo; returns when it arrived.
    Clock::time_point control(const std::string& line);
    // Sends one control line without waiting.
    void control_async(const std::string& line);
    Child& child() { return child_; }

private:
    Child child_;
    int port_ = 0;
    std::size_t echo_from_ = 0;
};

// velmar-tracker (or $VELMAR_BENCH_BRIDGE) --file-mode `data_folder` against `standin`, with APPDATA
// set to `app_data`. Returns once the bridge reports data collection started.
class BridgeProcess {
public:
    BridgeProcess(const StandinProcess& standin, const std::filesystem::path& data_folder,
                  const std::filesystem::path& app_data);
    Child& child() { return child_; }
    // Writes `word` into the command file (which must be empty) and returns the
    // time just before the write.
    Clock::time_point write_command(const std::string& word);
    bool wait_command_file_empty(std::chrono::milliseconds timeout);
    // SIGINT, then the exit status.
    std::optional<int> stop();
    std::filesystem::path command_file() const { return data_folder_ / "python_commands.txt"; }
    std::filesystem::path data_file() const { return data_folder_ / "current_flight_data.json"; }

private:
    std::filesystem::path data_folder_;
    Child child_;
};

// Watches one file in a folder (inotify) and calls `changed` with the time
// of each write that closed it or rename onto it, and of each growth of it,
// on a thread of its own until destroyed.
class FileWatch {
public:
    FileWatch(const std::filesystem::path& file, std::function<void(Clock::time_point)> changed);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

private:
    int descriptor_ = -1;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

// A fresh folder under `base`, removed with the object.
class Scratch {
public:
    explicit Scratch(const std::filesystem::path& base);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string bin_path(std::string_view name);
std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view content);

// The value at `fraction` (0..1) of the sorted values (nearest rank).
double percentile(std::vector<double> values, double fraction);
double median(std::vector<double> values);

// CPU time (user + system) of a process in seconds, from /proc/PID/stat.
double process_cpu_seconds(int pid);
// Resident set size of a process in KiB, from /proc/PID/status.
long process_rss_kib(int pid);

// "model name" of /proc/cpuinfo, the core count and the kernel release.
std::string machine_description();
// The file system type that holds `path` ("tmpfs", "ext4", ...).
std::string file_system_of(const std::filesystem::path& path);

double milliseconds_between(Clock::time_point from, Clock::time_point to);

}  // namespace velmar::bench
