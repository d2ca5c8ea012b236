// The JSON writer's numbers are byte for byte a classic-locale string stream's
// in fixed notation, precision 2 (8 for latitude), over a million values: edge
// values, ties and their neighbours, subnormals, 1e15 to 1e20, any double.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <random>
#include <sstream>

#include "bridge/flight_json.h"

namespace velmar {
namespace {

TEST(NumberFormat, AMillionValuesAsAStringStreamWritesThem) {
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << std::fixed;
    const auto fixed = [&](double value, int precision) {
        stream.str({});
        stream << std::setprecision(precision) << value;
        return stream.str();
    };
    FlightData sample;
    std::string json;
    int failures = 0;
    const auto check = [&](double value) {
        sample.altitude = sample.latitude = value;
        format_flight_json(json, sample, 0);
        const std::string two = "\"altitude\":" + fixed(value, 2) + ",",
                          eight = "\"latitude\":" + fixed(value, 8) + ",";
        if ((json.find(two) == std::string::npos || json.find(eight) == std::string::npos) && ++failures <= 5) {
            ADD_FAILURE() << std::hexfloat << value << ": " << json << " lacks " << two << " or " << eight;
        }
    };
    std::istringstream edges(
        "0 -0 0.5 -0.5 1.5 2.5 0.125 0.005 0.015 0.025 1.005 2.675 -0.005 99.995 -0.0049999999999999 5e-9 1.5e-8 "
        "2.5e-8 "
        "0x1p-1074 -0x1p-1074 0x1p-1022 0x0.5555555555555p-1022 0x1.fffffffffffffp1023 1e15 1000000000000000.25 1e16 "
        "1e17 1e18 1e19 1e20 -1e20 9007199254740993 4503599627370496.5 92233720368.54775807 1e21 1e300");
    for (std::string word; edges >> word;) check(std::strtod(word.c_str(), nullptr));

    std::mt19937_64 random(0x5EED);
    const auto sign = [&] { return random() % 2 ? 1.0 : -1.0; };
    const auto near = [&](double tie) {  // the tie or a neighbour on either side
        const auto side = random() % 3;
        return side == 0 ? tie : std::nextafter(tie, side == 1 ? 1e300 : -1e300);
    };
    std::uniform_int_distribution<std::int64_t> cents(-2'000'000, 2'000'000), eighths(-20'000'000'000, 20'000'000'000),
        numerator(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
    std::uniform_int_distribution<int> power(1, 40);
    std::uniform_int_distribution<std::uint64_t> subnormal(1, (std::uint64_t{1} << 52) - 1);
    std::uniform_real_distribution<double> exponent(15.0, 20.0), flight(-50'000.0, 50'000.0);
    for (int i = 0; i < 100'000; ++i) {
        check(near((static_cast<double>(cents(random)) + 0.5) / 100.0));  // ties are where rounding rules differ
        check(near((static_cast<double>(eighths(random)) + 0.5) / 1e8));
        check(std::ldexp(static_cast<double>(numerator(random)), -power(random)));
        check(sign() * std::bit_cast<double>(subnormal(random)));
        check(sign() * std::pow(10.0, exponent(random)));
        check(flight(random));
        for (int j = 0; j < 5; ++j) {
            const double any = std::bit_cast<double>(random());
            if (std::isfinite(any)) check(any);
        }
    }
}

}  // namespace
}  // namespace velmar
