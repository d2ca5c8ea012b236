// FlightData: one sample of the user's aircraft.
#pragma once

#include <chrono>
#include <string>

namespace velmar {

// One sample of the user aircraft, shaped as the JSON object that carries it.
struct FlightData {
    double altitude = 0.0;
    double indicated_altitude = 0.0;
    double altitude_above_ground = 0.0;
    double airspeed_indicated = 0.0;
    double airspeed_true = 0.0;
    double gps_ground_speed = 0.0;
    double heading_magnetic = 0.0;
    double heading_true = 0.0;
    double vertical_speed = 0.0;
    double elevator_position = 0.0;
    double aileron_position = 0.0;
    double rudder_position = 0.0;
    double throttle_position = 0.0;
    double fuel_quantity = 0.0;
    double engine_rpm = 0.0;
    bool autopilot_master = false;
    bool autopilot_heading = false;
    bool autopilot_altitude = false;
    bool autopilot_speed = false;
    bool is_paused = false;  // carries "SIM ON GROUND", not the pause state
    double latitude = 0.0;
    double longitude = 0.0;
    std::string aircraft_title;
    std::string aircraft_type;
    std::chrono::steady_clock::time_point timestamp = std::chrono::steady_clock::now();
};

}  // namespace velmar
