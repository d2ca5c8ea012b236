// The times of a recording: its start from its file name, and ISO 8601 text.
#include "export/recording_time.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <system_error>

namespace velmar {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month, day;
};

Civil civil_from_days(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned mp = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2), month, day};
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool read_digits(std::string_view text, unsigned& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool all_digits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return !text.empty();
}

}  // namespace

std::string_view file_name_of(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::optional<LocalTime> recording_start(std::string_view path) {
    constexpr std::string_view kPrefix = "flight_data_";
    constexpr std::string_view kSuffix = ".json";
    std::string_view name = file_name_of(path);
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return std::nullopt;
    name = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    if (name.size() < 15 || name[8] != '_' || !all_digits(name.substr(0, 8)) || !all_digits(name.substr(9, 6))) {
        return std::nullopt;
    }
    if (name.size() > 15 && (name[15] != '_' || !all_digits(name.substr(16)))) return std::nullopt;
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    read_digits(name.substr(0, 4), year);
    read_digits(name.substr(4, 2), month);
    read_digits(name.substr(6, 2), day);
    read_digits(name.substr(9, 2), hour);
    read_digits(name.substr(11, 2), minute);
    read_digits(name.substr(13, 2), second);
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const std::int64_t days = days_from_civil(year, month, day);
    if (civil_from_days(days).day != day) return std::nullopt;  // 31 April and the like
    return LocalTime{days * 86400 + hour * 3600 + minute * 60 + second};
}

std::string iso_time(LocalTime start, std::int64_t offset_ms) {
    // Far beyond any recording; keeps the sum from overflowing.
    constexpr std::int64_t kLimitMs = std::int64_t{1} << 52;
    offset_ms = std::max(-kLimitMs, std::min(offset_ms, kLimitMs));
    const std::int64_t total_ms = start.seconds * 1000 + offset_ms;
    const std::int64_t days = floor_div(total_ms, 86'400'000);
    const std::int64_t ms_of_day = total_ms - days * 86'400'000;
    const Civil date = civil_from_days(days);
    char buffer[64];
    const int size =
        std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lld",
                      static_cast<long long>(date.year), date.month, date.day,
                      static_cast<long long>(ms_of_day / 3'600'000), static_cast<long long>(ms_of_day / 60'000 % 60),
                      static_cast<long long>(ms_of_day / 1000 % 60), static_cast<long long>(ms_of_day % 1000));
    return std::string(buffer, static_cast<std::size_t>(size));
}

}  // namespace velmar
