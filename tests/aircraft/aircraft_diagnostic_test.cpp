#include "aircraft/aircraft_diagnostic.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(AircraftDiagnostic, RecordIsFourteenLinesByteExact) {
    AircraftStateReport report;
    report.record_bytes = 284;
    report.request_id = 3;
    report.integer_value = 0;
    report.float_value = 0.0F;
    report.path = R"(SimObjects\Airplanes\Asobo_C172\aircraft.cfg)";

    EXPECT_EQ(format_aircraft_diagnostic(report, "2026-12-06 09:05:03", "C172"),
              "\n"
              "=== AIRCRAFT SYSTEM STATE ===\n"
              "Timestamp: 2026-12-06 09:05:03\n"
              "Data Size: 284 bytes\n"
              "Request ID: 3\n"
              "Integer Value: 0\n"
              "Float Value: 0\n"
              "\n"
              "Aircraft File Path:\n"
              "Full Path: 'SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg'\n"
              "Length: 44 characters\n"
              "Extracted Aircraft Name: 'C172'\n"
              "\n"
              "\n");
}

TEST(AircraftDiagnostic, NumbersAreUnsignedAndFloatsInTheDefaultFormat) {
    const std::pair<float, std::string> floats[] = {
        {1.5F, "1.5"}, {123456.7F, "123457"}, {0.1F, "0.1"}, {-2.5e-7F, "-2.5e-07"}, {1.0e7F, "1e+07"},
    };
    for (const auto& [value, text] : floats) {
        const std::string record =
            format_aircraft_diagnostic({4294967295U, 4294967295U, 4294967295U, value, ""}, "t", "n");
        EXPECT_NE(record.find("Data Size: 4294967295 bytes\nRequest ID: 4294967295\nInteger Value: 4294967295\n"
                              "Float Value: " +
                              text + "\n"),
                  std::string::npos)
            << record;
    }
}

}  // namespace
}  // namespace velmar
