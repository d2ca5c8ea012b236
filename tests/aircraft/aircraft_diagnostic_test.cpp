#include "aircraft/aircraft_diagnostic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

TEST(AircraftDiagnostic, NumbersPrintUnsignedAndInDefaultFloatFormat) {
    struct Case {
        std::uint32_t integer;
        float value;
        std::string integer_line;
        std::string float_line;
    };
    const Case cases[] = {
        {4294967295U, 1.5F, "Integer Value: 4294967295\n", "Float Value: 1.5\n"},
        {7, 123456.7F, "Integer Value: 7\n", "Float Value: 123457\n"},
        {0, 0.1F, "Integer Value: 0\n", "Float Value: 0.1\n"},
        {0, -2.5e-7F, "Integer Value: 0\n", "Float Value: -2.5e-07\n"},
        {0, 1.0e7F, "Integer Value: 0\n", "Float Value: 1e+07\n"},
        {0, std::numeric_limits<float>::infinity(), "Integer Value: 0\n", "Float Value: inf\n"},
    };
    for (const Case& c : cases) {
        AircraftStateReport report;
        report.integer_value = c.integer;
        report.float_value = c.value;
        report.record_bytes = 4294967295U;
        const std::string record = format_aircraft_diagnostic(report, "t", "n");
        EXPECT_NE(record.find(c.integer_line), std::string::npos) << record;
        EXPECT_NE(record.find(c.float_line), std::string::npos) << record;
        EXPECT_NE(record.find("Data Size: 4294967295 bytes\n"), std::string::npos) << record;
    }
}

TEST(AircraftDiagnostic, EmptyPathGivesEmptyQuotesAndZeroLength) {
    const std::string record = format_aircraft_diagnostic({}, "t", "Unknown");
    EXPECT_NE(record.find("Full Path: ''\nLength: 0 characters\nExtracted Aircraft Name: 'Unknown'\n\n\n"),
              std::string::npos)
        << record;
}

}  // namespace
}  // namespace velmar
