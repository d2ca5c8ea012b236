#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velmar::test {

namespace {

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message + ": " + std::strerror(errno)); }

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool has_line(const std::string& text, std::string_view line) {
    for (const std::string& candidate : split_lines(text)) {
        if (candidate == line) return true;
    }
    return false;
}

// Whole lines only: a last line without its line end may still grow.
std::size_t count_whole_lines(const std::string& text, std::string_view line) {
    const std::size_t end = text.rfind('\n');
    if (end == std::string::npos) return 0;
    std::size_t count = 0;
    for (const std::string& candidate : split_lines(std::string_view(text).substr(0, end + 1))) {
        if (candidate == line) ++count;
    }
    return count;
}

std::vector<std::string> build_environment(const ProcessOptions& options) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& name : options.unset_environment) variables.erase(name);
    for (const auto& [name, value] : options.environment) variables[name] = value;
    std::vector<std::string> result;
    for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
    return result;
}

}  // namespace

std::string bin_path(std::string_view name) { return std::string(VELMAR_BIN_DIR) + "/" + std::string(name); }

struct Process::Impl {
    pid_t pid = -1;
    int input_fd = -1;   // pipe or pty master (shared with output when use_pty)
    int output_fd = -1;  // read side of standard output (the pty master when use_pty)
    int error_fd = -1;
    int stop_read = -1;  // wakes the reader when the object goes away
    int stop_write = -1;
    bool pty = false;

    mutable std::mutex mutex;  // guards everything below
    std::condition_variable changed;
    std::string output;
    std::string errors;
    bool output_done = false;
    bool errors_done = false;
    std::optional<int> status;

    std::thread reader;
    std::thread reaper;

