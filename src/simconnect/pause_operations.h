// The pause commands: which simulator event each sends.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "simconnect/identifiers.h"

namespace velmar {

// A client event that pauses or unpauses the simulator: connect maps it to its
// simulator event, and one control operation sends it.
struct PauseOperation {
    std::uint32_t event;
    const char* sim_event;
    std::string_view announce_line;  // printed before sending
    std::string_view sent_line;
    std::string_view failed_line;  // followed by the HRESULT
};

inline constexpr PauseOperation kRegularPause{ids::EVT_PAUSE_TOGGLE, "PAUSE_TOGGLE",
                                              "[DEBUG] Triggering regular pause (P key equivalent)",
                                              "[DEBUG] Pause event sent successfully", "[DEBUG] Pause event failed: "};
inline constexpr PauseOperation kForceUnpause{ids::EVT_PAUSE_OFF, "PAUSE_OFF", "[DEBUG] Force unpause",
                                              "[DEBUG] Unpause event sent successfully",
                                              "[DEBUG] Unpause event failed: "};
inline constexpr PauseOperation kActivePause{
    ids::EVT_ACTIVE_PAUSE_TOGGLE, "ACTIVE_PAUSE_TOGGLE", "[DEBUG] Triggering active pause (position only)",
    "[DEBUG] Active pause event sent successfully", "[DEBUG] Active pause event failed: "};
inline constexpr PauseOperation kSimPause{
    ids::EVT_SIM_PAUSE_TOGGLE, "SIM_PAUSE_TOGGLE", "[DEBUG] Triggering sim pause (dev mode)",
    "[DEBUG] Sim pause event sent successfully", "[DEBUG] Sim pause event failed: "};

// In the order connect maps them and adds them to the pause group.
inline constexpr std::array<const PauseOperation*, 4> kPauseOperations = {&kRegularPause, &kForceUnpause, &kActivePause,
                                                                          &kSimPause};

}  // namespace velmar
