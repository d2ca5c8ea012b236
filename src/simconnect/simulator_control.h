// The control operations' fixed values: the Rattenberg position and the standard fuel load.
#pragma once

namespace velmar {

// Fixed values of the control operations.
inline constexpr double kRattenbergLatitudeDegrees = 47.43183333333333;
inline constexpr double kRattenbergLongitudeDegrees = 11.939666666666668;
inline constexpr double kRattenbergAltitudeFeet = 9000.0;
inline constexpr double kRattenbergHeadingDegrees = 207.0;
inline constexpr unsigned kPositionAirspeedKnots = 220;

inline constexpr double kStandardFuelPerTankKilograms = 2500.0;
inline constexpr double kGallonsPerKilogram = 0.263614958676879;
// Only for the printed estimate; not related to the gallon figure.
inline constexpr double kLitresPerKilogram = 1.25;

// The gallons written for a fuel mass: cut (not rounded) to the hundredth below.
double fuel_gallons(double kilograms);

}  // namespace velmar
