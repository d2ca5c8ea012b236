// The control operations of SimConnectManager: pause events, positioning and
// fuel. They run on the owner's thread.
#include "simconnect/simulator_control.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>

#include "platform/console.h"
#include "simconnect/identifiers.h"
#include "simconnect/pause_operations.h"
#include "simconnect/simconnect_manager.h"

namespace velmar {
namespace {

struct FuelTank {
    std::uint32_t definition;
    const char* variable;
};

// Defined and written in this order: left, right, centre.
constexpr std::array<FuelTank, 3> kFuelTanks = {{
    {ids::DEF_FUEL_LEFT_MAIN, "FUEL TANK LEFT MAIN QUANTITY"},
    {ids::DEF_FUEL_RIGHT_MAIN, "FUEL TANK RIGHT MAIN QUANTITY"},
    {ids::DEF_FUEL_CENTER, "FUEL TANK CENTER QUANTITY"},
}};

void print_tank_line(std::string_view label, double kilograms, double gallons) {
    std::ostringstream line;
    line << label << kilograms << " kg (" << gallons << " gallons, expect ~" << kilograms * kLitresPerKilogram << " L)";
    platform::print_line(line.str());
}

bool all_succeeded(const std::array<HRESULT, 3>& results) {
    return results[0] >= 0 && results[1] >= 0 && results[2] >= 0;
}

HRESULT first_refused(const std::array<HRESULT, 3>& results) {
    return *std::find_if(results.begin(), results.end(), [](HRESULT result) { return result < 0; });
}

}  // namespace

double fuel_gallons(double kilograms) { return std::floor(kilograms * kGallonsPerKilogram * 100.0) / 100.0; }

bool SimConnectManager::trigger_regular_pause() { return transmit_pause_event(kRegularPause); }

bool SimConnectManager::force_unpause() { return transmit_pause_event(kForceUnpause); }

bool SimConnectManager::trigger_active_pause() { return transmit_pause_event(kActivePause); }

bool SimConnectManager::trigger_sim_pause() { return transmit_pause_event(kSimPause); }

bool SimConnectManager::transmit_pause_event(const PauseOperation& operation) {
    if (!connected_) {
        return false;
    }
    platform::print_line(operation.announce_line);
    // With GROUPID_IS_PRIORITY the group argument is read as a priority.
    const HRESULT result = call_library([&](HANDLE handle) {
        return SimConnect_TransmitClientEvent(handle, SIMCONNECT_OBJECT_ID_USER, operation.event, 0,
                                              SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                              SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
    });
    if (result < 0) {
        refused_result_ = result;
        platform::print_line(std::string(operation.failed_line) + std::to_string(result));
        return false;
    }
    platform::print_line(operation.sent_line);
    return true;
}

bool SimConnectManager::set_aircraft_position(double latitude, double longitude, double altitude_feet,
                                              double heading_degrees) {
    if (!connected_) {
        return false;
    }
    std::ostringstream announce;
    announce << "[DEBUG] Setting aircraft position: " << latitude << ", " << longitude << " at " << altitude_feet
             << "ft, heading " << heading_degrees << "\xC2\xB0";
    platform::print_line(announce.str());

    SIMCONNECT_DATA_INITPOSITION position{};
    position.Latitude = latitude;
    position.Longitude = longitude;
    position.Altitude = altitude_feet;
    position.Pitch = 0.0;
    position.Bank = 0.0;
    position.Heading = heading_degrees;
    position.OnGround = 0;
    position.Airspeed = kPositionAirspeedKnots;

    if (!position_definition_created_) {
        const HRESULT defined = call_library([](HANDLE handle) {
            return SimConnect_AddToDataDefinition(handle, ids::DEF_INITIAL_POSITION, "Initial Position", nullptr,
                                                  SIMCONNECT_DATATYPE_INITPOSITION, 0.0F, SIMCONNECT_UNUSED);
        });
        if (defined < 0) {
            refused_result_ = defined;
            platform::print_line("[DEBUG] Failed to create position data definition: " + std::to_string(defined));
            return false;
        }
        position_definition_created_ = true;
        platform::print_line("[DEBUG] Position data definition created");
    }

    const HRESULT result = call_library([&](HANDLE handle) {
        return SimConnect_SetDataOnSimObject(handle, ids::DEF_INITIAL_POSITION, SIMCONNECT_OBJECT_ID_USER,
                                             SIMCONNECT_DATA_SET_FLAG_DEFAULT, 0, sizeof position, &position);
    });
    if (result < 0) {
        refused_result_ = result;
        platform::print_line("[DEBUG] Position command failed: " + std::to_string(result));
        return false;
    }
    platform::print_line("[DEBUG] Position command sent successfully");
    return true;
}

bool SimConnectManager::position_at_rattenberg() {
    if (!connected_) {
        return false;
    }
    return set_aircraft_position(kRattenbergLatitudeDegrees, kRattenbergLongitudeDegrees, kRattenbergAltitudeFeet,
                                 kRattenbergHeadingDegrees);
}

bool SimConnectManager::set_fuel_distribution(double left_kilograms, double right_kilograms) {
    if (!connected_) {
        return false;
    }
    std::array<double, 3> gallons = {fuel_gallons(left_kilograms), fuel_gallons(right_kilograms), 0.0};
    platform::print_line("[DEBUG] Setting fuel distribution:");
    print_tank_line("  Left Main: ", left_kilograms, gallons[0]);
    print_tank_line("  Right Main: ", right_kilograms, gallons[1]);

    if (!tank_definitions_created_) {
        // All three every time, so a partly failed attempt is repeated whole.
        std::array<HRESULT, 3> defined{};
        for (std::size_t i = 0; i < kFuelTanks.size(); ++i) {
            defined[i] = call_library([&](HANDLE handle) {
                return SimConnect_AddToDataDefinition(handle, kFuelTanks[i].definition, kFuelTanks[i].variable,
                                                      "gallons", SIMCONNECT_DATATYPE_FLOAT64, 0.0F, SIMCONNECT_UNUSED);
            });
        }
        if (!all_succeeded(defined)) {
            refused_result_ = first_refused(defined);
            platform::print_line("[DEBUG] Failed to create tank data definitions: " + std::to_string(defined[0]) +
                                 ", " + std::to_string(defined[1]) + ", " + std::to_string(defined[2]));
            return false;
        }
        tank_definitions_created_ = true;
        platform::print_line("[DEBUG] Tank fuel data definitions created (L/C/R)");
    }

    std::array<HRESULT, 3> written{};
    for (std::size_t i = 0; i < kFuelTanks.size(); ++i) {
        written[i] = call_library([&](HANDLE handle) {
            return SimConnect_SetDataOnSimObject(handle, kFuelTanks[i].definition, SIMCONNECT_OBJECT_ID_USER,
                                                 SIMCONNECT_DATA_SET_FLAG_DEFAULT, 0, sizeof gallons[i], &gallons[i]);
        });
    }
    platform::print_line("  Center Tank: 0 kg (0 gallons) - ZEROED");
    if (!all_succeeded(written)) {
        refused_result_ = first_refused(written);
        platform::print_line("[DEBUG] Fuel distribution failed: Left=" + std::to_string(written[0]) +
                             ", Right=" + std::to_string(written[1]) + ", Center=" + std::to_string(written[2]));
        return false;
    }
    platform::print_line("[DEBUG] Fuel distribution set successfully (L/C/R)");
    return true;
}

bool SimConnectManager::set_standard_fuel_load() {
    if (!connected_) {
        return false;
    }
    platform::print_line("[DEBUG] Setting standard fuel load: 5T total (2.5T per tank)");
    return set_fuel_distribution(kStandardFuelPerTankKilograms, kStandardFuelPerTankKilograms);
}

}  // namespace velmar
