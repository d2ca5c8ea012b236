// sim-standin's one thread: the poll loop, sockets, frames and broadcasts.

#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace velmar::standin {

namespace {

using Clock = std::chrono::steady_clock;

// A client that stops reading is dropped before its backlog eats the memory.
constexpr std::size_t kMaxBacklogBytes = 64u << 20;

void set_non_blocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

Server::Server(ServerOptions options, LineSink output, LineSink errors)
    : options_(std::move(options)), output_(std::move(output)), errors_(std::move(errors)) {
    const double rate = options_.rate_hz > 0 ? options_.rate_hz : 30;
    frame_period_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    if (frame_period_ <= Clock::duration::zero()) frame_period_ = Clock::duration{1};
    world_.aircraft_path = options_.aircraft_path;
    world_.rate_hz = rate;
}

Server::~Server() {
    for (auto& client : clients_) {
        if (client->fd >= 0) ::close(client->fd);
    }
    for (int fd : {listen_fd_, wake_read_, wake_write_}) {
        if (fd >= 0) ::close(fd);
    }
}

bool Server::start() {
    if (!options_.log_path.empty() && !log_.open(options_.log_path)) {
        errors_("sim-standin: cannot write the call log " + options_.log_path + ": " + std::strerror(errno));
        return false;
    }
    if (!options_.packet_log_path.empty() && !packet_log_.open(options_.packet_log_path)) {
        errors_("sim-standin: cannot write the packet log " + options_.packet_log_path + ": " + std::strerror(errno));
        return false;
    }
    if (!options_.script_path.empty()) {
        std::ifstream script(options_.script_path, std::ios::binary);
        if (!script) {
            errors_("sim-standin: cannot read the script " + options_.script_path);
            return false;
        }
        std::string line;
        while (std::getline(script, line)) pending_lines_.push_back(line);
    }

    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) {
        errors_(std::string("sim-standin: cannot create a pipe: ") + std::strerror(errno));
        return false;
    }
    wake_read_ = pipe_fds[0];
    wake_write_ = pipe_fds[1];
    set_non_blocking(wake_read_);
    set_non_blocking(wake_write_);
    ::fcntl(wake_read_, F_SETFD, FD_CLOEXEC);
    ::fcntl(wake_write_, F_SETFD, FD_CLOEXEC);

    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, 64) != 0) {
        errors_("sim-standin: cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " +
                std::strerror(errno));
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

void Server::add_control_input(int fd) { control_inputs_.push_back(ControlInput{fd, {}}); }

void Server::post_control(std::string line) {
    {
        std::lock_guard lock(posted_mutex_);
        posted_.push_back(std::move(line));
    }
    const char byte = 'c';
    [[maybe_unused]] const ssize_t written = ::write(wake_write_, &byte, 1);
}

void Server::request_stop() {
    stop_requested_.store(true);
    const char byte = 's';
    [[maybe_unused]] const ssize_t written = ::write(wake_write_, &byte, 1);
}

int Server::run() {
    output_("sim-standin listening on 127.0.0.1:" + std::to_string(port_));
    next_frame_ = Clock::now() + frame_period_;
    while (!stop_requested_.load()) {
        run_control_lines();
        if (exit_) break;
        serve_once();
    }
    // Like the simulator, say goodbye to every client before going away.
    const RecordBytes quit = quit_record();
    for (auto& client : clients_) {
        if (client->dropped) continue;
        if (client->listening()) send_record(*client, quit);
        if (client->dropped) continue;
        ::shutdown(client->fd, SHUT_RDWR);
        ::close(client->fd);
        client->fd = -1;
    }
    clients_.clear();
    return 0;
}

void Server::serve_once() {
    std::vector<pollfd> fds;
    fds.push_back({wake_read_, POLLIN, 0});
    fds.push_back({listen_fd_, POLLIN, 0});
    for (const auto& input : control_inputs_) fds.push_back({input.fd, POLLIN, 0});
    const std::size_t first_client = fds.size();
    for (const auto& client : clients_) {
        if (silent_) break;  // not even a hang-up is noticed until resume
        const bool backlog = client->out.size() > client->out_sent;
        fds.push_back({client->fd, static_cast<short>(POLLIN | (backlog ? POLLOUT : 0)), 0});
    }

    auto deadline = next_frame_;
    if (waiting_until_) deadline = std::min(deadline, *waiting_until_);
    const auto now = Clock::now();
    // Capped so that even a very slow frame rate cannot overflow poll's timeout.
    const auto wait = deadline > now ? std::min(std::chrono::ceil<std::chrono::milliseconds>(deadline - now),
                                                std::chrono::milliseconds(60000))
                                     : std::chrono::milliseconds::zero();
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
    if (ready < 0 && errno != EINTR) {
        errors_(std::string("sim-standin: poll failed: ") + std::strerror(errno));
        exit_ = true;
        return;
    }

    if (ready > 0) {
        if (fds[0].revents != 0) {
            char drain[64];
            while (::read(wake_read_, drain, sizeof drain) > 0) {
            }
        }
        if (fds[1].revents != 0) accept_clients();
        bool control_ready = false;
        for (std::size_t i = 0; i < control_inputs_.size(); ++i) control_ready |= fds[2 + i].revents != 0;
        if (control_ready) read_control_input();
        // Clients accepted just now are not in `fds`; they are polled next time.
        const std::size_t polled = fds.size() - first_client;
        for (std::size_t i = 0; i < polled; ++i) {
            Client& client = *clients_[i];
            const short events = fds[first_client + i].revents;
            if (client.dropped) continue;
            if ((events & POLLOUT) != 0) flush_client(client);
            if ((events & (POLLIN | POLLHUP | POLLERR)) != 0 && !client.dropped) read_client(client);
        }
    }

    if (Clock::now() >= next_frame_) {
        run_frame();
        next_frame_ += frame_period_;
        // After a stall, carry on at the normal pace rather than catching up in a burst.
        if (next_frame_ <= Clock::now()) next_frame_ = Clock::now() + frame_period_;
    }
    std::erase_if(clients_, [](const std::unique_ptr<Client>& client) { return client->dropped; });
}

void Server::accept_clients() {
    for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->number = ++connections_;
        clients_.push_back(std::move(client));
    }
}