    void read_loop() {
        std::vector<pollfd> fds;
        for (;;) {
            fds.clear();
            fds.push_back({stop_read, POLLIN, 0});
            {
                std::lock_guard lock(mutex);
                if (!output_done) fds.push_back({output_fd, POLLIN, 0});
                if (!errors_done) fds.push_back({error_fd, POLLIN, 0});
            }
            if (fds.size() == 1) return;
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[0].revents != 0) return;
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) continue;
                char buffer[4096];
                const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                std::lock_guard lock(mutex);
                const bool is_output = fds[i].fd == output_fd;
                if (got <= 0) {  // end of file, or EIO from a pty whose other side closed
                    (is_output ? output_done : errors_done) = true;
                } else {
                    (is_output ? output : errors).append(buffer, static_cast<std::size_t>(got));
                }
                changed.notify_all();
            }
        }
    }

    void reap_loop() {
        int raw = 0;
        pid_t result = 0;
        do {
            result = ::waitpid(pid, &raw, 0);
        } while (result < 0 && errno == EINTR);
        std::lock_guard lock(mutex);
        if (result < 0) {
            status = 255;
        } else if (WIFEXITED(raw)) {
            status = WEXITSTATUS(raw);
        } else if (WIFSIGNALED(raw)) {
            status = 128 + WTERMSIG(raw);
        } else {
            status = 255;
        }
        changed.notify_all();
    }

    template <typename Predicate>
    bool wait_until(std::chrono::milliseconds timeout, Predicate predicate) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, predicate);
    }
};

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options) : impl_(new Impl) {
    if (argv.empty()) throw std::invalid_argument("Process needs a program");
    // A child that closes its input must not kill the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    Impl& impl = *impl_;
    impl.pty = options.use_pty;

    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed in a threaded process.
    std::vector<std::string> environment = build_environment(options);
    std::vector<char*> env_pointers;
    for (auto& entry : environment) env_pointers.push_back(entry.data());
    env_pointers.push_back(nullptr);
    std::vector<std::string> arguments = argv;
    std::vector<char*> arg_pointers;
    for (auto& entry : arguments) arg_pointers.push_back(entry.data());
    arg_pointers.push_back(nullptr);

    int in_pipe[2] = {-1, -1};
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    int stop_pipe[2] = {-1, -1};
    int exec_pipe[2] = {-1, -1};  // closed by a successful exec; carries errno otherwise
    std::string terminal_name;
    int master = -1;
    if (::pipe2(err_pipe, O_CLOEXEC) != 0 || ::pipe2(stop_pipe, O_CLOEXEC) != 0 || ::pipe2(exec_pipe, O_CLOEXEC) != 0) {
        fail("pipe");
    }
    if (options.use_pty) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) fail("posix_openpt");
        char name[256];
        if (::ptsname_r(master, name, sizeof name) != 0) fail("ptsname_r");
        terminal_name = name;
        // No echo, so what a test types does not show up as output.
        const int slave = ::open(terminal_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) fail("open pty");
        termios settings{};
        if (::tcgetattr(slave, &settings) == 0) {
            settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
            ::tcsetattr(slave, TCSANOW, &settings);
        }
        ::close(slave);
    } else if (::pipe2(in_pipe, O_CLOEXEC) != 0 || (options.output_fd < 0 && ::pipe2(out_pipe, O_CLOEXEC) != 0)) {
        fail("pipe");
    }

    const pid_t pid = ::fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        if (options.use_pty) {
            ::setsid();
            const int slave = ::open(terminal_name.c_str(), O_RDWR);
            if (slave < 0) ::_exit(127);
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(slave, 0);
            ::dup2(slave, 1);
            if (slave > 1) ::close(slave);
        } else {
            ::dup2(in_pipe[0], 0);
            ::dup2(options.output_fd >= 0 ? options.output_fd : out_pipe[1], 1);
        }
        ::dup2(err_pipe[1], 2);
        // Signals the test process ignores must not stay ignored in the child.
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(arg_pointers[0], arg_pointers.data(), env_pointers.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(exec_pipe[1], &error, sizeof error);
        ::_exit(127);
    }

    impl.pid = pid;
    ::close(err_pipe[1]);
    ::close(exec_pipe[1]);
    if (options.use_pty) {
        impl.input_fd = master;
        impl.output_fd = master;
    } else {
        ::close(in_pipe[0]);
        impl.input_fd = in_pipe[1];
        if (options.output_fd < 0) {
            ::close(out_pipe[1]);
            impl.output_fd = out_pipe[0];
        } else {
            impl.output_done = true;  // not ours to read
        }
    }
    impl.error_fd = err_pipe[0];
    impl.stop_read = stop_pipe[0];
    impl.stop_write = stop_pipe[1];

    int exec_error = 0;
    ssize_t got = 0;
    do {
        got = ::read(exec_pipe[0], &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    ::close(exec_pipe[0]);

    if (got == sizeof exec_error) {
        int ignored = 0;
        ::waitpid(pid, &ignored, 0);
        for (int* fd : {&impl.input_fd, &impl.output_fd, &impl.error_fd, &impl.stop_read, &impl.stop_write}) {
            if (*fd >= 0 && (fd != &impl.output_fd || impl.output_fd != impl.input_fd)) ::close(*fd);
        }
        delete impl_;
        impl_ = nullptr;
        errno = exec_error;
        fail("cannot start " + argv[0]);
    }
    impl.reader = std::thread([&impl] { impl.read_loop(); });
    impl.reaper = std::thread([&impl] { impl.reap_loop(); });
}

Process::~Process() {
    if (impl_ == nullptr) return;
    Impl& impl = *impl_;
    {
        std::lock_guard lock(impl.mutex);
        if (!impl.status) ::kill(impl.pid, SIGKILL);
    }
    if (impl.reaper.joinable()) impl.reaper.join();
    // Give the reader a moment to take what the child wrote last; a grandchild
    // holding the pipe open must not keep us here.
    impl.wait_until(std::chrono::milliseconds(2000), [&] { return impl.output_done && impl.errors_done; });
    const char byte = 's';
    [[maybe_unused]] const ssize_t written = ::write(impl.stop_write, &byte, 1);
    if (impl.reader.joinable()) impl.reader.join();
    if (impl.input_fd != impl.output_fd) close_fd(impl.input_fd);
    close_fd(impl.output_fd);
    close_fd(impl.error_fd);
    close_fd(impl.stop_read);
    close_fd(impl.stop_write);
    delete impl_;
}

void Process::write_input(std::string_view bytes) {
    while (!bytes.empty()) {
        if (impl_->input_fd < 0) return;
        const ssize_t written = ::write(impl_->input_fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // the child has gone or closed its input
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void Process::close_input() {
    if (impl_->pty) {
        write_input("\x04");  // end of file for a terminal in canonical mode
        return;
    }
    close_fd(impl_->input_fd);
}

bool Process::wait_for_line(std::string_view line, std::chrono::milliseconds timeout) {
    return impl_->wait_until(timeout, [&] { return has_line(impl_->output, line); });
}

bool Process::wait_for_line_count(std::string_view line, std::size_t count, std::chrono::milliseconds timeout) {
    return impl_->wait_until(timeout, [&] { return count_whole_lines(impl_->output, line) >= count; });
}

std::size_t Process::count_lines(std::string_view line) const {
    std::lock_guard lock(impl_->mutex);
    return count_whole_lines(impl_->output, line);
}

bool Process::wait_for_output(std::string_view text, std::chrono::milliseconds timeout) {
    return impl_->wait_until(timeout, [&] { return impl_->output.find(text) != std::string::npos; });
}

bool Process::wait_for_error_output(std::string_view text, std::chrono::milliseconds timeout) {
    return impl_->wait_until(timeout, [&] { return impl_->errors.find(text) != std::string::npos; });
}

std::string Process::output() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->output;
}

std::string Process::error_output() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->errors;
}

std::vector<std::string> Process::output_lines() const { return split_lines(output()); }

std::vector<std::string> Process::error_lines() const { return split_lines(error_output()); }

void Process::send_signal(int signal_number) {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->status) ::kill(impl_->pid, signal_number);  // never a recycled pid
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout) {
    Impl& impl = *impl_;
    if (!impl.wait_until(timeout, [&] { return impl.status.has_value(); })) return std::nullopt;
    // The output is complete once the pipes reach their end (unless a grandchild keeps them open).
    impl.wait_until(std::chrono::milliseconds(2000), [&] { return impl.output_done && impl.errors_done; });
    std::lock_guard lock(impl.mutex);
    return impl.status;
}

int Process::pid() const { return impl_->pid; }

Standin::Standin(const std::vector<std::string>& extra_arguments) {
    std::random_device random;
    folder_ = std::filesystem::temp_directory_path() /
              ("velmar-standin-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(folder_);
    log_path_ = (folder_ / "calls.log").string();
    std::vector<std::string> argv = {bin_path("sim-standin"), "--port", "0", "--log", log_path_};
    argv.insert(argv.end(), extra_arguments.begin(), extra_arguments.end());
    process_.emplace(argv);

    const std::string prefix = "sim-standin listening on 127.0.0.1:";
    if (!process_->wait_for_output("\n") || process_->output().rfind(prefix, 0) != 0) {
        throw std::runtime_error("sim-standin did not start: " + process_->output() + process_->error_output());
    }
    const std::string first = process_->output_lines().front();
    port_ = std::stoi(first.substr(prefix.size()));
}

Standin::~Standin() {
    process_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

int Standin::port() const { return port_; }

void Standin::control(const std::string& line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') {  // skipped silently: no echo to wait for
        process_->write_input(line + "\n");
        return;
    }
    if (line == "exit") {
        process_->write_input(line + "\n");
        if (!process_->wait()) throw std::runtime_error("sim-standin did not exit");
        return;
    }
    const std::string echo = "ok " + line;
    const std::size_t before = process_->count_lines(echo);
    process_->write_input(line + "\n");
    std::chrono::milliseconds timeout = 10s;
    if (line.rfind("wait ", 0) == 0) timeout += std::chrono::milliseconds(std::atoll(line.c_str() + 5));
    if (!process_->wait_for_line_count(echo, before + 1, timeout)) {
        throw std::runtime_error("sim-standin did not confirm \"" + line +
                                 "\"; standard error: " + process_->error_output());
    }
}

std::vector<std::string> Standin::log_lines() const { return split_lines(read_file(log_path_)); }

bool Standin::wait_for_log_lines(std::size_t count, std::chrono::milliseconds timeout) const {
    // The log is a plain file: nothing to block on.
    return eventually([&] { return log_lines().size() >= count; }, timeout);
}

Process& Standin::process() { return *process_; }

std::map<std::string, std::string> Standin::client_environment() const {
    return {{"SIMCONNECT_STANDIN_PORT", std::to_string(port_)}};
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmar-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void write_file(const std::filesystem::path& path, std::string_view content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (last) break;
        start = end + 1;
    }
    return lines;
}

}  // namespace velmar::test
