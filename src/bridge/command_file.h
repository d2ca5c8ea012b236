// The command file's pure rules: its first line, and how a command is echoed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmar {

// The longest first line taken from the command file. A longer one is cut to
// this length (and so is an unknown command): a huge file without a line end
// can neither exhaust memory nor wedge the command loop.
inline constexpr std::size_t kMaxCommandLineBytes = 4096;

// The UTF-8 byte-order mark some Windows editors put before the text.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Bytes to read from the start of the file to decide the first line: a
// byte-order mark, the longest line, its CR LF, and one byte to tell "ends
// here" from "goes on".
inline constexpr std::size_t kCommandReadBytes = kByteOrderMark.size() + kMaxCommandLineBytes + 2;

// The first line of `head`, the first bytes of the command file (at most
// kCommandReadBytes of them; fewer means the file ends there). A leading
// byte-order mark is skipped. The line runs to the first LF, or to the end of
// the file; the CR of a CR LF pair is not part of it; nothing is trimmed. A line longer than kMaxCommandLineBytes
// comes back cut to that length.
std::string first_command_line(std::string_view head);

// `line` fit for a terminal: control codes written as \xNN (see
// platform::escape_control_bytes), so a command file cannot send control
// sequences to the user's console.
std::string printable_command(std::string_view line);

}  // namespace velmar
