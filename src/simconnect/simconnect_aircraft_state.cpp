// SimConnectManager's aircraft-state thread: asks for "AircraftLoaded" a while after each start of data collection.
#include <string>

#include "platform/console.h"
#include "simconnect/identifiers.h"
#include "simconnect/simconnect_manager.h"

namespace velmar {
namespace {

using namespace std::chrono_literals;

constexpr auto kAircraftStateDelay = 2s;
constexpr const char* kAircraftLoadedState = "AircraftLoaded";

}  // namespace

// One request falls due kAircraftStateDelay after each successful start. A
// single thread serves them all, so repeated starts never pile up threads.
void SimConnectManager::schedule_aircraft_state_request() {
    std::lock_guard lock(aircraft_state_mutex_);
    aircraft_state_due_.push_back(std::chrono::steady_clock::now() + kAircraftStateDelay);
    if (!aircraft_state_thread_.joinable()) {
        aircraft_state_stop_ = false;
        aircraft_state_thread_ = std::thread([this] { request_aircraft_state(); });
    }
    aircraft_state_wake_.notify_all();
}

void SimConnectManager::request_aircraft_state() {
    std::unique_lock lock(aircraft_state_mutex_);
    while (!aircraft_state_stop_) {
        if (aircraft_state_due_.empty()) {
            aircraft_state_wake_.wait(lock, [this] { return aircraft_state_stop_ || !aircraft_state_due_.empty(); });
            continue;
        }
        // Waits until the deadline has passed, never less, unless stopped. A
        // copy: disconnect clears the queue while this waits.
        const auto due = aircraft_state_due_.front();
        if (aircraft_state_wake_.wait_until(lock, due, [this] { return aircraft_state_stop_; })) {
            break;
        }
        aircraft_state_due_.pop_front();
        lock.unlock();
        send_aircraft_state_request();
        lock.lock();
    }
}

void SimConnectManager::send_aircraft_state_request() {
    if (!connected_) {
        return;
    }
    platform::print_line("[DEBUG] Requesting aircraft system state...");
    const HRESULT result = call_library([](HANDLE handle) {
        return SimConnect_RequestSystemState(handle, ids::REQ_AIRCRAFT_LOADED, kAircraftLoadedState);
    });
    if (result != 0) {
        platform::print_line("[DEBUG] Aircraft system state request failed: " + std::to_string(result));
    } else {
        platform::print_line("[DEBUG] Aircraft system state request sent successfully");
    }
}

void SimConnectManager::stop_aircraft_state_thread() {
    std::thread worker;
    {
        std::lock_guard lock(aircraft_state_mutex_);
        aircraft_state_stop_ = true;
        aircraft_state_due_.clear();
        worker = std::move(aircraft_state_thread_);
    }
    aircraft_state_wake_.notify_all();
    if (worker.joinable()) {
        worker.join();
    }
}

}  // namespace velmar
