// The socket seam on POSIX: TCP, and the event-handle wake as a descriptor.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "socket.h"

namespace velmar::standin::net {

namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a vanished peer must not raise SIGPIPE in the client's process
#else
constexpr int kSendFlags = 0;
#endif

int to_fd(Socket socket) { return static_cast<int>(socket); }

bool wait_connected(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

Socket connect_address(const addrinfo& address, std::chrono::milliseconds timeout,
                       std::chrono::milliseconds send_timeout) {
    const int fd = ::socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
#ifdef SO_NOSIGPIPE
    int on_pipe = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on_pipe, sizeof on_pipe);
#endif
    // Non-blocking only while connecting, so the wait for an answer is bounded.
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int result = ::connect(fd, address.ai_addr, address.ai_addrlen);
    if (result != 0 && (errno == EINPROGRESS || errno == EINTR)) result = wait_connected(fd, timeout) ? 0 : -1;
    if (result != 0) {
        ::close(fd);
        return kNoSocket;
    }
    ::fcntl(fd, F_SETFL, flags);

    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval limit{};
    limit.tv_sec = static_cast<decltype(limit.tv_sec)>(send_timeout.count() / 1000);
    limit.tv_usec = static_cast<decltype(limit.tv_usec)>((send_timeout.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return static_cast<Socket>(fd);
}

}  // namespace

const bool kHasNamedPipes = false;

Socket connect_tcp(const std::string& host, std::uint16_t port, Family family, std::chrono::milliseconds timeout,
                   std::chrono::milliseconds send_timeout) {
    addrinfo hints{};
    hints.ai_family = family == Family::IPv6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return kNoSocket;
    Socket socket = kNoSocket;
    for (const addrinfo* address = found; address != nullptr && socket == kNoSocket; address = address->ai_next) {
        socket = connect_address(*address, timeout, send_timeout);
    }
    ::freeaddrinfo(found);
    return socket;
}

Socket connect_pipe(const std::string&, std::chrono::milliseconds, std::chrono::milliseconds) { return kNoSocket; }

bool send_all(Socket socket, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(to_fd(socket), data, size, kSendFlags);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

std::ptrdiff_t receive_some(Socket socket, std::uint8_t* data, std::size_t size) {
    for (;;) {
        const ssize_t got = ::recv(to_fd(socket), data, size, 0);
        if (got < 0 && errno == EINTR) continue;
        return got < 0 ? -1 : static_cast<std::ptrdiff_t>(got);
    }
}

bool wait_readable(Socket socket, std::chrono::milliseconds timeout) {
    pollfd entry{to_fd(socket), POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

void shutdown_both(Socket socket) { ::shutdown(to_fd(socket), SHUT_RDWR); }

void close_socket(Socket socket) { ::close(to_fd(socket)); }

void signal_wake(std::uintptr_t wake) {
    // A pipe the reader has not drained must not stall the receiver: write only when there is room.
    const int fd = static_cast<int>(wake);
    pollfd entry{fd, POLLOUT, 0};
    if (::poll(&entry, 1, 0) != 1 || (entry.revents & POLLOUT) == 0) return;
    const std::uint64_t one = 1;
    ssize_t written = 0;
    do {
        written = ::write(fd, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
}

}  // namespace velmar::standin::net
