#pragma once

// The one seam between the client library and the platform's sockets:
// socket_posix.cpp and socket_win32.cpp implement it, the build picks one.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velmar::standin::net {

using Socket = std::uintptr_t;
inline constexpr Socket kNoSocket = ~Socket{0};

enum class Family { IPv4, IPv6 };

// True where the simulator's local named pipe can be opened (Windows).
extern const bool kHasNamedPipes;

// A blocking TCP connection to host:port (a numeric address or a name, looked
// up in the given family), or kNoSocket when nothing answers within
// `timeout`. Sends are bounded by `send_timeout`.
Socket connect_tcp(const std::string& host, std::uint16_t port, Family family, std::chrono::milliseconds timeout,
                   std::chrono::milliseconds send_timeout);

// The named pipe `name` (\\.\pipe\...) as a stream with the same bytes as
// TCP; the functions below take either. kNoSocket where the pipe is absent or
// busy past `timeout`, and always where there are no named pipes.
Socket connect_pipe(const std::string& name, std::chrono::milliseconds timeout, std::chrono::milliseconds send_timeout);

// Sends everything or reports failure (peer gone, send timed out).
bool send_all(Socket socket, const std::uint8_t* data, std::size_t size);

// Blocks until some bytes arrive: their count, 0 at the peer's end, or -1 on error.
std::ptrdiff_t receive_some(Socket socket, std::uint8_t* data, std::size_t size);

// Waits until a receive would not block (bytes, the peer's end or an error);
// false when `timeout` passes first.
bool wait_readable(Socket socket, std::chrono::milliseconds timeout);

// Wakes a receive blocked on the socket; the socket stays open.
void shutdown_both(Socket socket);
void close_socket(Socket socket);

// Signals the wake SimConnect_Open was given (never 0): SetEvent on Windows;
// elsewhere an 8-byte 1 written to the descriptor, skipped when it would block.
void signal_wake(std::uintptr_t wake);

}  // namespace velmar::standin::net
