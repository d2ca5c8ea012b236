#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "simconnect/simconnect_manager.h"
#include "support/process.h"

namespace velmar::test {

using Lines = std::vector<std::string>;

// Collects what is written to a stream; written and read from any thread.
class CapturedStream : public std::streambuf {
public:
    Lines lines() const;
    void clear();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    mutable std::mutex mutex_;
    std::string text_;
};

// Redirects std::cout and std::cerr while it lives: create it before any
// thread that prints, destroy it after they are joined.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    Lines out() const { return out_.lines(); }
    Lines errors() const { return error_.lines(); }
    bool printed(const std::string& line) const;
    void clear();

private:
    CapturedStream out_;
    CapturedStream error_;
    std::streambuf* saved_out_;
    std::streambuf* saved_error_;
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
