// The socket seam on Windows: Winsock TCP, the simulator's named pipe, and the event-handle wake.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "socket.h"

namespace velmar::standin::net {

namespace {

SOCKET to_native(Socket socket) { return static_cast<SOCKET>(socket); }

// Winsock stays started for the life of the process: connections may be
// opened and closed many times, and cleanup at exit is the system's job.
bool start_winsock() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data{};
        started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

bool wait_connected(SOCKET socket, std::chrono::milliseconds timeout) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{};
    limit.tv_sec = static_cast<long>(timeout.count() / 1000);
    limit.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
    if (::select(0, nullptr, &writable, &failed, &limit) <= 0) return false;
    if (FD_ISSET(socket, &failed)) return false;
    int error = 0;
    int length = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

Socket connect_address(const addrinfo& address, std::chrono::milliseconds timeout,
                       std::chrono::milliseconds send_timeout) {
    const SOCKET native = ::socket(address.ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (native == INVALID_SOCKET) return kNoSocket;

    // Non-blocking only while connecting: Windows retries a refused loopback
    // connect for about two seconds, longer than Open may take.
    u_long non_blocking = 1;
    ::ioctlsocket(native, static_cast<long>(FIONBIO), &non_blocking);
    int result = ::connect(native, address.ai_addr, static_cast<int>(address.ai_addrlen));
    if (result != 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) result = wait_connected(native, timeout) ? 0 : -1;
    if (result != 0) {
        ::closesocket(native);
        return kNoSocket;
    }
    non_blocking = 0;
    ::ioctlsocket(native, static_cast<long>(FIONBIO), &non_blocking);

    BOOL on = TRUE;
    ::setsockopt(native, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    const DWORD limit = static_cast<DWORD>(send_timeout.count());
    ::setsockopt(native, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    return static_cast<Socket>(native);
}

// A named-pipe client end. Its I/O is overlapped so that shutdown_both can
// wake a blocked read without racing it, a send can time out, and a wait for
// bytes can end at a deadline: one read at a time is kept in flight into
// `inbox`, and receives hand out what it brought.
struct PipeStream {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr;  // manual reset; set by shutdown_both
    DWORD send_timeout_ms = INFINITE;

    // The receiving thread's alone.
    HANDLE read_done = nullptr;
    OVERLAPPED read{};
    bool read_pending = false;
    std::vector<std::uint8_t> inbox = std::vector<std::uint8_t>(64 * 1024);
    std::size_t inbox_begin = 0;
    std::size_t inbox_end = 0;
    int ended = 0;  // 0 open, 1 the peer's end, -1 an error or a shutdown

    std::mutex write_mutex;       // one overlapped write at a time
    HANDLE write_done = nullptr;  // guarded by write_mutex
};

// Kernel handles and sockets are multiples of four, so a set low bit marks a
// PipeStream pointer.
constexpr Socket kPipeTag = 1;

PipeStream* as_pipe(Socket socket) {
    if (socket == kNoSocket || (socket & kPipeTag) == 0) return nullptr;
    return reinterpret_cast<PipeStream*>(socket & ~kPipeTag);
}

void close_pipe(PipeStream* pipe) {
    if (pipe->read_pending) {
        DWORD ignored = 0;
        ::CancelIoEx(pipe->handle, &pipe->read);
        ::GetOverlappedResult(pipe->handle, &pipe->read, &ignored, TRUE);
    }
    for (HANDLE event : {pipe->stop, pipe->read_done, pipe->write_done}) {
        if (event != nullptr) ::CloseHandle(event);
    }
    if (pipe->handle != INVALID_HANDLE_VALUE) ::CloseHandle(pipe->handle);
    delete pipe;
}

// Waits up to `timeout_ms` for `operation`: 1 done, 0 still running, -1
// cancelled because `stop` was set.
int wait_overlapped(PipeStream& pipe, OVERLAPPED& operation, DWORD timeout_ms) {
    const HANDLE events[2] = {operation.hEvent, pipe.stop};
    const DWORD woken = ::WaitForMultipleObjects(2, events, FALSE, timeout_ms);
    if (woken == WAIT_OBJECT_0) return 1;
    if (woken == WAIT_TIMEOUT) return 0;
    DWORD ignored = 0;
    ::CancelIoEx(pipe.handle, &operation);
    ::GetOverlappedResult(pipe.handle, &operation, &ignored, TRUE);
    return -1;
}

bool send_pipe(PipeStream& pipe, const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(pipe.write_mutex);
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        OVERLAPPED operation{};
        operation.hEvent = pipe.write_done;
        if (!::WriteFile(pipe.handle, data, chunk, nullptr, &operation) && ::GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        const int done = wait_overlapped(pipe, operation, pipe.send_timeout_ms);
        DWORD written = 0;
        if (done == 0) {  // the peer reads nothing: give the write up
            ::CancelIoEx(pipe.handle, &operation);
            ::GetOverlappedResult(pipe.handle, &operation, &written, TRUE);
            return false;
        }
        if (done < 0 || !::GetOverlappedResult(pipe.handle, &operation, &written, FALSE) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Waits up to `timeout_ms` until the inbox holds bytes or the pipe ended;
// false when the time passed first.
bool fill_inbox(PipeStream& pipe, DWORD timeout_ms) {
    while (pipe.inbox_begin == pipe.inbox_end && pipe.ended == 0) {
        if (!pipe.read_pending) {
            pipe.read = OVERLAPPED{};
            pipe.read.hEvent = pipe.read_done;
            const BOOL started =
                ::ReadFile(pipe.handle, pipe.inbox.data(), static_cast<DWORD>(pipe.inbox.size()), nullptr, &pipe.read);
            const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
            if (!started && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
                pipe.ended = error == ERROR_BROKEN_PIPE ? 1 : -1;
                break;
            }
            pipe.read_pending = true;
        }
        const int done = wait_overlapped(pipe, pipe.read, timeout_ms);
        if (done == 0) return false;
        pipe.read_pending = false;
        if (done < 0) {
            pipe.ended = -1;
            break;
        }
        DWORD got = 0;
        // A message-mode pipe reports the rest of a long message as more data.
        if (!::GetOverlappedResult(pipe.handle, &pipe.read, &got, FALSE) && ::GetLastError() != ERROR_MORE_DATA) {
            pipe.ended = ::GetLastError() == ERROR_BROKEN_PIPE ? 1 : -1;
            break;
        }
        pipe.inbox_begin = 0;
        pipe.inbox_end = got;
    }
    return true;
}

bool wait_pipe_readable(PipeStream& pipe, DWORD timeout_ms) { return fill_inbox(pipe, timeout_ms); }

std::ptrdiff_t receive_pipe(PipeStream& pipe, std::uint8_t* data, std::size_t size) {
    fill_inbox(pipe, INFINITE);
    if (pipe.inbox_begin == pipe.inbox_end) return pipe.ended > 0 ? 0 : -1;
    const std::size_t count = std::min(size, pipe.inbox_end - pipe.inbox_begin);
    std::memcpy(data, pipe.inbox.data() + pipe.inbox_begin, count);
    pipe.inbox_begin += count;
    return static_cast<std::ptrdiff_t>(count);
}

}  // namespace

const bool kHasNamedPipes = true;

Socket connect_tcp(const std::string& host, std::uint16_t port, Family family, std::chrono::milliseconds timeout,
                   std::chrono::milliseconds send_timeout) {
    if (!start_winsock()) return kNoSocket;
    addrinfo hints{};
    hints.ai_family = family == Family::IPv6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return kNoSocket;
    Socket socket = kNoSocket;
    for (const addrinfo* address = found; address != nullptr && socket == kNoSocket; address = address->ai_next) {
        socket = connect_address(*address, timeout, send_timeout);
    }
    ::freeaddrinfo(found);
    return socket;
}

Socket connect_pipe(const std::string& name, std::chrono::milliseconds timeout,
                    std::chrono::milliseconds send_timeout) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != INVALID_HANDLE_VALUE) break;
        // Busy: every instance serves another client; wait for one to free up.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (::GetLastError() != ERROR_PIPE_BUSY || left.count() <= 0) return kNoSocket;
        ::WaitNamedPipeA(name.c_str(), static_cast<DWORD>(left.count()));
    }
    auto* pipe = new PipeStream;
    pipe->handle = handle;
    pipe->send_timeout_ms = static_cast<DWORD>(send_timeout.count());
    pipe->stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    pipe->read_done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    pipe->write_done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (pipe->stop == nullptr || pipe->read_done == nullptr || pipe->write_done == nullptr) {
        close_pipe(pipe);
        return kNoSocket;
    }
    return reinterpret_cast<Socket>(pipe) | kPipeTag;
}

bool send_all(Socket socket, const std::uint8_t* data, std::size_t size) {
    if (PipeStream* pipe = as_pipe(socket)) return send_pipe(*pipe, data, size);
    while (size > 0) {
        const int chunk = size > 0x10000000 ? 0x10000000 : static_cast<int>(size);
        const int sent = ::send(to_native(socket), reinterpret_cast<const char*>(data), chunk, 0);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

std::ptrdiff_t receive_some(Socket socket, std::uint8_t* data, std::size_t size) {
    if (PipeStream* pipe = as_pipe(socket)) return receive_pipe(*pipe, data, size);
    const int chunk = size > 0x10000000 ? 0x10000000 : static_cast<int>(size);
    const int got = ::recv(to_native(socket), reinterpret_cast<char*>(data), chunk, 0);
    return got < 0 ? -1 : static_cast<std::ptrdiff_t>(got);
}

bool wait_readable(Socket socket, std::chrono::milliseconds timeout) {
    if (PipeStream* pipe = as_pipe(socket)) return wait_pipe_readable(*pipe, static_cast<DWORD>(timeout.count()));
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(to_native(socket), &readable);
    timeval limit{};
    limit.tv_sec = static_cast<long>(timeout.count() / 1000);
    limit.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
    return ::select(0, &readable, nullptr, nullptr, &limit) != 0;
}

void shutdown_both(Socket socket) {
    if (PipeStream* pipe = as_pipe(socket)) {
        ::SetEvent(pipe->stop);
        return;
    }
    ::shutdown(to_native(socket), SD_BOTH);
}

void close_socket(Socket socket) {
    if (PipeStream* pipe = as_pipe(socket)) {
        close_pipe(pipe);
        return;
    }
    ::closesocket(to_native(socket));
}

void signal_wake(std::uintptr_t wake) { ::SetEvent(reinterpret_cast<HANDLE>(wake)); }

}  // namespace velmar::standin::net
