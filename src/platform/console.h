#pragma once

#include <string_view>

namespace velmar::platform {

// Each call writes one whole line and its line end, then flushes, so lines of
// different threads never tear.
void print_line(std::string_view text);
void print_error_line(std::string_view text);

// Waits for one key press without echo and without waiting for ENTER and
// returns its code (ESC is 27). When no key can ever be read (standard input
// at its end, or no console at all) it returns 27, so no caller waits forever.
// A key that sends two codes (arrows, function keys) gives a prefix code now
// and its second code at the next call, as the Windows console does; so an
// arrow key on a POSIX terminal never reads as ESC. Call from one thread.
int read_key();

inline constexpr int kEscapeKey = 27;

}  // namespace velmar::platform
