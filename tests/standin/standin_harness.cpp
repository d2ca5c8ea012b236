#include "standin_harness.h"

#include <cstdlib>
#include <stdexcept>

namespace velmar::test {

InProcessStandin::InProcessStandin(standin::ServerOptions options) {
    log_path_ = (scratch_.path() / "calls.log").string();
    options.port = 0;
    options.log_path = log_path_;
    server_ = std::make_unique<standin::Server>(
        options,
        [this](std::string_view line) {
            std::lock_guard lock(mutex_);
            output_.emplace_back(line);
            changed_.notify_all();
        },
        [this](std::string_view line) {
            std::lock_guard lock(mutex_);
            errors_.emplace_back(line);
            changed_.notify_all();
        });
    if (!server_->start()) throw std::runtime_error("the stand-in did not start");
    ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(server_->port()).c_str(), 1);
    thread_ = std::thread([this] { server_->run(); });
}

InProcessStandin::~InProcessStandin() { stop(); }

void InProcessStandin::stop() {
    if (!thread_.joinable()) return;
    server_->request_stop();
    thread_.join();
}

void InProcessStandin::control(const std::string& line) {
    const std::string echo = "ok " + line;
    std::unique_lock lock(mutex_);
    const auto count = [&] { return std::count(output_.begin(), output_.end(), echo); };
    const auto before = count();
    lock.unlock();
    server_->post_control(line);
    lock.lock();
    if (!changed_.wait_for(lock, 10s, [&] { return count() > before; })) {
        throw std::runtime_error("the stand-in did not confirm " + line);
    }
}

std::vector<std::string> InProcessStandin::log_lines() const { return split_lines(read_file(log_path_)); }

bool InProcessStandin::wait_for_log_lines(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (log_lines().size() < count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::vector<std::string> InProcessStandin::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

std::vector<std::string> InProcessStandin::errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

std::vector<double> Received::doubles() const {
    constexpr std::size_t kHeader = sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD);
    std::vector<double> values;
    for (std::size_t offset = kHeader; offset + sizeof(double) <= bytes.size(); offset += sizeof(double)) {
        double value = 0;
        std::memcpy(&value, bytes.data() + offset, sizeof value);
        values.push_back(value);
    }
    return values;
}

TestClient::TestClient(const char* name) { result_ = SimConnect_Open(&handle_, name, nullptr, 0, nullptr, 0); }

TestClient::~TestClient() { close(); }

void TestClient::close() {
    if (result_ == S_OK) SimConnect_Close(handle_);
    result_ = E_FAIL;
}

std::vector<Received> TestClient::drain() {
    std::vector<Received> records;
    SIMCONNECT_RECV* record = nullptr;
    DWORD size = 0;
    while (SimConnect_GetNextDispatch(handle_, &record, &size) == S_OK) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(record);
        records.push_back(Received{std::vector<std::uint8_t>(first, first + size), size});
    }
    return records;
}

std::vector<Received> TestClient::collect_until(const std::function<bool(const Received&)>& done,
                                                std::chrono::milliseconds timeout) {
    std::vector<Received> records;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        SIMCONNECT_RECV* record = nullptr;
        DWORD size = 0;
        if (SimConnect_GetNextDispatch(handle_, &record, &size) == S_OK) {
            const auto* first = reinterpret_cast<const std::uint8_t*>(record);
            records.push_back(Received{std::vector<std::uint8_t>(first, first + size), size});
            if (done(records.back())) return records;
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) return records;
        std::this_thread::sleep_for(2ms);  // GetNextDispatch never waits; the product polls the same way
    }
}

std::vector<Received> TestClient::collect_ids(DWORD id, std::size_t count, std::chrono::milliseconds timeout) {
    std::size_t seen = 0;
    return collect_until([&](const Received& record) { return record.id() == id && ++seen >= count; }, timeout);
}

void add_sample_definition(HANDLE handle, SIMCONNECT_DATA_DEFINITION_ID define) {
    static constexpr const char* kDatums[][2] = {
        {"PLANE ALTITUDE", "feet"},
        {"AIRSPEED INDICATED", "knots"},
        {"GPS GROUND SPEED", "knots"},
        {"PLANE HEADING DEGREES MAGNETIC", "degrees"},
        {"VERTICAL SPEED", "feet per minute"},
        {"FUEL TOTAL QUANTITY", "gallons"},
        {"SIM ON GROUND", "bool"},
        {"PLANE LATITUDE", "degrees"},
        {"PLANE LONGITUDE", "degrees"},
    };
    for (const auto& datum : kDatums) SimConnect_AddToDataDefinition(handle, define, datum[0], datum[1]);
}

}  // namespace velmar::test
