#include "bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace velmar::bench {

namespace {

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void split_into(std::string& pending, std::string_view bytes, std::vector<std::string>& out) {
    pending.append(bytes);
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
        std::size_t length = end - start;
        if (length > 0 && pending[end - 1] == '\r') --length;
        out.emplace_back(pending, start, length);
    }
    pending.erase(0, start);
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment) {
    int input[2], output[2], error[2];
    check(pipe2(input, O_CLOEXEC) == 0 && pipe2(output, O_CLOEXEC) == 0 && pipe2(error, O_CLOEXEC) == 0, "pipe");

    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string_view entry(*e);
        std::string name(entry.substr(0, entry.find('=')));
        if (environment.count(name) == 0) env_strings.emplace_back(entry);
    }
    for (const auto& [name, value] : environment) env_strings.push_back(name + "=" + value);
    std::vector<char*> env_pointers;
    for (auto& s : env_strings) env_pointers.push_back(s.data());
    env_pointers.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    std::vector<char*> argv_pointers;
    for (auto& s : argv_copy) argv_pointers.push_back(s.data());
    argv_pointers.push_back(nullptr);

    pid_ = fork();
    check(pid_ >= 0, "fork");
    if (pid_ == 0) {
        dup2(input[0], 0);
        dup2(output[1], 1);
        dup2(error[1], 2);
        execve(argv_pointers[0], argv_pointers.data(), env_pointers.data());
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    close(error[1]);
    input_fd_ = input[1];
    output_fd_ = output[0];
    error_fd_ = error[0];
    reader_ = std::thread([this] { read_loop(); });
}

Child::~Child() {
    if (!status_) {
        kill(pid_, SIGKILL);
        wait(5s);
    }
    if (input_fd_ >= 0) close(input_fd_);
    if (reader_.joinable()) reader_.join();
    close(output_fd_);
    close(error_fd_);
}

void Child::read_loop() {
    std::string pending_output, pending_error;
    pollfd fds[2] = {{output_fd_, POLLIN, 0}, {error_fd_, POLLIN, 0}};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                fds[i].fd = -1;
                --open_count;
                continue;
            }
            Clock::time_point now = Clock::now();
            std::vector<std::string> fresh;
            split_into(i == 0 ? pending_output : pending_error, std::string_view(buffer, static_cast<std::size_t>(n)),
                       fresh);
            std::lock_guard lock(mutex_);
            for (auto& text : fresh) {
                if (i == 0) {
                    lines_.push_back({now, std::move(text)});
                } else {
                    error_lines_.push_back(std::move(text));
                }
            }
        }
    }
}

void Child::send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(input_fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        check(n > 0, "write to child");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::optional<std::size_t> Child::wait_line(const std::function<bool(std::string_view)>& matches, std::size_t from,
                                            std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    std::size_t next = from;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            for (; next < lines_.size(); ++next) {
                if (matches(lines_[next].text)) return next;
            }
        }
        if (Clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(200us);
    }
}

std::optional<std::size_t> Child::wait_line_equal(std::string_view text, std::size_t from,
                                                  std::chrono::milliseconds timeout) {
    return wait_line([text](std::string_view line) { return line == text; }, from, timeout);
}

StampedLine Child::line(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return lines_.at(index);
}

std::size_t Child::line_count() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
}

std::vector<std::string> Child::error_lines() const {
    std::lock_guard lock(mutex_);
    return error_lines_;
}

void Child::signal(int signal_number) { kill(pid_, signal_number); }

std::optional<int> Child::wait(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        int raw = 0;
        pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return status_;
        }
        if (Clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(1ms);
    }
}

StandinProcess::StandinProcess(const std::filesystem::path& folder, int rate_hz)
    : child_({bin_path("sim-standin"), "--port", "0", "--rate", std::to_string(rate_hz), "--log",
              (folder / "standin-calls.log").string()}) {
    constexpr std::string_view kPrefix = "sim-standin listening on 127.0.0.1:";
    auto index = child_.wait_line([&](std::string_view line) { return line.starts_with(kPrefix); }, 0, 10s);
    if (!index) throw std::runtime_error("sim-standin did not start");
    port_ = std::stoi(child_.line(*index).text.substr(kPrefix.size()));
    echo_from_ = *index + 1;
}

