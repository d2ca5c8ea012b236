#include "aircraft/aircraft_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace velmar {
namespace {

using namespace std::string_literals;
using Case = std::pair<std::string, std::string>;

TEST(ExtractAircraftName, TakesTheFolderThatHoldsTheFile) {
    const Case cases[] = {
        {R"(X:\planes\Asobo_Demo737\aircraft.cfg)", "Demo737"},
        {"X:/planes/my_tb90_mod/aircraft.cfg", "my_tb90_mod"},
        {R"(X:\planes\Glider\aircraft.cfg)", "Glider"},
        {R"(SimObjects/Airplanes\Mixed Separators/aircraft.cfg)", "Mixed Separators"},
        {"", "Unknown"},
        {"aircraft.cfg", "Unknown"},                                 // no separator
        {R"(planes\aircraft.cfg)", "Unknown"},                       // one separator only
        {R"(\aircraft.cfg)", "Unknown"},                             // empty directory part
        {R"(\\aircraft.cfg)", ""},                                   // empty folder between two separators
        {R"(X:\planes\\aircraft.cfg)", ""},                          // two separators before the file
        {R"(X:\planes\Asobo_\aircraft.cfg)", ""},                    // nothing after the prefix
        {R"(X:\planes\asobo_Demo\aircraft.cfg)", "asobo_Demo"},      // prefix is case-sensitive
        {R"(X:\planes\Asobo_Asobo_X\aircraft.cfg)", "Asobo_X"},      // stripped once
        {R"(X:\planes\My Plane.v2 \aircraft.cfg)", "My Plane.v2 "},  // no trimming, dots kept
        {R"(X:\planes\Glider\)", "Glider"},                          // trailing separator: empty file name
        {"a/with\0zero \xC3\xA9/f"s, "with\0zero \xC3\xA9"s},        // bytes pass unchanged
    };
    for (const auto& [path, name] : cases) {
        EXPECT_EQ(extract_aircraft_name(path), name) << "path: " << path;
    }
}

// The first row of the pattern table wins wherever it stands; only a to z
// change case. Each row also checks the sample identity: the name as title,
// its code as type.
TEST(AircraftTypeCode, FirstMatchingPatternOrFirstFourBytes) {
    const Case cases[] = {
        {"Demo737", "B737"},  {"my_tb90_mod", "TB90"}, {"Glider", "GLID"},    {"TBM930", "TBM9"},
        {"tbm a320", "TBM9"}, {"A320 TBM", "TBM9"},    {"TB900", "TB90"},     {"a320neo", "A320"},
        {"B737-800", "B737"}, {"PMDG 737", "B737"},    {"b747-8", "B747"},    {"Salty747", "B747"},
        {"7374", "B737"},     {"C172SP", "C172"},      {"Cessna172", "C172"}, {"B74", "ACFT"},
        {"AB", "ACFT"},       {"Unknown", "UNKN"},     {"abcd", "ABCD"},      {"  x y", "  X "},
        {"Config", "CONF"},   {"CONFIG", "CONF"},      {"config ", "CONF"},   {"\xC3\xA9tude", "\xC3\xA9TU"},
    };
    for (const auto& [name, code] : cases) {
        EXPECT_EQ(aircraft_type_code(name), code) << "name: " << name;
        const AircraftIdentity identity = sample_identity(name);
        EXPECT_EQ(identity.title, name);
        EXPECT_EQ(identity.type, code) << "name: " << name;
    }
    EXPECT_EQ(aircraft_type_code(""), "ACFT");
    for (const char* undetected : {"", "config"}) {
        EXPECT_EQ(sample_identity(undetected).title, "MSFS 2024 Aircraft");
        EXPECT_EQ(sample_identity(undetected).type, "Connected");
    }
}

}  // namespace
}  // namespace velmar
