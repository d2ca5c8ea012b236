#include "sample_mix.h"

#include <cmath>
#include <random>

namespace velmar::bench {

std::vector<FlightData> sample_mix() {
    std::vector<FlightData> mix;
    std::mt19937_64 random(2025);
    std::normal_distribution<double> jitter(0.0, 1.0);
    double latitude = 47.2602, longitude = 11.3439, altitude = 1906.0, heading = 257.0, fuel = 56.0;
    for (int i = 0; i < 1000; ++i) {
        double phase = i / 1000.0;
        FlightData s;
        double climb = phase < 0.1 ? 0.0 : phase < 0.4 ? 1200.0 : phase < 0.8 ? 0.0 : -900.0;
        double speed = phase < 0.1 ? 60.0 * phase / 0.1 : phase < 0.4 ? 95.0 : 122.0;
        altitude += climb / 60.0 / 30.0 + 0.05 * jitter(random);
        heading = std::fmod(heading + (phase > 0.5 && phase < 0.6 ? 0.1 : 0.0) + 360.0, 360.0);
        fuel -= 0.0003;
        latitude += speed * std::cos(heading * M_PI / 180.0) / 3600.0 / 60.0 / 30.0;
        longitude +=
            speed * std::sin(heading * M_PI / 180.0) / 3600.0 / 60.0 / 30.0 / std::cos(latitude * M_PI / 180.0);
        s.altitude = s.indicated_altitude = altitude;
        s.airspeed_indicated = s.airspeed_true = speed + 0.3 * jitter(random);
        s.gps_ground_speed = speed * 1.04 + 0.2 * jitter(random);
        s.heading_magnetic = s.heading_true = heading + 0.01 * jitter(random);
        s.vertical_speed = climb + 15.0 * jitter(random);
        s.fuel_quantity = fuel;
        s.is_paused = phase < 0.1;  // the on-ground flag
        s.latitude = latitude;
        s.longitude = longitude;
        if (i < 60) {
            s.aircraft_title = "MSFS 2024 Aircraft";
            s.aircraft_type = "Connected";
        } else {
            s.aircraft_title = "C172";
            s.aircraft_type = "C172";
        }
        mix.push_back(s);
    }
    return mix;
}

}  // namespace velmar::bench
