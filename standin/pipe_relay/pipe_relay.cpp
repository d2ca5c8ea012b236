// pipe-relay: serves the simulator's local named pipe and forwards its bytes
// both ways to a SimConnect server on a TCP port of this machine, so that a
// Windows client's pipe transport can be tested (under Wine) against the
// native sim-standin.
//
//   pipe-relay [--split N] PORT [PIPE]
//
// PIPE defaults to the simulator's pipe name. --split N writes what comes
// from the server in pieces of at most N bytes, so that records reach the
// client cut up.
//
// It prints "pipe-relay serving PIPE" once the pipe exists, then serves one
// client at a time until it is killed.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr const char* kDefaultPipe = "\\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect";
constexpr DWORD kBufferBytes = 64 * 1024;

// One client: its pipe end, its TCP connection, and `stop`, which the
// TCP side sets when it ends so that the pipe side's read gives up.
struct Session {
    HANDLE pipe;
    SOCKET tcp;
    HANDLE stop;
    DWORD piece_bytes;  // largest write to the pipe
};

// Waits for an overlapped pipe operation; false when it failed or `stop` came first.
bool finish(const Session& session, OVERLAPPED& operation, DWORD& transferred) {
    const HANDLE events[2] = {operation.hEvent, session.stop};
    if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ::CancelIoEx(session.pipe, &operation);
        ::GetOverlappedResult(session.pipe, &operation, &transferred, TRUE);
        return false;
    }
    return ::GetOverlappedResult(session.pipe, &operation, &transferred, FALSE) != FALSE;
}

bool start_io(BOOL started) { return started != FALSE || ::GetLastError() == ERROR_IO_PENDING; }

void pipe_to_tcp(const Session& session) {
    char buffer[kBufferBytes];
    OVERLAPPED operation{};
    operation.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        DWORD got = 0;
        ::ResetEvent(operation.hEvent);
        if (!start_io(::ReadFile(session.pipe, buffer, sizeof buffer, nullptr, &operation))) break;
        if (!finish(session, operation, got) || got == 0) break;
        if (::send(session.tcp, buffer, static_cast<int>(got), 0) != static_cast<int>(got)) break;
    }
    ::shutdown(session.tcp, SD_BOTH);  // ends the other direction too
    ::CloseHandle(operation.hEvent);
}

void tcp_to_pipe(const Session& session) {
    char buffer[kBufferBytes];
    OVERLAPPED operation{};
    operation.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        const int got = ::recv(session.tcp, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        bool sent = true;
        for (DWORD done = 0; sent && done < static_cast<DWORD>(got);) {
            const DWORD piece = std::min(session.piece_bytes, static_cast<DWORD>(got) - done);
            DWORD written = 0;
            ::ResetEvent(operation.hEvent);
            sent = start_io(::WriteFile(session.pipe, buffer + done, piece, nullptr, &operation)) &&
                   finish(session, operation, written) && written == piece;
            done += piece;
        }
        if (!sent) break;
    }
    ::SetEvent(session.stop);
    ::CloseHandle(operation.hEvent);
}

SOCKET connect_tcp(std::uint16_t port) {
    const SOCKET tcp = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (tcp != INVALID_SOCKET && ::connect(tcp, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        BOOL on = TRUE;
        ::setsockopt(tcp, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        return tcp;
    }
    if (tcp != INVALID_SOCKET) ::closesocket(tcp);
    return INVALID_SOCKET;
}

// Waits for a client on `pipe`, then relays until either side ends.
void serve(HANDLE pipe, std::uint16_t port, DWORD piece_bytes) {
    OVERLAPPED operation{};
    operation.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool connected = ::ConnectNamedPipe(pipe, &operation) != FALSE || ::GetLastError() == ERROR_PIPE_CONNECTED;
    if (!connected && ::GetLastError() == ERROR_IO_PENDING) {
        DWORD unused = 0;
        connected = ::GetOverlappedResult(pipe, &operation, &unused, TRUE) != FALSE;
    }
    ::CloseHandle(operation.hEvent);
    const SOCKET tcp = connected ? connect_tcp(port) : INVALID_SOCKET;
    if (tcp != INVALID_SOCKET) {
        const Session session{pipe, tcp, ::CreateEventA(nullptr, TRUE, FALSE, nullptr), piece_bytes};
        std::thread upstream([&] { pipe_to_tcp(session); });
        tcp_to_pipe(session);
        upstream.join();
        ::CloseHandle(session.stop);
        ::closesocket(tcp);
    }
    ::FlushFileBuffers(pipe);
    ::DisconnectNamedPipe(pipe);
}

}  // namespace

// A whole decimal number from 1 to `largest`, or 0.
unsigned number(const char* text, unsigned largest) {
    unsigned value = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    return error == std::errc{} && stop == end && value <= largest ? value : 0;
}

int main(int argc, char** argv) {
    int next = 1;
    unsigned piece_bytes = kBufferBytes;
    if (argc >= 3 && std::strcmp(argv[1], "--split") == 0) {
        piece_bytes = number(argv[2], kBufferBytes);
        next = 3;
    }
    const unsigned port = next < argc ? number(argv[next], 65535) : 0;
    if (piece_bytes == 0 || port == 0 || argc - next > 2) {
        std::fprintf(stderr, "usage: pipe-relay [--split N] PORT [PIPE]\n");
        return 2;
    }
    const std::string name = argc - next == 2 ? argv[next + 1] : kDefaultPipe;
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;

    bool announced = false;
    for (;;) {
        const HANDLE pipe = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kBufferBytes,
                                               kBufferBytes, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "pipe-relay: cannot create %s (error %lu)\n", name.c_str(), ::GetLastError());
            return 1;
        }
        if (!announced) {
            std::printf("pipe-relay serving %s\n", name.c_str());
            std::fflush(stdout);
            announced = true;
        }
        serve(pipe, static_cast<std::uint16_t>(port), piece_bytes);
        ::CloseHandle(pipe);
    }
}
