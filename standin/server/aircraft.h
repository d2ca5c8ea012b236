#pragma once

// The stand-in's one user aircraft: a deterministic flight model and the
// simulation variables it answers, by name and unit.

#include <SimConnect.h>

#include <optional>
#include <string>
#include <string_view>

namespace velmar::standin {

enum class Variable {
    Altitude,
    Latitude,
    Longitude,
    AirspeedIndicated,
    AirspeedTrue,
    GroundSpeed,
    HeadingMagnetic,
    HeadingTrue,
    VerticalSpeed,
    Pitch,
    Bank,
    FuelTotal,
    FuelLeftMain,
    FuelRightMain,
    FuelCenter,
    OnGround,
    InitialPosition,
};

// The variable for a name, compared without regard to case; nothing when unknown.
std::optional<Variable> find_variable(std::string_view name);

// The factor from the variable's own unit (feet, degrees, knots, feet per
// minute, gallons, bool) to `units`; nothing when the units do not fit.
std::optional<double> unit_factor(Variable variable, std::string_view units);

inline constexpr double kCruiseKnots = 120;
inline constexpr double kClimbFeetPerMinute = 500;
inline constexpr double kTurnDegreesPerSecond = 3;
inline constexpr double kBurnGallonsPerHour = 8;

class Aircraft {
public:
    Aircraft();

    // Flies `seconds` further: a steady climbing turn in the air, standing
    // still on the ground; the engine burns fuel in both.
    void advance(double seconds);

    double value(Variable variable) const;  // in the variable's own unit
    // Sets a writable variable; the others ignore writes.
    void set(Variable variable, double value);
    void place(const SIMCONNECT_DATA_INITPOSITION& position);
    SIMCONNECT_DATA_INITPOSITION position() const;

private:
    double latitude_deg_ = 47.4502;
    double longitude_deg_ = -122.3088;
    double altitude_ft_ = 3000;
    double heading_deg_ = 90;
    double airspeed_kt_ = kCruiseKnots;
    double fuel_left_gal_ = 24;
    double fuel_right_gal_ = 24;
    double fuel_center_gal_ = 0;
    bool on_ground_ = false;
};

// Byte-wise upper case of a to z: the names the simulator matches ignore case.
std::string upper(std::string_view text);

}  // namespace velmar::standin
