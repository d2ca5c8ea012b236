// The console on POSIX: writes, key reads, standard handles.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <system_error>
#include <thread>

#include "platform/console.h"

namespace velmar::platform {

namespace {

// A terminal sends the whole sequence of an arrow or function key in one
// write, so its bytes after ESC are there at once; a lone ESC has none.
constexpr int kEscapeSequenceWaitMilliseconds = 30;
// What the Windows console reports first for a key that sends two codes.
constexpr int kExtendedKeyPrefix = 224;
// Signals whose default action ends the process while the terminal is raw.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
constexpr std::size_t kEndingSignalCount = sizeof(kEndingSignals) / sizeof(kEndingSignals[0]);

// The terminal settings to put back; written before the temporary handlers
// are installed, only read by them.
termios saved_terminal;

// A code owed to the next read (-1: none): the second code of a key press,
// or a key read ahead while looking for a sequence.
int pending_code = -1;

void restore_terminal_and_reraise(int signal_number) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// One byte, or -1 at the end of input or on an error.
int read_byte(int fd) {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t count = read(fd, &byte, 1);
        if (count == 1) {
            return byte;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return -1;
    }
}

bool byte_follows(int fd) {
    pollfd request{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = poll(&request, 1, kEscapeSequenceWaitMilliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (request.revents & POLLIN) != 0;
}

// Reads one key press in raw mode. A key that sends an escape sequence
// (ESC [ ... or ESC O x) is reported like the Windows console does it: a
// prefix code now, and the sequence's last byte at the next read. So an arrow
// key is never mistaken for ESC.
int read_terminal_key(int fd) {
    const int code = read_byte(fd);
    if (code != kEscapeKey || !byte_follows(fd)) {
        return code;
    }
    int last = read_byte(fd);
    if (last != '[' && last != 'O') {
        // ESC and then another key typed ahead: ESC, and that key next.
        pending_code = last;
        return kEscapeKey;
    }
    const bool control_sequence = last == '[';
    while (byte_follows(fd)) {
        last = read_byte(fd);
        const bool final_byte = last >= 0x40 && last <= 0x7E;
        if (last < 0 || !control_sequence || final_byte) {
            break;
        }
    }
    pending_code = last;
    return kExtendedKeyPrefix;
}

// Raw mode without echo for one key. ISIG stays on, so Ctrl+C still
// interrupts; temporary handlers put the terminal back before the signal's
// default action ends the process.
int read_key_from_terminal(int fd, const termios& original) {
    termios raw = original;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;

    saved_terminal = original;
    struct sigaction restore {};
    restore.sa_handler = restore_terminal_and_reraise;
    sigemptyset(&restore.sa_mask);
    struct sigaction previous[kEndingSignalCount] {};
    bool replaced[kEndingSignalCount] = {};
    for (std::size_t i = 0; i < kEndingSignalCount; ++i) {
        // Only over the default action: an ignored signal stays ignored.
        if (sigaction(kEndingSignals[i], nullptr, &previous[i]) == 0 && previous[i].sa_handler == SIG_DFL) {
            replaced[i] = sigaction(kEndingSignals[i], &restore, nullptr) == 0;
        }
    }

    // TCSANOW keeps keys typed ahead.
    const bool raw_mode = tcsetattr(fd, TCSANOW, &raw) == 0;
    const int code = read_terminal_key(fd);
    if (raw_mode) {
        tcsetattr(fd, TCSANOW, &original);
    }

    for (std::size_t i = 0; i < kEndingSignalCount; ++i) {
        if (replaced[i]) {
            sigaction(kEndingSignals[i], &previous[i], nullptr);
        }
    }
    return code;
}

}  // namespace

namespace console_detail {

// One write per line, so a line never tears on a pipe; no stdio buffer, so an
// exit while the console is stalled finds nothing left to flush.
bool write_line_now(std::FILE* stream, std::string_view line) {
    const int fd = fileno(stream);
    while (!line.empty()) {
        const ssize_t written = write(fd, line.data(), line.size());
        if (written > 0) {
            line.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Someone made the descriptor non-blocking: wait as a blocking write would.
            pollfd request{fd, POLLOUT, 0};
            poll(&request, 1, -1);
            continue;
        }
        return false;
    }
    return true;
}

bool start_writer_thread(void (*body)()) {
    // Started with the asynchronous signals blocked, so that none is ever
    // delivered to it: interrupts reach the threads meant to handle them, and
    // a broken pipe fails the write (EPIPE) rather than ending the process.
    sigset_t blocked;
    sigfillset(&blocked);
    for (const int synchronous : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) {
        sigdelset(&blocked, synchronous);
    }
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    bool started = true;
    try {
        // Detached: it lives as long as the process and may be blocked in a
        // write to a console that never takes it.
        std::thread(body).detach();
    } catch (const std::system_error&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

}  // namespace console_detail

void ignore_broken_pipe_signal() { std::signal(SIGPIPE, SIG_IGN); }

int read_key() {
    if (pending_code >= 0) {
        const int code = pending_code;
        pending_code = -1;
        return code;
    }
    termios original{};
    const int code = tcgetattr(STDIN_FILENO, &original) == 0 ? read_key_from_terminal(STDIN_FILENO, original)
                                                             : read_byte(STDIN_FILENO);
    return code < 0 ? kEscapeKey : code;
}

void open_closed_standard_handles() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // The lowest free number is this one, as the lower ones are open by now.
        const int null_device = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null_device >= 0 && null_device != fd) {
            dup2(null_device, fd);
            close(null_device);
        }
    }
}

}  // namespace velmar::platform
