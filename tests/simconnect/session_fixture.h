#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simconnect/simconnect_manager.h"
#include "support/process.h"

namespace velmar::test {

using Lines = std::vector<std::string>;

// Redirects one file descriptor (1 or 2) into a temporary file while it
// lives, so whatever the process writes there is caught, whether through
// stdio or iostreams and from any thread.
class CapturedOutput {
public:
    explicit CapturedOutput(int target);
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::string text(bool whole = false) const;  // since the last clear, or all of it
    void clear();

private:
    int target_;
    int saved_;
    int file_;
    std::atomic<long long> mark_{0};
};

// Captures standard output and standard error: create it before any thread
// that prints, destroy it after they are joined. A failed test gets what was
// captured printed after the capture ends.
class ConsoleCapture {
public:
    ConsoleCapture() = default;
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    Lines out() const { return split_lines(out_.text()); }
    Lines errors() const { return split_lines(error_.text()); }
    bool printed(const std::string& line) const;
    void clear();

private:
    // Declared first, so it prints after both captures have ended.
    struct FailureReport {
        std::string text;
        ~FailureReport();
    };
    FailureReport failure_report_;
    CapturedOutput out_{1};
    CapturedOutput error_{2};
};

// What the manager's callbacks received; filled on any thread.
class CallbackLog {
public:
    struct Seen {
        std::vector<bool> connections;
        std::vector<std::size_t> lines_before_connection;  // stdout lines printed when each ran
        Lines errors;
        std::vector<FlightData> samples;
    };
    void install(SimConnectManager& manager, const ConsoleCapture& console, bool with_error_callback = true);
    Seen seen() const;
    void clear();

private:
    mutable std::mutex mutex_;
    Seen seen_;
};

inline constexpr const char* kClientName = "Velmar Session Test";
inline constexpr const char* kEFail = "-2147467259";

// Polls `done` until it holds; false when the patience runs out.
template <typename Predicate>
bool eventually(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A manager against a fresh sim-standin, its console captured and the
// application-data folder a scratch folder holding a Velmar folder.
class SessionTest : public ::testing::Test {
protected:
    SessionTest();

    // connect, handle the records the open itself causes, and clear every capture.
    void connect_and_settle();
    // Sends the control lines, then a record for unknown request 98 as a
    // marker, and handles records until the marker's line is printed.
    void send_and_handle(const Lines& control_lines);
    template <typename Predicate>
    bool dispatch_until(Predicate done) {
        return eventually([&] {
            manager_.dispatch_messages();
            return done();
        });
    }
    // A call the stand-in answers only after every record it sent earlier,
    // so afterwards they all wait in the library.
    void sync_with_standin() { manager_.stop_data_collection(); }
    // Call-log lines since the last clear_all.
    Lines new_log_lines() const;
    void clear_all();
    std::filesystem::path diagnostic_path() const { return app_data_.path() / "Velmar" / "aircraft_diagnostic.txt"; }

    Standin standin_;
    ScratchDir app_data_;
    ConsoleCapture console_;
    CallbackLog callbacks_;
    SimConnectManager manager_;
    std::size_t log_mark_ = 0;
};

}  // namespace velmar::test
