// Reading a test recording back: its lines, parsed as written, and its times.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "export/recording_time.h"

namespace velmar {

inline constexpr std::size_t kRecordedKeyCount = 25;

// One recording line. `text` holds each member's value in the order of
// flight_json_keys(): numbers and flags as the line spells them, strings
// decoded, a null number as the empty string.
struct RecordedSample {
    std::array<std::string, kRecordedKeyCount> text;
    std::array<std::optional<double>, kRecordedKeyCount> numbers;  // read once, as the line is checked
    std::int64_t timestamp_ms = 0;

    const std::string& operator[](std::string_view key) const;
    // The number under `key`; nullopt when it was null.
    std::optional<double> number(std::string_view key) const;
};

// Fills `sample` from one line (no line end) and returns an empty string, or
// says what is wrong. Only the exact member list of a recording line is a
// sample; blanks between tokens are allowed.
std::string parse_recording_line(std::string_view line, RecordedSample& sample);

// Reads a recording line by line in constant memory. A last line that has no
// line end and is no sample was cut short by a crash mid-write: it is
// skipped, and torn_line() names it.
class RecordingReader {
public:
    // Empty when the file opened; else the reason.
    std::string open(const std::string& path);
    // The next sample; false at the end or on a bad line (then error() says why).
    bool next(RecordedSample& sample);
    const std::string& error() const { return error_; }
    std::size_t line_number() const { return line_number_; }
    std::size_t torn_line() const { return torn_line_; }  // 0: none

private:
    std::ifstream in_;
    std::string line_;
    std::string error_;
    std::size_t line_number_ = 0;
    std::size_t torn_line_ = 0;
};

}  // namespace velmar
