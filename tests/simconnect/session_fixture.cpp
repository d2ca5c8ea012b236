#include "session_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace velmar::test {

CapturedOutput::CapturedOutput(int target) : target_(target) {
    std::fflush(nullptr);
    std::cout.flush();
    std::cerr.flush();
    char name[] = "/tmp/velmar-console-XXXXXX";
    file_ = ::mkstemp(name);
    if (file_ < 0) {
        throw std::runtime_error("cannot create a capture file");
    }
    ::unlink(name);
    saved_ = ::dup(target_);
    ::dup2(file_, target_);
}

CapturedOutput::~CapturedOutput() {
    std::fflush(nullptr);
    ::dup2(saved_, target_);
    ::close(saved_);
    ::close(file_);
}

std::string CapturedOutput::text(bool whole) const {
    std::string text;
    char buffer[4096];
    auto offset = whole ? off_t{0} : static_cast<off_t>(mark_.load());
    for (ssize_t n; (n = ::pread(file_, buffer, sizeof buffer, offset)) > 0; offset += n) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

void CapturedOutput::clear() {
    struct stat status {};
    ::fstat(file_, &status);
    mark_ = status.st_size;
}

ConsoleCapture::FailureReport::~FailureReport() { std::fputs(text.c_str(), stderr); }

ConsoleCapture::~ConsoleCapture() {
    if (::testing::Test::HasFailure()) {
        failure_report_.text =
            "captured standard output:\n" + out_.text(true) + "captured standard error:\n" + error_.text(true);
    }
}

bool ConsoleCapture::printed(const std::string& line) const {
    const Lines lines = out();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void ConsoleCapture::clear() {
    out_.clear();
    error_.clear();
}

void CallbackLog::install(SimConnectManager& manager, const ConsoleCapture& console, bool with_error_callback) {
    manager.set_connection_callback([this, &console](bool connected) {
        const std::size_t printed = console.out().size();
        std::lock_guard lock(mutex_);
        seen_.connections.push_back(connected);
        seen_.lines_before_connection.push_back(printed);
    });
    manager.set_sample_callback([this](const FlightData& sample) {
        std::lock_guard lock(mutex_);
        seen_.samples.push_back(sample);
    });
    manager.set_error_callback(nullptr);
    if (with_error_callback) {
        manager.set_error_callback([this](const std::string& text) {
            std::lock_guard lock(mutex_);
            seen_.errors.push_back(text);
        });
    }
}

CallbackLog::Seen CallbackLog::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

void CallbackLog::clear() {
    std::lock_guard lock(mutex_);
    seen_ = {};
}

SessionTest::SessionTest() {
    // Set before any thread of ours runs: the library reads the port at
    // open, the diagnostic file reads APPDATA.
    ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(standin_.port()).c_str(), 1);
    ::setenv("APPDATA", app_data_.str().c_str(), 1);
    std::filesystem::create_directory(app_data_.path() / "Velmar");
    callbacks_.install(manager_, console_);
}

void SessionTest::connect_and_settle() {
    ASSERT_TRUE(manager_.connect(kClientName));
    // The open acknowledgement and the current states of "Sim" and "Pause" come first.
    send_and_handle({});
    clear_all();
}

void SessionTest::send_and_handle(const Lines& control_lines) {
    for (const std::string& line : control_lines) {
        standin_.control(line);
    }
    standin_.control("sample 98 0 0 0 0 0 0 0 0 0");
    ASSERT_TRUE(dispatch_until([&] { return console_.printed("[DEBUG] Received unknown data request ID: 98"); }));
}

Lines SessionTest::new_log_lines() const {
    const Lines lines = standin_.log_lines();
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(log_mark_, lines.size())), lines.end()};
}

void SessionTest::clear_all() {
    console_.clear();
    callbacks_.clear();
    log_mark_ = standin_.log_lines().size();
}

}  // namespace velmar::test
