#pragma once

// The call log: one line per call, flushed before the call is answered, so a
// test can read exactly what a client passed. The packet log: every packet
// as it arrived, in hex.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "protocol.h"

namespace velmar::standin {

// A string argument in double quotes with JSON escapes; `null` for a null pointer.
std::string log_string(const std::optional<std::string>& text);
std::string log_string(const protocol::Text& text);
// The shortest text that reads back to the same value ("0", "0.5", "9000", "nan").
std::string log_float(float value);
std::string log_double(double value);
// Lowercase hex of every byte; `null` for a null pointer.
std::string log_hex(const std::optional<std::string>& bytes);

// A call's arguments as the call log shows them, separated by blanks.
std::string log_arguments(const protocol::Call& call);

// Lines to a file, each flushed as it is written; nothing when not opened.
class LineFile {
public:
    LineFile() = default;
    ~LineFile();
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    // Truncates or creates the file; false when it cannot be opened.
    bool open(const std::string& path);
    void write_line(std::string_view line);
    bool is_open() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
};

using CallLog = LineFile;

// `<connection number> <hex of the packet>` per packet.
class PacketLog {
public:
    bool open(const std::string& path) { return file_.open(path); }
    void write(std::uint64_t connection, const std::uint8_t* packet, std::size_t size);

private:
    LineFile file_;
};

}  // namespace velmar::standin
