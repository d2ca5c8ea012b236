// The console: whole lines queued for one writer thread, and key reads.
#pragma once

#include <chrono>
#include <cstdio>
#include <string_view>

namespace velmar::platform {

// Each call queues one whole line and returns at once; one writer thread
// writes the queued lines in order, each flushed as soon as the console takes
// it. So no thread of the bridge ever waits for the console (a pipe nobody
// reads, a console window held by a selection). While the queue is full new
// lines are dropped and counted; once the console takes lines again, one line
// on standard error says how many.
void print_line(std::string_view text);
void print_error_line(std::string_view text);

// Waits up to `limit` until every queued line has been written; false when
// the console did not take them in time (the caller then leaves without them).
bool drain_console(std::chrono::milliseconds limit);

// At start, before anything is opened: a closed standard input, output or
// error is opened on the null device, so no file or connection opened later
// takes its number and receives the console's lines. (Windows needs nothing:
// a standard handle that is not valid is simply not written to.)
void open_closed_standard_handles();

// A broken pipe on standard output (its reader went away) fails the writes
// instead of ending the process: the bridge's real outputs are its files.
void ignore_broken_pipe_signal();

// Waits for one key press without echo and without waiting for ENTER and
// returns its code (ESC is 27). When no key can ever be read (standard input
// at its end, or no console at all) it returns 27, so no caller waits forever.
// A key that sends two codes (arrows, function keys) gives a prefix code now
// and its second code at the next call, as the Windows console does; so an
// arrow key on a POSIX terminal never reads as ESC. Call from one thread.
int read_key();

inline constexpr int kEscapeKey = 27;

namespace console_detail {

// Writes `line` (its line end included) to `stream` and flushes it; blocks
// while the console does not take it. False when the write failed.
bool write_line_now(std::FILE* stream, std::string_view line);

// Starts the writer thread so that no interrupt signal is ever delivered to
// it; false when no thread could be started.
bool start_writer_thread(void (*body)());

}  // namespace console_detail

}  // namespace velmar::platform
