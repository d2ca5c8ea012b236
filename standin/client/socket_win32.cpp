#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <mutex>

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

}  // namespace

Socket connect_loopback(std::uint16_t port, std::chrono::milliseconds timeout, std::chrono::milliseconds send_timeout) {
    if (!start_winsock()) return kNoSocket;
    const SOCKET native = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (native == INVALID_SOCKET) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // Non-blocking only while connecting: Windows retries a refused loopback
    // connect for about two seconds, longer than Open may take.
    u_long non_blocking = 1;
    ::ioctlsocket(native, static_cast<long>(FIONBIO), &non_blocking);
    int result = ::connect(native, reinterpret_cast<const sockaddr*>(&address), sizeof address);
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

bool send_all(Socket socket, const std::uint8_t* data, std::size_t size) {
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
    const int chunk = size > 0x10000000 ? 0x10000000 : static_cast<int>(size);
    const int got = ::recv(to_native(socket), reinterpret_cast<char*>(data), chunk, 0);
    return got < 0 ? -1 : static_cast<std::ptrdiff_t>(got);
}

bool wait_readable(Socket socket, std::chrono::milliseconds timeout) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(to_native(socket), &readable);
    timeval limit{};
    limit.tv_sec = static_cast<long>(timeout.count() / 1000);
    limit.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
    return ::select(0, &readable, nullptr, nullptr, &limit) != 0;
}

void shutdown_both(Socket socket) { ::shutdown(to_native(socket), SD_BOTH); }

void close_socket(Socket socket) { ::closesocket(to_native(socket)); }

std::optional<std::string> environment_value(const char* name) {
#ifdef _MSC_VER
    char* value = nullptr;
    std::size_t length = 0;
    if (_dupenv_s(&value, &length, name) != 0 || value == nullptr) return std::nullopt;
    std::string copy(value);
    std::free(value);
    return copy;
#else
    // mingw's msvcrt import library lacks _dupenv_s.
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
#endif
}

}  // namespace velmar::standin::net
