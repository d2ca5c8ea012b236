// Aircraft name and type code from any path the simulator may report, checked
// against a plain restatement of the rules, and the identity samples carry.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "aircraft/aircraft_identity.h"

namespace {

std::string expected_name(std::string_view path) {
    std::size_t file_separator = path.find_last_of("\\/");
    if (file_separator == std::string_view::npos || file_separator == 0) return "Unknown";
    std::string_view directory = path.substr(0, file_separator);
    std::size_t folder_separator = directory.find_last_of("\\/");
    if (folder_separator == std::string_view::npos) return "Unknown";
    std::string_view name = directory.substr(folder_separator + 1);
    if (name.starts_with("Asobo_")) name.remove_prefix(6);
    return std::string(name);
}

std::string expected_code(std::string_view name) {
    std::string upper(name);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    constexpr std::string_view kRows[][2] = {{"TBM", "TBM9"},  {"TB90", "TB90"}, {"A320", "A320"},
                                             {"B737", "B737"}, {"737", "B737"},  {"B747", "B747"},
                                             {"747", "B747"},  {"C172", "C172"}, {"172", "C172"}};
    for (const auto& row : kRows) {
        if (upper.find(row[0]) != std::string::npos) return std::string(row[1]);
    }
    return upper.size() < 4 ? "ACFT" : upper.substr(0, 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view path(reinterpret_cast<const char*>(data), size);

    std::string name = velmar::extract_aircraft_name(path);
    if (name != expected_name(path)) __builtin_trap();

    std::string code = velmar::aircraft_type_code(name);
    if (code != expected_code(name)) __builtin_trap();
    // Any bytes at all may be a name, not only extracted ones.
    if (velmar::aircraft_type_code(path) != expected_code(path)) __builtin_trap();

    velmar::AircraftIdentity identity = velmar::sample_identity(name);
    bool placeholder = name.empty() || name == "config";
    if (placeholder && (identity.title != "MSFS 2024 Aircraft" || identity.type != "Connected")) __builtin_trap();
    if (!placeholder && (identity.title != name || identity.type != code)) __builtin_trap();
    return 0;
}
