// The JSON writer on any sample: raw bit patterns for the numbers (NaN and
// infinities included), any bytes for title and type. Every output must parse
// as JSON with the 25 members in order, numbers as a fixed-precision stream
// writes them (null when not finite), strings that read back as the input
// when it was valid UTF-8; and the status object likewise.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <locale>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>

#include "bridge/flight_json.h"

namespace {

// Takes bytes from the front of the input; zeros once it runs out.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
    template <typename T>
    T take() {
        unsigned char bytes[sizeof(T)] = {};
        std::size_t n = std::min(sizeof(T), rest_.size());
        std::memcpy(bytes, rest_.data(), n);
        rest_.remove_prefix(n);
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
    // Up to the next zero byte, or the rest.
    std::string text() {
        std::size_t end = rest_.find('\0');
        std::string result(rest_.substr(0, end));
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return result;
    }

private:
    std::string_view rest_;
};

bool valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length;
        std::uint32_t code;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2, code = byte & 0x1Fu;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3, code = byte & 0x0Fu;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4, code = byte & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string stream_fixed(double value, int precision) {
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << std::fixed << std::setprecision(precision) << value;
    return stream.str();
}

// The text of the number after `key` in `json`.
std::string_view member_text(std::string_view json, std::string_view key) {
    std::string pattern = "\"" + std::string(key) + "\":";
    std::size_t at = json.find(pattern);
    if (at == std::string_view::npos) __builtin_trap();
    at += pattern.size();
    return json.substr(at, json.find_first_of(",}", at) - at);
}

void check_number(std::string_view json, const nlohmann::ordered_json& parsed, const char* key, double value,
                  int precision) {
    const auto& member = parsed.at(key);
    if (!std::isfinite(value)) {
        if (!member.is_null()) __builtin_trap();
        return;
    }
    if (!member.is_number()) __builtin_trap();
    if (member_text(json, key) != stream_fixed(value, precision)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader(data, size);
    velmar::FlightData sample;
    double* numbers[] = {&sample.altitude,           &sample.indicated_altitude, &sample.altitude_above_ground,
                         &sample.airspeed_indicated, &sample.airspeed_true,      &sample.gps_ground_speed,
                         &sample.heading_magnetic,   &sample.heading_true,       &sample.vertical_speed,
                         &sample.elevator_position,  &sample.aileron_position,   &sample.rudder_position,
                         &sample.throttle_position,  &sample.fuel_quantity,      &sample.engine_rpm,
                         &sample.latitude,           &sample.longitude};
    for (double* number : numbers) *number = reader.take<double>();
    auto flags = reader.take<std::uint8_t>();
    sample.autopilot_master = flags & 1;
    sample.autopilot_heading = flags & 2;
    sample.autopilot_altitude = flags & 4;
    sample.autopilot_speed = flags & 8;
    sample.is_paused = flags & 16;
    auto timestamp = reader.take<std::int64_t>();
    sample.aircraft_title = reader.text();
    sample.aircraft_type = reader.text();

    std::string json = velmar::flight_json(sample, timestamp);
    nlohmann::ordered_json parsed;
    try {
        parsed = nlohmann::ordered_json::parse(json);
    } catch (const nlohmann::json::exception&) {
        __builtin_trap();  // not JSON
    }
    if (!parsed.is_object() || parsed.size() != 25) __builtin_trap();
    if (json.find('\n') != std::string::npos || json.find('\r') != std::string::npos) __builtin_trap();
    if (parsed.begin().key() != "timestamp" || parsed.at("timestamp").get<std::int64_t>() != timestamp) {
        __builtin_trap();
    }

    const char* two_decimal_keys[] = {
        "altitude",         "indicated_altitude", "altitude_above_ground", "airspeed_indicated", "airspeed_true",
        "gps_ground_speed", "heading_magnetic",   "heading_true",          "vertical_speed",     "elevator_position",
        "aileron_position", "rudder_position",    "throttle_position",     "fuel_quantity",      "engine_rpm"};
    for (std::size_t i = 0; i < 15; ++i) check_number(json, parsed, two_decimal_keys[i], *numbers[i], 2);
    check_number(json, parsed, "latitude", sample.latitude, 8);
    check_number(json, parsed, "longitude", sample.longitude, 8);
    if (parsed.at("is_paused").get<bool>() != sample.is_paused) __builtin_trap();
    if (parsed.at("autopilot_speed").get<bool>() != sample.autopilot_speed) __builtin_trap();

    for (const auto& [key, text] :
         {std::pair{"aircraft_title", &sample.aircraft_title}, std::pair{"aircraft_type", &sample.aircraft_type}}) {
        std::string read_back = parsed.at(key).get<std::string>();
        if (valid_utf8(*text) && read_back != *text) __builtin_trap();
        if (!valid_utf8(*text) && read_back.empty() && !text->empty()) __builtin_trap();
    }
    // The same sample through the reusing form gives the same text.
    std::string reused = "left over from an earlier sample";
    velmar::format_flight_json(reused, sample, timestamp);
    if (reused != json) __builtin_trap();

    std::string status = velmar::status_json(flags & 32, flags & 64, timestamp);
    try {
        auto parsed_status = nlohmann::ordered_json::parse(status);
        if (parsed_status.size() != 3 || parsed_status.at("last_update").get<std::int64_t>() != timestamp) {
            __builtin_trap();
        }
    } catch (const nlohmann::json::exception&) {
        __builtin_trap();
    }
    return 0;
}
