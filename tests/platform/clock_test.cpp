#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/environment.h"

namespace velmar::platform {
namespace {

class LocalTime : public testing::Test {
protected:
    void SetUp() override { saved_ = read_environment("TZ"); }
    void TearDown() override {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    std::optional<std::string> saved_;
};

// 1700000000 is 2023-11-14 22:13:20 UTC.
TEST_F(LocalTime, FormatsInTheCurrentZone) {
    struct Row {
        const char* zone;
        std::int64_t seconds;
        const char* pattern;
        const char* expected;
    };
    const Row rows[] = {
        {"UTC0", 0, "%Y-%m-%d %H:%M:%S", "1970-01-01 00:00:00"},
        {"UTC0", 1700000000, "%Y%m%d_%H%M%S", "20231114_221320"},
        // Two hours east of UTC: the next calendar day.
        {"EET-2", 1700000000, "%Y%m%d_%H%M%S", "20231115_001320"},
        // Five hours west, across a year boundary.
        {"EST5", 1704070800, "%Y-%m-%d %H:%M:%S", "2023-12-31 20:00:00"},
        {"UTC0", 1700000000, "%a %b %d", "Tue Nov 14"},
        {"UTC0", 1700000000, "no conversions", "no conversions"},
    };
    // Each row changes TZ first: the zone must be read anew on every call.
    for (const Row& row : rows) {
        setenv("TZ", row.zone, 1);
        EXPECT_EQ(format_local_time(row.seconds, row.pattern), row.expected) << row.zone << " " << row.seconds;
    }
}

}  // namespace
}  // namespace velmar::platform
