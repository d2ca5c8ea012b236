// sim-standin's flight model and the simulation variables it answers.

#include "aircraft.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace velmar::standin {

namespace {

enum class Dimension { Length, Angle, Speed, VerticalSpeed, Volume, Bool, Position };

struct VariableName {
    std::string_view name;
    Variable variable;
    Dimension dimension;
};

constexpr std::array<VariableName, 17> kVariables{{
    {"PLANE ALTITUDE", Variable::Altitude, Dimension::Length},
    {"PLANE LATITUDE", Variable::Latitude, Dimension::Angle},
    {"PLANE LONGITUDE", Variable::Longitude, Dimension::Angle},
    {"AIRSPEED INDICATED", Variable::AirspeedIndicated, Dimension::Speed},
    {"AIRSPEED TRUE", Variable::AirspeedTrue, Dimension::Speed},
    {"GPS GROUND SPEED", Variable::GroundSpeed, Dimension::Speed},
    {"PLANE HEADING DEGREES MAGNETIC", Variable::HeadingMagnetic, Dimension::Angle},
    {"PLANE HEADING DEGREES TRUE", Variable::HeadingTrue, Dimension::Angle},
    {"VERTICAL SPEED", Variable::VerticalSpeed, Dimension::VerticalSpeed},
    {"PLANE PITCH DEGREES", Variable::Pitch, Dimension::Angle},
    {"PLANE BANK DEGREES", Variable::Bank, Dimension::Angle},
    {"FUEL TOTAL QUANTITY", Variable::FuelTotal, Dimension::Volume},
    {"FUEL TANK LEFT MAIN QUANTITY", Variable::FuelLeftMain, Dimension::Volume},
    {"FUEL TANK RIGHT MAIN QUANTITY", Variable::FuelRightMain, Dimension::Volume},
    {"FUEL TANK CENTER QUANTITY", Variable::FuelCenter, Dimension::Volume},
    {"SIM ON GROUND", Variable::OnGround, Dimension::Bool},
    {"INITIAL POSITION", Variable::InitialPosition, Dimension::Position},
}};

struct UnitName {
    std::string_view name;
    Dimension dimension;
    double factor;  // from the dimension's own unit
};

constexpr double kFeetPerMeter = 3.28083989501312;
constexpr double kKnotsPerMeterPerSecond = 1.94384449244060;
constexpr double kLitersPerGallon = 3.785411784;
constexpr double kPi = 3.14159265358979323846;

constexpr std::array<UnitName, 22> kUnits{{
    {"FEET", Dimension::Length, 1},
    {"FOOT", Dimension::Length, 1},
    {"FT", Dimension::Length, 1},
    {"METERS", Dimension::Length, 1 / kFeetPerMeter},
    {"METER", Dimension::Length, 1 / kFeetPerMeter},
    {"M", Dimension::Length, 1 / kFeetPerMeter},
    {"DEGREES", Dimension::Angle, 1},
    {"DEGREE", Dimension::Angle, 1},
    {"RADIANS", Dimension::Angle, kPi / 180},
    {"RADIAN", Dimension::Angle, kPi / 180},
    {"KNOTS", Dimension::Speed, 1},
    {"KNOT", Dimension::Speed, 1},
    {"METERS PER SECOND", Dimension::Speed, 1 / kKnotsPerMeterPerSecond},
    {"FEET PER MINUTE", Dimension::VerticalSpeed, 1},
    {"FEET PER SECOND", Dimension::VerticalSpeed, 1.0 / 60},
    {"GALLONS", Dimension::Volume, 1},
    {"GALLON", Dimension::Volume, 1},
    {"LITERS", Dimension::Volume, kLitersPerGallon},
    {"LITER", Dimension::Volume, kLitersPerGallon},
    {"BOOL", Dimension::Bool, 1},
    {"BOOLEAN", Dimension::Bool, 1},
    {"NUMBER", Dimension::Bool, 1},
}};

const VariableName* variable_entry(Variable variable) {
    for (const auto& entry : kVariables) {
        if (entry.variable == variable) return &entry;
    }
    return nullptr;
}

double wrap_degrees(double degrees) {
    const double wrapped = std::fmod(degrees, 360.0);
    return wrapped < 0 ? wrapped + 360.0 : wrapped;
}

}  // namespace

std::optional<Variable> find_variable(std::string_view name) {
    const std::string wanted = upper(name);
    for (const auto& entry : kVariables) {
        if (entry.name == wanted) return entry.variable;
    }
    return std::nullopt;
}

std::optional<double> unit_factor(Variable variable, std::string_view units) {
    const VariableName* entry = variable_entry(variable);
    if (entry == nullptr || entry->dimension == Dimension::Position) return std::nullopt;
    const std::string wanted = upper(units);
    if (wanted == "NUMBER") return 1.0;  // any variable, in its own unit
    for (const auto& unit : kUnits) {
        if (unit.name == wanted && unit.dimension == entry->dimension) return unit.factor;
    }
    return std::nullopt;
}

