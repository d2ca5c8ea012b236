// SimConnectManager as its owner polls it: connection, liveness and pause state, and data collection on and off.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/console.h"
#include "simconnect/identifiers.h"
#include "simconnect/simconnect_manager.h"

namespace velmar {

bool SimConnectManager::is_connected() const { return connected_; }

bool SimConnectManager::link_lost() const { return link_lost_; }

bool SimConnectManager::check_liveness() {
    if (!connected_ || link_lost_) {
        return false;
    }
    switch (liveness_.check(LivenessWatch::Clock::now())) {
        case LivenessWatch::Verdict::alive:
            return false;
        case LivenessWatch::Verdict::ask:
            return true;
        case LivenessWatch::Verdict::gone:
            lose_link("no answer for " +
                      std::to_string((LivenessWatch::kQuietBeforeAsking + LivenessWatch::kAnswerWithin).count()) +
                      " seconds");
            return false;
    }
    return false;
}

void SimConnectManager::ask_if_alive() {
    if (!connected_) {
        return;
    }
    // Any answer will do, a refusal too: it comes quietly.
    call_library([](HANDLE handle) { return SimConnect_RequestSystemState(handle, ids::REQ_LIVENESS, "Sim"); },
                 [this](DWORD send_id) { note_registration(send_id, Expected::refusal); });
}

std::optional<std::uint32_t> SimConnectManager::pause_modes() const {
    const std::int64_t modes = pause_modes_;
    if (modes == kPauseUnknown) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(modes);
}

std::optional<bool> SimConnectManager::sim_paused() const {
    const auto modes = pause_modes();
    if (!modes) {
        return std::nullopt;
    }
    return *modes != 0;
}

std::string SimConnectManager::aircraft_name() const {
    std::lock_guard lock(identity_mutex_);
    return aircraft_name_;
}

HRESULT SimConnectManager::refused_result() const { return refused_result_; }

bool SimConnectManager::start_data_collection() {
    if (!connected_) {
        return false;
    }
    const HRESULT result = call_library([](HANDLE handle) {
        return SimConnect_RequestDataOnSimObject(handle, ids::REQ_FLIGHT_DATA, ids::DEF_FLIGHT_DATA,
                                                 SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_VISUAL_FRAME,
                                                 SIMCONNECT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0);
    });
    if (result != 0) {
        refused_result_ = result;
        if (error_callback_) {
            error_callback_("Failed to start data collection: " + std::to_string(result));
        }
        return false;
    }
    platform::print_line("[OK] Data collection started at 5Hz");
    schedule_aircraft_state_request();
    platform::print_line("[OK] Aircraft detection diagnostic mode enabled");
    return true;
}

void SimConnectManager::stop_data_collection() {
    if (!connected_) {
        return;
    }
    call_library([](HANDLE handle) {
        return SimConnect_RequestDataOnSimObject(handle, ids::REQ_FLIGHT_DATA, ids::DEF_FLIGHT_DATA,
                                                 SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_NEVER,
                                                 SIMCONNECT_DATA_REQUEST_FLAG_DEFAULT, 0, 0, 0);
    });
}

}  // namespace velmar