Clock::time_point StandinProcess::control(const std::string& line) {
    child_.send(line + "\n");
    auto index = child_.wait_line_equal("ok " + line, echo_from_, 10s);
    if (!index) throw std::runtime_error("sim-standin did not take: " + line);
    echo_from_ = *index + 1;
    return child_.line(*index).at;
}

void StandinProcess::control_async(const std::string& line) { child_.send(line + "\n"); }

namespace {

// The bridge's environment; creates the application-data folder first.
std::map<std::string, std::string> bridge_environment(const StandinProcess& standin,
                                                      const std::filesystem::path& app_data) {
    std::filesystem::create_directories(app_data);
    return {{"SIMCONNECT_STANDIN_PORT", std::to_string(standin.port())}, {"APPDATA", app_data.string()}};
}

// $VELMAR_BENCH_BRIDGE (another build's bridge, for comparison), else this build's.
std::string bridge_path() {
    const char* other = std::getenv("VELMAR_BENCH_BRIDGE");
    return other != nullptr && *other != '\0' ? std::string(other) : bin_path("velmar-tracker");
}

}  // namespace

BridgeProcess::BridgeProcess(const StandinProcess& standin, const std::filesystem::path& data_folder,
                             const std::filesystem::path& app_data)
    : data_folder_(data_folder),
      child_({bridge_path(), "--file-mode", data_folder.string()}, bridge_environment(standin, app_data)) {
    if (!child_.wait_line_equal("[OK] Auto-started data collection for monitoring", 0, 15s)) {
        throw std::runtime_error("the bridge did not start");
    }
}

Clock::time_point BridgeProcess::write_command(const std::string& word) {
    Clock::time_point before = Clock::now();
    write_file(command_file(), word);
    return before;
}

bool BridgeProcess::wait_command_file_empty(std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        std::error_code error;
        if (std::filesystem::file_size(command_file(), error) == 0 && !error) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

std::optional<int> BridgeProcess::stop() {
    child_.signal(SIGINT);
    return child_.wait(15s);
}

FileWatch::FileWatch(const std::filesystem::path& file, std::function<void(Clock::time_point)> changed) {
    descriptor_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    check(descriptor_ >= 0, "inotify_init1");
    check(inotify_add_watch(descriptor_, file.parent_path().c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY) >= 0,
          "inotify_add_watch");
    thread_ = std::thread([this, name = file.filename().string(), changed = std::move(changed)] {
        alignas(inotify_event) char buffer[1 << 16];
        while (running_) {
            pollfd entry{descriptor_, POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0) continue;
            const Clock::time_point now = Clock::now();
            bool named = false;
            for (ssize_t size; (size = read(descriptor_, buffer, sizeof buffer)) > 0;) {
                for (ssize_t at = 0; at < size;) {
                    inotify_event event;
                    std::memcpy(&event, buffer + at, sizeof event);
                    named = named || (event.len > 0 && name == buffer + at + sizeof event);
                    at += static_cast<ssize_t>(sizeof event + event.len);
                }
            }
            if (named) changed(now);
        }
    });
}

FileWatch::~FileWatch() {
    running_ = false;
    thread_.join();
    close(descriptor_);
}

Scratch::Scratch(const std::filesystem::path& base) {
    std::string pattern = (base / "velmar-bench-XXXXXX").string();
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    path_ = pattern;
}

Scratch::~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string bin_path(std::string_view name) { return std::string(VELMAR_BIN_DIR) + "/" + std::string(name); }

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return std::nan("");
    std::sort(values.begin(), values.end());
    auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

double process_cpu_seconds(int pid) {
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    // Fields after the command name, which is in parentheses and may hold blanks.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long process_rss_kib(int pid) {
    std::istringstream status(read_file("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    }
    return -1;
}

std::string machine_description() {
    std::istringstream cpuinfo(read_file("/proc/cpuinfo"));
    std::string model = "unknown CPU";
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.starts_with("model name")) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    utsname name{};
    uname(&name);
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, Linux " + name.release;
}

std::string file_system_of(const std::filesystem::path& path) {
    struct statfs info {};
    if (statfs(path.c_str(), &info) != 0) return "unknown";
    switch (info.f_type) {
        case 0x01021994:
            return "tmpfs";
        case 0xEF53:
            return "ext4";
        case 0x9123683E:
            return "btrfs";
        case 0x58465342:
            return "xfs";
        case 0x794c7630:
            return "overlayfs";
        default: {
            char hex[32];
            std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(info.f_type));
            return hex;
        }
    }
}

double milliseconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace velmar::bench