Aircraft::Aircraft() = default;

void Aircraft::advance(double seconds) {
    double* tanks[] = {&fuel_left_gal_, &fuel_right_gal_, &fuel_center_gal_};
    const auto feeding =
        std::count_if(std::begin(tanks), std::end(tanks), [](const double* tank) { return *tank > 0; });
    if (feeding > 0) {
        const double burn = kBurnGallonsPerHour * seconds / 3600 / static_cast<double>(feeding);
        for (double* tank : tanks) {
            if (*tank > 0) *tank = std::max(0.0, *tank - burn);
        }
    }
    if (on_ground_) return;

    heading_deg_ = wrap_degrees(heading_deg_ + kTurnDegreesPerSecond * seconds);
    altitude_ft_ += kClimbFeetPerMinute * seconds / 60;
    const double nautical_miles = value(Variable::GroundSpeed) * seconds / 3600;
    const double heading_rad = heading_deg_ * kPi / 180;
    latitude_deg_ = std::clamp(latitude_deg_ + nautical_miles / 60 * std::cos(heading_rad), -89.9, 89.9);
    const double east_deg = nautical_miles / 60 * std::sin(heading_rad) / std::cos(latitude_deg_ * kPi / 180);
    longitude_deg_ = wrap_degrees(longitude_deg_ + east_deg + 180) - 180;
}

double Aircraft::value(Variable variable) const {
    switch (variable) {
        case Variable::Altitude:
            return altitude_ft_;
        case Variable::Latitude:
            return latitude_deg_;
        case Variable::Longitude:
            return longitude_deg_;
        case Variable::AirspeedIndicated:
            return on_ground_ ? 0 : airspeed_kt_;
        // True airspeed grows about two percent per thousand feet; no wind.
        case Variable::AirspeedTrue:
        case Variable::GroundSpeed:
            return on_ground_ ? 0 : airspeed_kt_ * (1 + 0.00002 * std::max(0.0, altitude_ft_));
        case Variable::HeadingMagnetic:  // no magnetic variation here
        case Variable::HeadingTrue:
            return heading_deg_;
        case Variable::VerticalSpeed:
            return on_ground_ ? 0 : kClimbFeetPerMinute;
        case Variable::Pitch:
            return on_ground_ ? 0 : -3;  // nose up is negative
        case Variable::Bank:
            return on_ground_ ? 0 : -17;  // a standard-rate right turn at 120 knots
        case Variable::FuelTotal:
            return fuel_left_gal_ + fuel_right_gal_ + fuel_center_gal_;
        case Variable::FuelLeftMain:
            return fuel_left_gal_;
        case Variable::FuelRightMain:
            return fuel_right_gal_;
        case Variable::FuelCenter:
            return fuel_center_gal_;
        case Variable::OnGround:
            return on_ground_ ? 1 : 0;
        case Variable::InitialPosition:
            return 0;
    }
    return 0;
}

void Aircraft::set(Variable variable, double value) {
    switch (variable) {
        case Variable::Altitude:
            altitude_ft_ = value;
            break;
        case Variable::Latitude:
            latitude_deg_ = value;
            break;
        case Variable::Longitude:
            longitude_deg_ = value;
            break;
        case Variable::AirspeedIndicated:
            airspeed_kt_ = value;
            break;
        case Variable::HeadingMagnetic:
        case Variable::HeadingTrue:
            heading_deg_ = value;
            break;
        case Variable::FuelLeftMain:
            fuel_left_gal_ = value;
            break;
        case Variable::FuelRightMain:
            fuel_right_gal_ = value;
            break;
        case Variable::FuelCenter:
            fuel_center_gal_ = value;
            break;
        default:
            break;
    }
}

void Aircraft::place(const SIMCONNECT_DATA_INITPOSITION& position) {
    latitude_deg_ = position.Latitude;
    longitude_deg_ = position.Longitude;
    altitude_ft_ = position.Altitude;
    heading_deg_ = position.Heading;
    on_ground_ = position.OnGround == 1;
    if (position.Airspeed == INITPOSITION_AIRSPEED_CRUISE) {
        airspeed_kt_ = kCruiseKnots;
    } else if (position.Airspeed != INITPOSITION_AIRSPEED_KEEP) {
        airspeed_kt_ = position.Airspeed;
    }
}

SIMCONNECT_DATA_INITPOSITION Aircraft::position() const {
    SIMCONNECT_DATA_INITPOSITION position{};
    position.Latitude = latitude_deg_;
    position.Longitude = longitude_deg_;
    position.Altitude = altitude_ft_;
    position.Pitch = value(Variable::Pitch);
    position.Bank = value(Variable::Bank);
    position.Heading = heading_deg_;
    position.OnGround = on_ground_ ? 1 : 0;
    position.Airspeed = std::isfinite(airspeed_kt_) ? static_cast<DWORD>(std::clamp(airspeed_kt_, 0.0, 100000.0)) : 0;
    return position;
}

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

}  // namespace velmar::standin
