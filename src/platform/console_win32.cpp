// The console on Windows: writes, key reads, standard handles.
#include <conio.h>

#include <system_error>
#include <thread>

#include "platform/console.h"

namespace velmar::platform {

namespace console_detail {

// The C runtime's text mode turns the line feed into CR LF. The console's
// modes (QuickEdit among them) stay the user's: a selection held in the
// window stalls only the writer thread.
bool write_line_now(std::FILE* stream, std::string_view line) {
    const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
    return std::fflush(stream) == 0 && written;
}

bool start_writer_thread(void (*body)()) {
    try {
        // Detached: it lives as long as the process and may be blocked in a
        // write to a console that never takes it.
        std::thread(body).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

}  // namespace console_detail

void ignore_broken_pipe_signal() {}

void open_closed_standard_handles() {}

int read_key() {
    // _getch fails at once when the process has no console; a caller that
    // waits for the user then reads ESC instead of spinning.
    const int code = _getch();
    return code < 0 ? kEscapeKey : code;
}

}  // namespace velmar::platform
