// The JSON text of a sample and of the status file (pure).
#include "bridge/flight_json.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/text.h"

namespace velmar {

namespace {

struct NumberMember {
    std::string_view prefix;  // separator, quoted key and colon
    double FlightData::*field;
};

struct FlagMember {
    std::string_view prefix;
    bool FlightData::*field;
};

constexpr std::string_view kTimestampPrefix = R"({"timestamp":)";

constexpr NumberMember kTwoDecimalMembers[] = {
    {R"(,"altitude":)", &FlightData::altitude},
    {R"(,"indicated_altitude":)", &FlightData::indicated_altitude},
    {R"(,"altitude_above_ground":)", &FlightData::altitude_above_ground},
    {R"(,"airspeed_indicated":)", &FlightData::airspeed_indicated},
    {R"(,"airspeed_true":)", &FlightData::airspeed_true},
    {R"(,"gps_ground_speed":)", &FlightData::gps_ground_speed},
    {R"(,"heading_magnetic":)", &FlightData::heading_magnetic},
    {R"(,"heading_true":)", &FlightData::heading_true},
    {R"(,"vertical_speed":)", &FlightData::vertical_speed},
    {R"(,"elevator_position":)", &FlightData::elevator_position},
    {R"(,"aileron_position":)", &FlightData::aileron_position},
    {R"(,"rudder_position":)", &FlightData::rudder_position},
    {R"(,"throttle_position":)", &FlightData::throttle_position},
    {R"(,"fuel_quantity":)", &FlightData::fuel_quantity},
    {R"(,"engine_rpm":)", &FlightData::engine_rpm},
};

constexpr FlagMember kFlagMembers[] = {
    {R"(,"autopilot_master":)", &FlightData::autopilot_master},
    {R"(,"autopilot_heading":)", &FlightData::autopilot_heading},
    {R"(,"autopilot_altitude":)", &FlightData::autopilot_altitude},
    {R"(,"autopilot_speed":)", &FlightData::autopilot_speed},
    {R"(,"is_paused":)", &FlightData::is_paused},
};

constexpr NumberMember kEightDecimalMembers[] = {
    {R"(,"latitude":)", &FlightData::latitude},
    {R"(,"longitude":)", &FlightData::longitude},
};

constexpr std::string_view kTitlePrefix = R"(,"aircraft_title":)";
constexpr std::string_view kTypePrefix = R"(,"aircraft_type":)";

constexpr int kTwoDecimals = 2;
constexpr int kEightDecimals = 8;

// Room for the longest fixed-point double: sign, 309 integer digits, point
// and 8 decimals.
constexpr std::size_t kMaxNumberChars = 330;

void append_integer(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// Below this magnitude a value times 10^precision, rounded, fits in 63 bits
// and the value itself has no integer bits beyond the mantissa.
constexpr double fast_path_limit(int precision) { return precision == kTwoDecimals ? 0x1p53 : 9.2e10; }

constexpr std::uint64_t power_of_ten(int exponent) {
    std::uint64_t result = 1;
    for (int i = 0; i < exponent; ++i) {
        result *= 10;
    }
    return result;
}

// Fixed-point digits of a finite `value` below fast_path_limit, by integer
// arithmetic on its binary form: the exact value times 10^precision, rounded
// to nearest with ties to even, as printf and std::to_chars round. Several
// times faster than the general conversion, which matters 17 times a sample.
void append_fixed_fast(std::string& out, double value, int precision) {
    const std::uint64_t scale = power_of_ten(precision);
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const auto biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int shift = 1074;  // |value| = mantissa / 2^shift; subnormal unless the exponent says otherwise
    if (biased_exponent != 0) {
        mantissa |= std::uint64_t{1} << 52;
        shift = 1075 - biased_exponent;  // not negative: |value| < 2^53
    }

    // product = mantissa * scale < 2^80, as high and low 64-bit halves; scale < 2^32.
    const std::uint64_t low_part = (mantissa & 0xFFFF'FFFF) * scale;
    const std::uint64_t high_part = (mantissa >> 32) * scale;
    const std::uint64_t low = low_part + (high_part << 32);
    const std::uint64_t high = (high_part >> 32) + (low < low_part ? 1 : 0);

    std::uint64_t scaled = 0;  // |value| * scale, rounded
    if (shift == 0) {
        scaled = low;          // an integer; the product fits: below 2^53 * 100
    } else if (shift <= 80) {  // beyond, the product is below half a unit: rounds to 0
        std::uint64_t rest_high = 0;
        std::uint64_t rest_low = 0;
        std::uint64_t half_high = 0;
        std::uint64_t half_low = 0;
        if (shift < 64) {
            scaled = (low >> shift) | (high << (64 - shift));
            rest_low = low & ((std::uint64_t{1} << shift) - 1);
            half_low = std::uint64_t{1} << (shift - 1);
        } else {
            const int high_shift = shift - 64;
            scaled = high >> high_shift;
            rest_high = high & ((std::uint64_t{1} << high_shift) - 1);
            rest_low = low;
            if (high_shift == 0) {
                half_low = std::uint64_t{1} << 63;
            } else {
                half_high = std::uint64_t{1} << (high_shift - 1);
            }
        }
        const bool above_half = rest_high > half_high || (rest_high == half_high && rest_low > half_low);
        const bool exactly_half = rest_high == half_high && rest_low == half_low;
        if (above_half || (exactly_half && (scaled & 1) != 0)) {
            ++scaled;
        }
    }

    char buffer[40];
    char* end = buffer + sizeof buffer;
    char* cursor = end;
    std::uint64_t fraction = scaled % scale;
    for (int i = 0; i < precision; ++i) {
        *--cursor = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    *--cursor = '.';
    std::uint64_t whole = scaled / scale;
    do {
        *--cursor = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    if (negative) {
        *--cursor = '-';
    }
    out.append(cursor, end);
}

// Exactly what a stream in fixed notation with this precision writes (the
// exact binary value, correctly rounded), except that JSON has no word for a
// non-finite number.
void append_fixed(std::string& out, double value, int precision) {
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    if (std::fabs(value) < fast_path_limit(precision)) {
        append_fixed_fast(out, value, precision);
        return;
    }
    char buffer[kMaxNumberChars];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    out.append(buffer, result.ptr);
}

void append_flag(std::string& out, bool value) { out.append(value ? "true" : "false"); }

bool needs_escape(unsigned char byte) { return byte < 0x20 || byte == '"' || byte == '\\'; }

// Appends `text` escaped for a JSON string; returns false, having appended
// part of it, when `text` is not well-formed UTF-8.
bool append_escaped(std::string& out, std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::size_t run_start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            const platform::Utf8Step step = platform::utf8_step(text.substr(i));
            if (!step.valid) {
                return false;
            }
            i += step.size;
            continue;
        }
        if (!needs_escape(byte)) {
            ++i;
            continue;
        }
        out.append(text.substr(run_start, i - run_start));
        switch (byte) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
                out.append(escape, sizeof escape);
            }
        }
        ++i;
        run_start = i;
    }
    out.append(text.substr(run_start));
    return true;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    const std::size_t start = out.size();
    out.push_back('"');
    if (!append_escaped(out, text)) {
        out.resize(start + 1);
        append_escaped(out, platform::to_valid_utf8(text));
    }
    out.push_back('"');
}

void format_flight_json(std::string& out, const FlightData& sample, std::int64_t timestamp_ms) {
    out.clear();
    out.append(kTimestampPrefix);
    append_integer(out, timestamp_ms);
    for (const auto& member : kTwoDecimalMembers) {
        out.append(member.prefix);
        append_fixed(out, sample.*member.field, kTwoDecimals);
    }
    for (const auto& member : kFlagMembers) {
        out.append(member.prefix);
        append_flag(out, sample.*member.field);
    }
    for (const auto& member : kEightDecimalMembers) {
        out.append(member.prefix);
        append_fixed(out, sample.*member.field, kEightDecimals);
    }
    out.append(kTitlePrefix);
    append_json_string(out, sample.aircraft_title);
    out.append(kTypePrefix);
    append_json_string(out, sample.aircraft_type);
    out.push_back('}');
}

std::span<const FlightJsonKey> flight_json_keys() {
    // The names come from the writer's own prefixes, so the two cannot drift apart.
    static const auto keys = [] {
        const auto name_of = [](std::string_view prefix) {
            const std::size_t open = prefix.find('"') + 1;
            return prefix.substr(open, prefix.rfind('"') - open);
        };
        std::vector<FlightJsonKey> list{{name_of(kTimestampPrefix), FlightJsonKind::integer}};
        for (const auto& member : kTwoDecimalMembers) list.push_back({name_of(member.prefix), FlightJsonKind::number});
        for (const auto& member : kFlagMembers) list.push_back({name_of(member.prefix), FlightJsonKind::flag});
        for (const auto& member : kEightDecimalMembers)
            list.push_back({name_of(member.prefix), FlightJsonKind::number});
        list.push_back({name_of(kTitlePrefix), FlightJsonKind::text});
        list.push_back({name_of(kTypePrefix), FlightJsonKind::text});
        return list;
    }();
    return keys;
}

std::string flight_json(const FlightData& sample, std::int64_t timestamp_ms) {
    std::string text;
    format_flight_json(text, sample, timestamp_ms);
    return text;
}

std::string status_json(bool connected, bool test_active, std::int64_t last_update) {
    std::string text;
    text.append(R"({"connected":)");
    append_flag(text, connected);
    text.append(R"(,"test_active":)");
    append_flag(text, test_active);
    text.append(R"(,"last_update":)");
    append_integer(text, last_update);
    text.push_back('}');
    return text;
}

}  // namespace velmar
