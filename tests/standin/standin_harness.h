#pragma once

// Helpers for the stand-in's own tests: the engine run in-process on a
// thread, and a client handle that collects records.

#include <SimConnect.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server.h"
#include "support/process.h"

namespace velmar::test {

// sim-standin's engine on a thread of the test process, with the call log in
// a scratch folder. Clients opened while it lives reach it through
// SIMCONNECT_STANDIN_PORT.
class InProcessStandin {
public:
    explicit InProcessStandin(standin::ServerOptions options = {});
    ~InProcessStandin();

    int port() const { return server_->port(); }
    // Carries out a control line and waits for its "ok" echo.
    void control(const std::string& line);
    void post(const std::string& line) { server_->post_control(line); }
    std::vector<std::string> log_lines() const;
    bool wait_for_log_lines(std::size_t count, std::chrono::milliseconds timeout = 10s) const;
    std::vector<std::string> output() const;
    std::vector<std::string> errors() const;
    // Stops the engine now, as a crash or SIGTERM would.
    void stop();

private:
    ScratchDir scratch_;
    std::string log_path_;
    mutable std::mutex mutex_;  // guards output_, errors_
    std::condition_variable changed_;
    std::vector<std::string> output_;
    std::vector<std::string> errors_;
    std::unique_ptr<standin::Server> server_;
    std::thread thread_;
};

// One record as delivered, copied out of the library's buffer.
struct Received {
    std::vector<std::uint8_t> bytes;
    DWORD size = 0;  // what GetNextDispatch reported

    DWORD id() const { return header().dwID; }
    SIMCONNECT_RECV header() const { return as<SIMCONNECT_RECV>(); }
    template <typename Record>
    Record as() const {
        Record record{};
        std::memcpy(&record, bytes.data(), std::min(sizeof record, bytes.size()));
        return record;
    }
    // The data block of a SIMOBJECT_DATA record as doubles.
    std::vector<double> doubles() const;
};

class TestClient {
public:
    // Opens a connection; ASSERTs on failure are the caller's (check opened()).
    explicit TestClient(const char* name = "Test Client");
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool opened() const { return result_ == S_OK; }
    HRESULT open_result() const { return result_; }
    HANDLE handle() const { return handle_; }
    void close();

    // Everything waiting now.
    std::vector<Received> drain();
    // Collects records until one satisfies `done` (it is included), or the time is up.
    std::vector<Received> collect_until(const std::function<bool(const Received&)>& done,
                                        std::chrono::milliseconds timeout = 10s);
    // Collects until `count` records of dwID `id` came.
    std::vector<Received> collect_ids(DWORD id, std::size_t count, std::chrono::milliseconds timeout = 10s);

private:
    HANDLE handle_ = nullptr;
    HRESULT result_ = E_FAIL;
};

// The nine-variable sample definition the product registers, on definition `define`.
void add_sample_definition(HANDLE handle, SIMCONNECT_DATA_DEFINITION_ID define = 0);

}  // namespace velmar::test
