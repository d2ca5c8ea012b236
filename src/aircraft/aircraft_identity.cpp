// Aircraft name and type code: pure rules on the reported aircraft path.
#include "aircraft/aircraft_identity.h"

#include <array>

#include "platform/text.h"

namespace velmar {
namespace {

constexpr std::string_view kUnknownName = "Unknown";
constexpr std::string_view kSeparators = "\\/";
constexpr std::string_view kAsoboPrefix = "Asobo_";
constexpr std::string_view kFallbackTypeCode = "ACFT";
constexpr std::size_t kTypeCodeBytes = 4;

// The identity samples carry before an aircraft is known, and for the
// folder name "config", which names no aircraft.
constexpr std::string_view kUndetectedTitle = "MSFS 2024 Aircraft";
constexpr std::string_view kUndetectedType = "Connected";
constexpr std::string_view kConfigName = "config";

struct TypeRule {
    std::string_view pattern;  // searched in the upper-cased name
    std::string_view code;
};

// First match wins, so the longer or more specific patterns come first.
constexpr std::array<TypeRule, 9> kTypeRules = {{
    {"TBM", "TBM9"},
    {"TB90", "TB90"},
    {"A320", "A320"},
    {"B737", "B737"},
    {"737", "B737"},
    {"B747", "B747"},
    {"747", "B747"},
    {"C172", "C172"},
    {"172", "C172"},
}};

}  // namespace

std::string extract_aircraft_name(std::string_view path) {
    const std::size_t file_separator = path.find_last_of(kSeparators);
    if (file_separator == std::string_view::npos || file_separator == 0) {
        return std::string(kUnknownName);
    }
    const std::string_view directory = path.substr(0, file_separator);
    const std::size_t folder_separator = directory.find_last_of(kSeparators);
    if (folder_separator == std::string_view::npos) {
        return std::string(kUnknownName);
    }
    std::string_view folder = directory.substr(folder_separator + 1);
    if (folder.starts_with(kAsoboPrefix)) {
        folder.remove_prefix(kAsoboPrefix.size());
    }
    return std::string(folder);
}

std::string aircraft_type_code(std::string_view name) {
    const std::string upper = platform::to_upper_ascii(name);
    for (const TypeRule& rule : kTypeRules) {
        if (upper.find(rule.pattern) != std::string::npos) {
            return std::string(rule.code);
        }
    }
    if (upper.size() < kTypeCodeBytes) {
        return std::string(kFallbackTypeCode);
    }
    return upper.substr(0, kTypeCodeBytes);
}

AircraftIdentity sample_identity(std::string_view aircraft_name) {
    if (aircraft_name.empty() || aircraft_name == kConfigName) {
        return {std::string(kUndetectedTitle), std::string(kUndetectedType)};
    }
    return {std::string(aircraft_name), aircraft_type_code(aircraft_name)};
}

}  // namespace velmar
