#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/simconnect_api.h"
#include "simconnect/flight_data.h"

namespace velmar {

// The program's one connection to the simulator. It reports to its owner only
// through the three callbacks, each of which may be empty.
class SimConnectManager {
public:
    using SampleCallback = std::function<void(const FlightData&)>;
    using ConnectionCallback = std::function<void(bool)>;
    using ErrorCallback = std::function<void(const std::string&)>;

    SimConnectManager() = default;
    ~SimConnectManager();
    SimConnectManager(const SimConnectManager&) = delete;
    SimConnectManager& operator=(const SimConnectManager&) = delete;

    void set_sample_callback(SampleCallback callback);
    void set_connection_callback(ConnectionCallback callback);
    void set_error_callback(ErrorCallback callback);

    // Connection
    bool connect(const std::string& client_name);
    void disconnect();
    bool is_connected() const;
    // True once the simulator has sent its quit record on this connection.
    bool quit_received() const;

    // Dispatch (dispatch thread only)
    void dispatch_messages();
    void handle_exception(const SIMCONNECT_RECV_EXCEPTION& exception);
    FlightData build_flight_data(const SIMCONNECT_RECV_SIMOBJECT_DATA& record) const;
    void dump_aircraft_system_state(const SIMCONNECT_RECV_SYSTEM_STATE& state);

    // Data collection
    void start_data_collection();
    void stop_data_collection();

    // Simulator control (main thread)
    bool trigger_regular_pause();
    bool force_unpause();
    bool trigger_active_pause();
    bool trigger_sim_pause();
    bool set_aircraft_position(double latitude, double longitude, double altitude_feet, double heading_degrees);
    bool position_at_rattenberg();
    bool set_fuel_distribution(double left_kilograms, double right_kilograms);
    bool set_standard_fuel_load();

private:
    // Field list is the implementer's; keep the order handle, connected,
    // sample_callback, connection_callback, error_callback, aircraft_name.
};

}  // namespace velmar
