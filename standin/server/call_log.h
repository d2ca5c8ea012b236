#pragma once

// The call log: one line per call, flushed before the call is answered, so a
// test can read exactly what a client passed.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace velmar::standin {

// A string argument in double quotes with JSON escapes; `null` for a null pointer.
std::string log_string(const std::optional<std::string>& text);
// The shortest text that reads back to the same value ("0", "0.5", "9000", "nan").
std::string log_float(float value);
std::string log_double(double value);
// Lowercase hex of every byte; `null` for a null pointer.
std::string log_hex(const std::optional<std::string>& bytes);

class CallLog {
public:
    CallLog() = default;
    ~CallLog();
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // Truncates or creates the file; false when it cannot be opened.
    bool open(const std::string& path);
    void write_line(std::string_view line);

private:
    std::FILE* file_ = nullptr;
};

}  // namespace velmar::standin
