// The recording reader on any line, against nlohmann's JSON reader: a line is
// a sample exactly when it is a JSON object of the 25 members in order, each
// of its kind, and then every value reads back the same. The rest of the
// input, as a file name, checks the start time's calendar arithmetic.

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "bridge/flight_json.h"
#include "export/recording.h"

namespace {

using velmar::FlightJsonKind;

// Whether nlohmann's reading is a sample line.
bool is_sample(const nlohmann::ordered_json& json) {
    const auto keys = velmar::flight_json_keys();
    if (!json.is_object() || json.size() != keys.size()) return false;
    std::size_t i = 0;
    for (const auto& [name, value] : json.items()) {
        if (name != keys[i].name) return false;
        switch (keys[i++].kind) {
            case FlightJsonKind::integer:
                if (!value.is_number_integer()) return false;
                if (value.is_number_unsigned() &&
                    value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                    return false;
                }
                break;
            case FlightJsonKind::number:
                if (!value.is_number() && !value.is_null()) return false;
                break;
            case FlightJsonKind::flag:
                if (!value.is_boolean()) return false;
                break;
            case FlightJsonKind::text:
                if (!value.is_string()) return false;
                break;
        }
    }
    return true;
}

void check_line(std::string_view line) {
    velmar::RecordedSample sample;
    const bool accepted = velmar::parse_recording_line(line, sample).empty();
    // nlohmann keeps one of two members with the same name; a recording line has each once.
    std::size_t members = 0;
    const auto count_members = [&](int depth, nlohmann::ordered_json::parse_event_t event, nlohmann::ordered_json&) {
        if (depth == 1 && event == nlohmann::ordered_json::parse_event_t::key) ++members;
        return true;
    };
    const auto json = nlohmann::ordered_json::parse(line, count_members, false);
    const bool bom = line.starts_with("\xEF\xBB\xBF");  // nlohmann skips one; a recording has none
    if (accepted != (is_sample(json) && members == json.size() && !bom)) __builtin_trap();
    if (!accepted) return;
    const auto keys = velmar::flight_json_keys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto& value = json[std::string(keys[i].name)];
        const std::string& text = sample.text[i];
        switch (keys[i].kind) {
            case FlightJsonKind::integer:
                if (sample.timestamp_ms != value.get<std::int64_t>()) __builtin_trap();
                break;
            case FlightJsonKind::number: {
                if (value.is_null() != text.empty()) __builtin_trap();
                const auto number = sample.number(keys[i].name);
                if (!value.is_null() && std::isfinite(value.get<double>()) && number != value.get<double>()) {
                    __builtin_trap();
                }
                break;
            }
            case FlightJsonKind::flag:
                if (text != (value.get<bool>() ? "true" : "false")) __builtin_trap();
                break;
            case FlightJsonKind::text:
                if (text != value.get<std::string>()) __builtin_trap();
                break;
        }
    }
    (void)velmar::iso_time({0}, sample.timestamp_ms);  // any timestamp: no overflow
}

// A name that passes gives back its own date and time.
void check_name(std::string_view name) {
    const auto start = velmar::recording_start(name);
    if (!start) return;
    const std::string_view stamp = velmar::file_name_of(name).substr(12, 15);  // after "flight_data_"
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.4s-%.2s-%.2sT%.2s:%.2s:%.2s.000", stamp.data(), stamp.data() + 4,
                  stamp.data() + 6, stamp.data() + 9, stamp.data() + 11, stamp.data() + 13);
    if (velmar::iso_time(*start, 0) != expected) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    check_line(input.substr(0, split));
    if (split != std::string_view::npos) check_name(input.substr(split + 1));
    return 0;
}
