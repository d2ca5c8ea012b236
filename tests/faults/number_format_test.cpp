// The JSON writer's numbers are byte for byte what a classic-locale string
// stream writes in fixed notation with precision 2 (8 for latitude and
// longitude), over a million values: edge values, decimal ties and their
// neighbours, subnormals, 1e15 to 1e20, any finite bit pattern.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <locale>
#include <random>
#include <sstream>

#include "bridge/flight_json.h"

namespace velmar {
namespace {

class NumberFormat : public ::testing::Test {
protected:
    NumberFormat() { stream_.imbue(std::locale::classic()); }

    // One value through a two- and an eight-decimal member; reports the first few mismatches.
    void check(double value) {
        sample_.altitude = sample_.latitude = value;
        format_flight_json(json_, sample_, 0);
        const std::string_view two = member("\"altitude\":"), eight = member("\"latitude\":");
        if (two == reference(value, 2) && eight == reference(value, 8)) return;
        if (++failures_ <= 5) {
            ADD_FAILURE() << std::hexfloat << value << ": wrote " << two << " and " << eight << ", the stream "
                          << reference(value, 2) << " and " << reference(value, 8);
        }
    }

    std::string reference(double value, int precision) {
        stream_.str({});
        stream_ << std::fixed << std::setprecision(precision) << value;
        return stream_.str();
    }

    // The writer's text of a member: from after its key to the next separator.
    std::string_view member(std::string_view key) const {
        const std::size_t at = json_.find(key) + key.size();
        return std::string_view(json_).substr(at, json_.find_first_of(",}", at) - at);
    }

    FlightData sample_;
    std::string json_;
    std::ostringstream stream_;
    int failures_ = 0;
    std::mt19937_64 random_{0x5EED};
};

TEST_F(NumberFormat, EdgeValues) {
    std::istringstream values(
        "0 -0 0.5 -0.5 1.5 2.5 0.125 0.375 0.005 0.015 0.025 0.045 1.005 2.675 1.115 -0.004 -0.005 99.995 99.985 "
        "-0.0049999999999999 0.0050000000000001 1e-8 5e-9 4.9999999999e-9 1.5e-8 2.5e-8 0.000000025 999999.995 "
        "0x1p-1074 -0x1p-1074 0x1p-1022 -0x1p-1022 0x0.5555555555555p-1022 0x1.fffffffffffffp1023 "
        "-0x1.fffffffffffffp1023 1e15 1000000000000000.25 1e16 1e17 1e18 1e19 1e20 -1e20 9007199254740991 "
        "9007199254740992 9007199254740993 4503599627370495.5 4503599627370496.5 92233720368.54775807 "
        "91999999999.999999 92000000000.5 1.8446744073709552e19 1e21 1e22 1e100 1e300 3500.254 120.5 "
        "48.1234567891 271.3 659.03 47.43183333333333 11.939666666666668 0.1 0.2 0.3 0.7");
    for (std::string word; values >> word;) check(std::strtod(word.c_str(), nullptr));
}

// Exact decimal ties are where rounding rules differ: x.xx5 and x.xxxxxxxx5
// with the doubles on either side, and binary fractions of few bits.
TEST_F(NumberFormat, TiesAndTheirNeighbours) {
    const auto near = [&](double tie) {
        const auto side = random_() % 3;
        return side == 0 ? tie : std::nextafter(tie, side == 1 ? 1e300 : -1e300);
    };
    std::uniform_int_distribution<std::int64_t> cents(-2'000'000, 2'000'000), eighths(-20'000'000'000, 20'000'000'000);
    for (int i = 0; i < 150'000; ++i) check(near((static_cast<double>(cents(random_)) + 0.5) / 100.0));
    for (int i = 0; i < 150'000; ++i) check(near((static_cast<double>(eighths(random_)) + 0.5) / 1e8));
    std::uniform_int_distribution<std::int64_t> numerator(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
    std::uniform_int_distribution<int> power(1, 40);
    for (int i = 0; i < 100'000; ++i) check(std::ldexp(static_cast<double>(numerator(random_)), -power(random_)));
}

TEST_F(NumberFormat, BitPatternsSubnormalsLargeAndFlightValues) {
    for (int i = 0; i < 310'000; ++i) {
        const double value = std::bit_cast<double>(random_());
        if (std::isfinite(value)) check(value);
    }
    const auto sign = [&] { return random_() % 2 ? 1.0 : -1.0; };
    std::uniform_int_distribution<std::uint64_t> subnormal(1, (std::uint64_t{1} << 52) - 1);
    for (int i = 0; i < 50'000; ++i) check(sign() * std::bit_cast<double>(subnormal(random_)));
    std::uniform_real_distribution<double> exponent(15.0, 20.0), flight(-50'000.0, 50'000.0);
    for (int i = 0; i < 100'000; ++i) check(sign() * std::pow(10.0, exponent(random_)));
    for (int i = 0; i < 150'000; ++i) check(flight(random_));
}

}  // namespace
}  // namespace velmar
