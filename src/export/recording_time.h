// The times of a recording: its start from its file name, and ISO 8601 text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmar {

// A moment on the recording machine's wall clock, as its file name gives it.
struct LocalTime {
    std::int64_t seconds = 0;  // since 1970-01-01 00:00:00 of that clock
};

// The start time of a recording from its file name (any folder before it):
// flight_data_<YYYYmmdd_HHMMSS>[_N].json; nullopt for any other name.
std::optional<LocalTime> recording_start(std::string_view path);

// ISO 8601 without a zone, milliseconds included: "2025-03-14T09:30:05.200".
std::string iso_time(LocalTime start, std::int64_t offset_ms);

// The recording's file name without its folder.
std::string_view file_name_of(std::string_view path);

}  // namespace velmar
