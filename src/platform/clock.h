// Wall clock, monotonic clock and local time.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace velmar::platform {

// Whole seconds since 1970-01-01 UTC.
std::int64_t wall_clock_seconds();

// `seconds` since the epoch as local calendar time; none when out of range.
std::optional<std::tm> local_time(std::int64_t seconds);

// `seconds` since the epoch as local calendar time, formatted with strftime's
// `pattern` in the classic locale; empty when out of range. Use only the C89
// conversions (%Y %m %d %H %M %S and the like): the Windows C runtime knows no
// others.
std::string format_local_time(std::int64_t seconds, const char* pattern);

}  // namespace velmar::platform
