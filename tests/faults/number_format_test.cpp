// The JSON writer's numbers, byte for byte the text a classic-locale string
// stream gives in fixed notation with precision 2 (8 for latitude and
// longitude), over a million values: random bit patterns, decimal ties and
// their neighbours, -0.0, subnormals, the range 1e15 to 1e20 where doubles
// stop having fractional bits, and magnitudes up to the largest double.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/flight_json.h"

namespace velmar::test {
namespace {

class StreamReference {
public:
    StreamReference() { stream_.imbue(std::locale::classic()); }
    std::string format(double value, int precision) {
        stream_.str(std::string());
        stream_.clear();
        stream_ << std::fixed << std::setprecision(precision) << value;
        return stream_.str();
    }

private:
    std::ostringstream stream_;
};

// The writer's text of a member: from after its key to the next separator.
std::string_view member(std::string_view json, std::string_view key) {
    std::size_t at = json.find(key);
    if (at == std::string_view::npos) return {};
    at += key.size();
    return json.substr(at, json.find_first_of(",}", at) - at);
}

class NumberFormat : public ::testing::Test {
protected:
    // Checks one value in a two-decimal member and an eight-decimal member;
    // returns false (after one failure message) on a mismatch.
    bool check(double value) {
        sample_.altitude = value;
        sample_.latitude = value;
        format_flight_json(json_, sample_, 0);
        std::string two = reference_.format(value, 2);
        std::string eight = reference_.format(value, 8);
        std::string_view got_two = member(json_, "\"altitude\":");
        std::string_view got_eight = member(json_, "\"latitude\":");
        if (got_two == two && got_eight == eight) return true;
        ADD_FAILURE() << "value " << std::hexfloat << value << std::defaultfloat << " (bits 0x" << std::hex
                      << std::bit_cast<std::uint64_t>(value) << std::dec << "): precision 2 wrote " << got_two
                      << ", stream " << two << "; precision 8 wrote " << got_eight << ", stream " << eight;
        return false;
    }

    // Runs `count` values from `next`, stopping after a few failures.
    template <typename Next>
    void check_many(std::size_t count, Next&& next) {
        int failures = 0;
        for (std::size_t i = 0; i < count && failures < 5; ++i) failures += check(next()) ? 0 : 1;
    }

    FlightData sample_;
    std::string json_;
    StreamReference reference_;
    std::mt19937_64 random_{0x5EED};
};

TEST_F(NumberFormat, EdgeValues) {
    const double kMin = std::numeric_limits<double>::min();
    const double kTrueMin = std::numeric_limits<double>::denorm_min();
    const double kMax = std::numeric_limits<double>::max();
    const std::vector<double> values = {0.0,
                                        -0.0,
                                        0.5,
                                        -0.5,
                                        1.5,
                                        2.5,
                                        0.125,
                                        0.375,
                                        0.005,
                                        0.015,
                                        0.025,
                                        0.045,
                                        1.005,
                                        2.675,
                                        1.115,
                                        -0.004,
                                        -0.005,
                                        -0.0049999999999999,
                                        0.0050000000000001,
                                        1e-8,
                                        5e-9,
                                        4.9999999999e-9,
                                        1.5e-8,
                                        2.5e-8,
                                        0.000000015,
                                        kTrueMin,
                                        -kTrueMin,
                                        kMin,
                                        -kMin,
                                        kMin / 3,
                                        1e15,
                                        1e15 + 0.25,
                                        1e16,
                                        1e17,
                                        1e18,
                                        1e19,
                                        1e20,
                                        -1e20,
                                        9007199254740991.0,
                                        9007199254740992.0,
                                        9007199254740993.0,
                                        4503599627370495.5,
                                        4503599627370496.5,
                                        92233720368.54775807,
                                        9.2e10,
                                        9.2e10 - 0.000001,
                                        9.2e10 + 0.5,
                                        1.8446744073709552e19,
                                        1e21,
                                        1e22,
                                        1e100,
                                        1e300,
                                        kMax,
                                        -kMax,
                                        3500.254,
                                        120.5,
                                        48.1234567891,
                                        11.5,
                                        271.3,
                                        -250.0,
                                        659.03,
                                        47.43183333333333,
                                        11.939666666666668,
                                        0.1,
                                        0.2,
                                        0.3,
                                        0.7,
                                        99.995,
                                        99.985,
                                        999999.995,
                                        0.00000001,
                                        0.000000005,
                                        0.000000025};
    for (double value : values) check(value);
}

// Exact decimal ties are where rounding rules differ: k/2^n with few bits,
// and the doubles on either side of every x.xx5 and x.xxxxxxxx5.
TEST_F(NumberFormat, TiesAndTheirNeighbours) {
    std::uniform_int_distribution<std::int64_t> whole(-2'000'000, 2'000'000);
    check_many(150'000, [&] {
        double tie = (static_cast<double>(whole(random_)) + 0.5) / 100.0;
        switch (random_() % 3) {
            case 0:
                return tie;
            case 1:
                return std::nextafter(tie, 1e300);
            default:
                return std::nextafter(tie, -1e300);
        }
    });
    std::uniform_int_distribution<std::int64_t> small(-20'000'000'000, 20'000'000'000);
    check_many(150'000, [&] {
        double tie = (static_cast<double>(small(random_)) + 0.5) / 1e8;
        switch (random_() % 3) {
            case 0:
                return tie;
            case 1:
                return std::nextafter(tie, 1e300);
            default:
                return std::nextafter(tie, -1e300);
        }
    });
    // Binary fractions with few bits: exact ties at both precisions.
    std::uniform_int_distribution<std::int64_t> numerator(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
    std::uniform_int_distribution<int> power(1, 40);
    check_many(100'000, [&] { return std::ldexp(static_cast<double>(numerator(random_)), -power(random_)); });
}

TEST_F(NumberFormat, RandomBitPatternsAndRanges) {
    // Any finite double: every exponent equally likely.
    check_many(300'000, [&] {
        double value;
        do {
            value = std::bit_cast<double>(random_());
        } while (!std::isfinite(value));
        return value;
    });
    // Subnormals.
    std::uniform_int_distribution<std::uint64_t> subnormal(1, (std::uint64_t{1} << 52) - 1);
    check_many(50'000, [&] {
        double value = std::bit_cast<double>(subnormal(random_));
        return random_() % 2 ? value : -value;
    });
    // 1e15 to 1e20: from the last fractional bits to integers beyond 64 bits.
    std::uniform_real_distribution<double> exponent(15.0, 20.0);
    check_many(100'000, [&] {
        double value = std::pow(10.0, exponent(random_));
        return random_() % 2 ? value : -value;
    });
    // The values a flight gives: altitudes, speeds, headings, coordinates.
    std::uniform_real_distribution<double> flight(-50'000.0, 50'000.0);
    check_many(150'000, [&] { return flight(random_); });
}

TEST_F(NumberFormat, NonFiniteValuesAreNull) {
    for (double value : {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        sample_.altitude = value;
        sample_.longitude = value;
        format_flight_json(json_, sample_, 0);
        EXPECT_EQ(member(json_, "\"altitude\":"), "null");
        EXPECT_EQ(member(json_, "\"longitude\":"), "null");
    }
}

}  // namespace
}  // namespace velmar::test
