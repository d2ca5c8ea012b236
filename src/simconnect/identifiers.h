// Every SimConnect identifier the program chooses, in one place.
#pragma once

#include <cstdint>

// Every SimConnect identifier the program chooses, in one place.
namespace velmar::ids {

// Data definitions
inline constexpr std::uint32_t DEF_FLIGHT_DATA = 0;
inline constexpr std::uint32_t DEF_INITIAL_POSITION = 100;
inline constexpr std::uint32_t DEF_FUEL_LEFT_MAIN = 103;
inline constexpr std::uint32_t DEF_FUEL_RIGHT_MAIN = 104;
inline constexpr std::uint32_t DEF_FUEL_CENTER = 105;

// Requests
inline constexpr std::uint32_t REQ_FLIGHT_DATA = 2;
inline constexpr std::uint32_t REQ_AIRCRAFT_LOADED = 3;
// The cheap question asked of a simulator that has gone quiet
inline constexpr std::uint32_t REQ_LIVENESS = 4;

// Client events, mapped to simulator events at connect time
inline constexpr std::uint32_t EVT_PAUSE_TOGGLE = 4;
inline constexpr std::uint32_t EVT_PAUSE_OFF = 5;
inline constexpr std::uint32_t EVT_ACTIVE_PAUSE_TOGGLE = 6;
inline constexpr std::uint32_t EVT_SIM_PAUSE_TOGGLE = 7;

// System event subscriptions. "Pause" and "Unpaused" reuse the numbers of
// client events 4 and 5, so the simulator refuses them (EVENT_ID_DUPLICATE);
// they stay for the servers that count the calls, and the pause state comes
// from SYS_EVT_PAUSE_EX1, whose number is used nowhere else.
inline constexpr std::uint32_t SYS_EVT_SIM = 8;
inline constexpr std::uint32_t SYS_EVT_QUIT = 9;
inline constexpr std::uint32_t SYS_EVT_PAUSE = 4;
inline constexpr std::uint32_t SYS_EVT_UNPAUSED = 5;
inline constexpr std::uint32_t SYS_EVT_PAUSE_EX1 = 10;

// Notification groups
inline constexpr std::uint32_t GROUP_PAUSE_EVENTS = 0;

}  // namespace velmar::ids