void Server::read_client(Client& client) {
    bool gone = false;
    for (;;) {
        std::uint8_t buffer[64 * 1024];
        const ssize_t got = ::recv(client.fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (got <= 0) {
            gone = true;  // orderly or not; the calls that did arrive still count
            break;
        }
        client.in.insert(client.in.end(), buffer, buffer + got);
    }

    std::size_t used = 0;
    while (!client.dropped && !client.finished && !client.closing && client.in.size() - used >= 4) {
        const std::uint32_t size = protocol::read_u32(client.in.data() + used);
        if (size < protocol::kPacketHeaderBytes || size > protocol::kMaxPacketBytes) {
            drop(client, "a packet of " + std::to_string(size) + " bytes");
            return;
        }
        if (client.in.size() - used < size) break;
        handle_packet(client, client.in.data() + used, size);
        used += size;
    }
    if (!client.dropped) client.in.erase(client.in.begin(), client.in.begin() + static_cast<std::ptrdiff_t>(used));
    if (!gone || client.dropped) return;
    // A client that never said more than Open still made the call.
    if (client.state == Client::State::OpenPending) settle_open(client, std::nullopt);
    drop(client, {});
}

void Server::send_record(Client& client, const RecordBytes& record) {
    client.out.insert(client.out.end(), record.begin(), record.end());
    if (client.out.size() - client.out_sent > kMaxBacklogBytes) {
        drop(client, "it stopped reading");
        return;
    }
    flush_client(client);
}

void Server::flush_client(Client& client) {
    if (silent_) return;  // kept for resume
    while (!client.dropped && client.out_sent < client.out.size()) {
        const ssize_t sent = ::send(client.fd, client.out.data() + client.out_sent, client.out.size() - client.out_sent,
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (sent <= 0) {
            drop(client, {});
            return;
        }
        client.out_sent += static_cast<std::size_t>(sent);
    }
    if (client.dropped) return;
    client.out.clear();
    client.out_sent = 0;
    if (client.closing) drop(client, {});
}

void Server::drop(Client& client, std::string_view reason) {
    if (client.dropped) return;
    if (!reason.empty()) errors_("sim-standin: dropped a client: " + std::string(reason));
    client.dropped = true;
    ::close(client.fd);
    client.fd = -1;
}

namespace {

template <typename Table>
std::optional<std::int32_t> take(Table& table, protocol::Function function) {
    const auto found = table.find(function);
    if (found == table.end()) return std::nullopt;
    const std::int32_t result = found->second.result;
    if (found->second.remaining && --*found->second.remaining == 0) table.erase(found);
    return result;
}

}  // namespace

std::optional<std::int32_t> Server::take_failure(protocol::Function function) { return take(failures_, function); }

std::optional<std::uint32_t> Server::take_refusal(protocol::Function function) {
    const auto code = take(refusals_, function);
    if (!code) return std::nullopt;
    return static_cast<std::uint32_t>(*code);
}

void Server::run_frame() {
    ++world_.frame_count;
    if (!world_.frozen && !world_.paused())
        world_.aircraft.advance(std::chrono::duration<double>(frame_period_).count());
    if (silent_) return;  // a hung simulator sends no frames, then or later
    std::vector<RecordBytes> records;
    for (auto& client : clients_) {
        if (client->state != Client::State::Open || !client->listening()) continue;
        records.clear();
        client->session.frame(world_, records);
        for (const RecordBytes& record : records) send_record(*client, record);
    }
}

void Server::broadcast(const RecordBytes& record) {
    if (silent_) return;
    for (auto& client : clients_) {
        if (client->listening()) send_record(*client, record);
    }
}

void Server::broadcast_effect(const CallEffect& effect) {
    if (silent_) return;
    std::vector<RecordBytes> records;
    for (auto& client : clients_) {
        if (!client->listening()) continue;
        records.clear();
        if (effect.transmitted) client->session.notify(*effect.transmitted, effect.data, records);
        client->session.pause_changed(effect.modes_before, world_.pause_modes, records);
        for (const RecordBytes& record : records) send_record(*client, record);
    }
}

}  // namespace velmar::standin
