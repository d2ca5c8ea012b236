#include "aircraft/aircraft_identity.h"

#include <gtest/gtest.h>

#include <string>

namespace velmar {
namespace {

using namespace std::string_literals;

struct NameCase {
    std::string path;
    std::string name;
};

TEST(ExtractAircraftName, TakesTheFolderThatHoldsTheFile) {
    const NameCase cases[] = {
        {R"(X:\planes\Asobo_Demo737\aircraft.cfg)", "Demo737"},
        {"X:/planes/my_tb90_mod/aircraft.cfg", "my_tb90_mod"},
        {R"(X:\planes\Glider\aircraft.cfg)", "Glider"},
        {R"(SimObjects\Airplanes\Asobo_C172SP_Classic\aircraft.CFG)", "C172SP_Classic"},
        {R"(SimObjects/Airplanes\Mixed Separators/aircraft.cfg)", "Mixed Separators"},
        {R"(a\b)", "Unknown"},                                   // one separator only
        {"aircraft.cfg", "Unknown"},                             // no separator
        {R"(planes\aircraft.cfg)", "Unknown"},                   // one separator only
        {"", "Unknown"},                                         // empty
        {R"(\aircraft.cfg)", "Unknown"},                         // empty directory part
        {R"(\\aircraft.cfg)", ""},                               // empty folder between two separators
        {R"(X:\planes\\aircraft.cfg)", ""},                      // two separators before the file
        {R"(X:\planes\Asobo_\aircraft.cfg)", ""},                // nothing after the prefix
        {R"(X:\planes\asobo_Demo\aircraft.cfg)", "asobo_Demo"},  // prefix is case-sensitive
        {R"(X:\planes\Asobo_Asobo_X\aircraft.cfg)", "Asobo_X"},  // stripped once
        {R"(X:\planes\Asob\aircraft.cfg)", "Asob"},
        {R"(X:\planes\My Plane.v2 \aircraft.cfg)", "My Plane.v2 "},  // no trimming, dots kept
        {R"(X:\planes\Glider\)", "Glider"},                          // trailing separator: empty file name
        {"/", "Unknown"},
        {"//", ""},
        {"x/\xC3\xA9t\xC3\xA9/f", "\xC3\xA9t\xC3\xA9"},  // bytes pass unchanged
        {"a/with\0zero/f"s, "with\0zero"s},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(extract_aircraft_name(c.path), c.name) << "path: " << c.path;
    }
}

struct TypeCase {
    std::string name;
    std::string code;
};

TEST(AircraftTypeCode, FirstMatchingPatternOrFirstFourBytes) {
    const TypeCase cases[] = {
        {"Demo737", "B737"},   {"my_tb90_mod", "TB90"}, {"Glider", "GLID"},
        {"TBM930", "TBM9"},    {"tbm a320", "TBM9"},  // both patterns: the first row wins
        {"A320 TBM", "TBM9"},  {"TB900", "TB90"},       {"a320neo", "A320"},
        {"FBW_A320", "A320"},  {"B737-800", "B737"},    {"PMDG 737", "B737"},
        {"b747-8", "B747"},    {"Salty747", "B747"},    {"C172SP_Classic", "C172"},
        {"Cessna172", "C172"}, {"A3200", "A320"},       {"7374", "B737"},  // "737" before "747"
        {"B74", "ACFT"},       {"AB", "ACFT"},          {"", "ACFT"},
        {"abc", "ACFT"},       {"Unknown", "UNKN"},     {"Config", "CONF"},
        {"abcd", "ABCD"},      {"  x y", "  X "},       {"\xC3\xA9tude", "\xC3\xA9TU"},  // only a to z change
        {"Zz9_Q", "ZZ9_"},
    };
    for (const TypeCase& c : cases) {
        EXPECT_EQ(aircraft_type_code(c.name), c.code) << "name: " << c.name;
    }
}

struct IdentityCase {
    std::string name;
    std::string title;
    std::string type;
};

TEST(SampleIdentity, UndetectedNamesReportTheConnectedPlaceholder) {
    const IdentityCase cases[] = {
        {"", "MSFS 2024 Aircraft", "Connected"},
        {"config", "MSFS 2024 Aircraft", "Connected"},
        {"Config", "Config", "CONF"},
        {"CONFIG", "CONFIG", "CONF"},
        {"config ", "config ", "CONF"},
        {"Unknown", "Unknown", "UNKN"},
        {"C172SP_Classic", "C172SP_Classic", "C172"},
        {"AB", "AB", "ACFT"},
    };
    for (const IdentityCase& c : cases) {
        const AircraftIdentity identity = sample_identity(c.name);
        EXPECT_EQ(identity.title, c.title) << "name: " << c.name;
        EXPECT_EQ(identity.type, c.type) << "name: " << c.name;
    }
}

}  // namespace
}  // namespace velmar
