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
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <type_traits>

namespace velmar::standin {

namespace {

using Clock = std::chrono::steady_clock;

// A client that stops reading is dropped before its backlog eats the memory.
constexpr std::size_t kMaxBacklogBytes = 64u << 20;
constexpr std::size_t kInitPositionBytes = sizeof(SIMCONNECT_DATA_INITPOSITION);

enum class SystemEvent { Sim, Pause, Paused, Unpaused, SimStart, SimStop };

struct SystemEventName {
    std::string_view name;
    SystemEvent event;
};

constexpr SystemEventName kSystemEvents[] = {
    {"SIM", SystemEvent::Sim},           {"PAUSE", SystemEvent::Pause},       {"PAUSED", SystemEvent::Paused},
    {"UNPAUSED", SystemEvent::Unpaused}, {"SIMSTART", SystemEvent::SimStart}, {"SIMSTOP", SystemEvent::SimStop},
};

// Simulator events that do something here; any name with a '.' (custom) or
// starting with '#' (third-party id), and the empty name (private), are
// accepted and do nothing.
constexpr std::string_view kSimEvents[] = {
    "PAUSE_TOGGLE", "PAUSE_ON", "PAUSE_OFF", "PAUSE_SET", "ACTIVE_PAUSE_TOGGLE", "SIM_PAUSE_TOGGLE",
};

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

std::optional<SystemEvent> find_system_event(const std::optional<std::string>& name) {
    if (!name) return std::nullopt;
    const std::string wanted = upper(*name);
    for (const auto& entry : kSystemEvents) {
        if (entry.name == wanted) return entry.event;
    }
    return std::nullopt;
}

bool known_sim_event(const std::string& name) {
    if (name.empty() || name.front() == '#' || name.find('.') != std::string::npos) return true;
    return std::find(std::begin(kSimEvents), std::end(kSimEvents), name) != std::end(kSimEvents);
}

std::size_t datum_size(DWORD type) {
    switch (type) {
        case SIMCONNECT_DATATYPE_INT32:
        case SIMCONNECT_DATATYPE_FLOAT32:
            return 4;
        case SIMCONNECT_DATATYPE_INT64:
        case SIMCONNECT_DATATYPE_FLOAT64:
            return 8;
        case SIMCONNECT_DATATYPE_INITPOSITION:
            return kInitPositionBytes;
        default:
            return 0;
    }
}

template <typename Integer>
Integer saturate(double value) {
    if (!std::isfinite(value)) return 0;
    constexpr auto low = static_cast<double>(std::numeric_limits<Integer>::min());
    constexpr auto high = static_cast<double>(std::numeric_limits<Integer>::max());
    if (value <= low) return std::numeric_limits<Integer>::min();
    if (value >= high) return std::numeric_limits<Integer>::max();
    return static_cast<Integer>(value);
}

template <typename Value>
void append_bytes(std::string& out, const Value& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename Value>
Value read_bytes(const char* data) {
    Value value{};
    std::memcpy(&value, data, sizeof value);
    return value;
}

template <typename Record>
Record make_record(SIMCONNECT_RECV_ID id) {
    static_assert(std::is_trivially_copyable_v<Record>);
    Record record{};
    record.dwSize = sizeof(Record);
    record.dwVersion = wire::kRecordVersion;
    record.dwID = static_cast<DWORD>(id);
    return record;
}

template <typename Record>
std::vector<std::uint8_t> bytes_of(const Record& record) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(&record);
    return std::vector<std::uint8_t>(first, first + sizeof(Record));
}

std::vector<std::uint8_t> exception_record(DWORD code, DWORD send_id, DWORD index) {
    auto record = make_record<SIMCONNECT_RECV_EXCEPTION>(SIMCONNECT_RECV_ID_EXCEPTION);
    record.dwException = code;
    record.dwSendID = send_id;
    record.dwIndex = index;
    return bytes_of(record);
}

std::vector<std::uint8_t> event_record(DWORD event_id, DWORD data) {
    auto record = make_record<SIMCONNECT_RECV_EVENT>(SIMCONNECT_RECV_ID_EVENT);
    record.uGroupID = SIMCONNECT_RECV_EVENT::UNKNOWN_GROUP;
    record.uEventID = event_id;
    record.dwData = data;
    return bytes_of(record);
}

std::vector<std::uint8_t> system_state_record(DWORD request_id, DWORD integer, std::string_view text) {
    auto record = make_record<SIMCONNECT_RECV_SYSTEM_STATE>(SIMCONNECT_RECV_ID_SYSTEM_STATE);
    record.dwRequestID = request_id;
    record.dwInteger = integer;
    // A path of exactly MAX_PATH bytes fills the field with no terminating zero, as in the SDK.
    std::memcpy(record.szString, text.data(), std::min<std::size_t>(text.size(), sizeof record.szString));
    return bytes_of(record);
}

std::vector<std::uint8_t> open_record() {
    auto record = make_record<SIMCONNECT_RECV_OPEN>(SIMCONNECT_RECV_ID_OPEN);
    std::strncpy(record.szApplicationName, "sim-standin", sizeof record.szApplicationName - 1);
    record.dwApplicationVersionMajor = 1;
    record.dwSimConnectVersionMajor = 11;
    return bytes_of(record);
}

std::vector<std::uint8_t> data_record(DWORD request_id, DWORD define_id, DWORD flags, DWORD count,
                                      const std::string& payload) {
    auto record = make_record<SIMCONNECT_RECV_SIMOBJECT_DATA>(SIMCONNECT_RECV_ID_SIMOBJECT_DATA);
    // dwData is the first four bytes of the payload, not a header field.
    constexpr std::size_t kHeaderBytes = sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD);
    record.dwSize = static_cast<DWORD>(kHeaderBytes + payload.size());
    record.dwRequestID = request_id;
    record.dwObjectID = SIMCONNECT_OBJECT_ID_USER;
    record.dwDefineID = define_id;
    record.dwFlags = flags;
    record.dwentrynumber = 1;
    record.dwoutof = 1;
    record.dwDefineCount = count;
    std::vector<std::uint8_t> bytes(kHeaderBytes + payload.size());
    std::memcpy(bytes.data(), &record, kHeaderBytes);
    if (!payload.empty()) std::memcpy(bytes.data() + kHeaderBytes, payload.data(), payload.size());
    return bytes;
}

std::string hresult_text(std::int32_t result) { return std::to_string(result); }

std::string signed_text(std::uint32_t value) { return std::to_string(static_cast<std::int32_t>(value)); }

void set_non_blocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

struct Datum {
    Variable variable;
    double factor;  // from the variable's own unit to the requested one
    DWORD type;
    float epsilon;
    DWORD datum_id;
};

struct Server::Definition {
    std::vector<Datum> datums;
};

struct Server::Request {
    DWORD definition = 0;
    DWORD period = 0;
    DWORD flags = 0;
    DWORD origin = 0;
    DWORD interval = 0;
    DWORD limit = 0;
    std::uint64_t start_frame = 0;
    std::uint64_t periods = 0;
    std::uint32_t sent = 0;
    bool sent_any = false;
    std::vector<std::string> last_values;  // bytes of each datum as last sent
};

struct Server::Client {
    int fd = -1;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
    std::size_t out_sent = 0;
    bool opened = false;
    bool closing = false;  // close once everything queued has gone out
    bool dropped = false;
    std::map<DWORD, Definition> definitions;
    std::map<DWORD, Request> requests;
    std::map<DWORD, std::string> mappings;  // client event id -> simulator event name (upper case)
    std::map<DWORD, std::vector<DWORD>> groups;
    std::vector<std::pair<DWORD, SystemEvent>> subscriptions;  // in subscription order
    struct HeldAnswer {
        wire::Kind function;
        std::uint32_t packet_id;
        std::int32_t result;
        std::vector<std::vector<std::uint8_t>> records;  // sent before the reply
    };
    std::vector<HeldAnswer> held;  // answers a hold keeps back, in call order
};

Server::Server(ServerOptions options, LineSink output, LineSink errors)
    : options_(std::move(options)), output_(std::move(output)), errors_(std::move(errors)) {
    const double rate = options_.rate_hz > 0 ? options_.rate_hz : 30;
    frame_period_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    if (frame_period_ <= Clock::duration::zero()) frame_period_ = Clock::duration{1};
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
    const std::vector<std::uint8_t> quit = bytes_of(make_record<SIMCONNECT_RECV_QUIT>(SIMCONNECT_RECV_ID_QUIT));
    for (auto& client : clients_) {
        if (client->dropped) continue;
        if (client->opened && !client->closing) send_record(*client, quit);
        if (client->dropped) continue;
        ::shutdown(client->fd, SHUT_RDWR);
        ::close(client->fd);
        client->fd = -1;
    }
    clients_.clear();
    return 0;
}

void Server::run_control_lines() {
    {
        std::lock_guard lock(posted_mutex_);
        while (!posted_.empty()) {
            pending_lines_.push_back(std::move(posted_.front()));
            posted_.pop_front();
        }
    }
    while (!exit_) {
        if (waiting_until_) {
            if (Clock::now() < *waiting_until_) return;
            waiting_until_.reset();
            output_("ok " + pending_lines_.front());
            pending_lines_.pop_front();
            continue;
        }
        if (pending_lines_.empty()) return;
        std::string& line = pending_lines_.front();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const ParsedControl parsed = parse_control_line(line);
        if (!parsed.command) {
            if (!parsed.error.empty()) errors_("sim-standin: bad control line \"" + line + "\": " + parsed.error);
            pending_lines_.pop_front();
            continue;
        }
        if (const auto* wait = std::get_if<WaitCommand>(&*parsed.command)) {
            // The line stays at the front until its time is up, then is echoed.
            waiting_until_ = Clock::now() + std::chrono::milliseconds(wait->milliseconds);
            continue;
        }
        carry_out(*parsed.command);
        output_("ok " + line);
        pending_lines_.pop_front();
    }
}

void Server::carry_out(const ControlCommand& command) {
    const auto every_client = [this](const std::vector<std::uint8_t>& record) {
        for (auto& client : clients_) {
            if (client->opened && !client->dropped && !client->closing) send_record(*client, record);
        }
    };
    if (const auto* fail = std::get_if<FailCommand>(&command)) {
        if (fail->result == 0) {
            failures_.erase(fail->function);
        } else {
            failures_[fail->function] = Failure{fail->result, fail->count};
        }
    } else if (const auto* exception = std::get_if<ExceptionCommand>(&command)) {
        every_client(exception_record(exception->code, SIMCONNECT_RECV_EXCEPTION::UNKNOWN_SENDID,
                                      SIMCONNECT_RECV_EXCEPTION::UNKNOWN_INDEX));
    } else if (const auto* event = std::get_if<EventCommand>(&command)) {
        every_client(event_record(event->event_id, event->data));
    } else if (const auto* sample = std::get_if<SampleCommand>(&command)) {
        std::string payload;
        for (const double value : sample->values) append_bytes(payload, value);
        every_client(data_record(sample->request_id, 0, 0, static_cast<DWORD>(sample->values.size()), payload));
    } else if (const auto* state = std::get_if<StateCommand>(&command)) {
        every_client(system_state_record(state->request_id, 0, state->text));
    } else if (const auto* aircraft = std::get_if<AircraftCommand>(&command)) {
        options_.aircraft_path = aircraft->path;
    } else if (const auto* freeze = std::get_if<FreezeCommand>(&command)) {
        frozen_ = freeze->on;
    } else if (std::holds_alternative<QuitCommand>(command)) {
        const std::vector<std::uint8_t> quit = bytes_of(make_record<SIMCONNECT_RECV_QUIT>(SIMCONNECT_RECV_ID_QUIT));
        for (auto& client : clients_) {
            if (client->dropped) continue;
            if (client->opened) send_record(*client, quit);
            client->closing = true;
            flush_client(*client);
        }
    } else if (std::holds_alternative<ExitCommand>(command)) {
        exit_ = true;
    } else if (const auto* hold = std::get_if<HoldCommand>(&command)) {
        if (hold->hold) {
            holds_.insert(hold->function);
        } else {
            holds_.erase(hold->function);
            release_held(hold->function);
        }
    }
}

void Server::release_held(wire::Kind function) {
    for (auto& client : clients_) {
        std::vector<Client::HeldAnswer> answers;
        std::erase_if(client->held, [&](Client::HeldAnswer& answer) {
            if (answer.function != function) return false;
            answers.push_back(std::move(answer));
            return true;
        });
        for (const auto& answer : answers) {
            if (client->dropped) break;
            for (const auto& record : answer.records) send_record(*client, record);
            if (!client->dropped) send_reply(*client, answer.packet_id, answer.result);
        }
    }
}

void Server::serve_once() {
    std::vector<pollfd> fds;
    fds.push_back({wake_read_, POLLIN, 0});
    fds.push_back({listen_fd_, POLLIN, 0});
    for (const auto& input : control_inputs_) fds.push_back({input.fd, POLLIN, 0});
    const std::size_t first_client = fds.size();
    for (const auto& client : clients_) {
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

void Server::read_control_input() {
    for (auto input = control_inputs_.begin(); input != control_inputs_.end();) {
        pollfd entry{input->fd, POLLIN, 0};
        if (::poll(&entry, 1, 0) <= 0) {
            ++input;
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(input->fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            ++input;
            continue;
        }
        if (got <= 0) {
            // End of input stops nothing; an unfinished last line still counts.
            if (!input->partial.empty()) pending_lines_.push_back(std::move(input->partial));
            input = control_inputs_.erase(input);
            continue;
        }
        input->partial.append(buffer, static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end = input->partial.find('\n'); end != std::string::npos;
             end = input->partial.find('\n', start)) {
            pending_lines_.push_back(input->partial.substr(start, end - start));
            start = end + 1;
        }
        input->partial.erase(0, start);
        ++input;
    }
}

void Server::accept_clients() {
    for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto client = std::make_unique<Client>();
        client->fd = fd;
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
    while (!client.dropped && client.in.size() - used >= 4) {
        const std::uint32_t length = wire::read_length_prefix(client.in.data() + used);
        if (length < 8 || length > wire::kMaxPayloadBytes) {
            drop(client, "a frame of " + std::to_string(length) + " bytes");
            return;
        }
        if (client.in.size() - used - 4 < length) break;
        handle_call(client, client.in.data() + used + 4, length);
        used += 4 + length;
    }
    if (!client.dropped) client.in.erase(client.in.begin(), client.in.begin() + static_cast<std::ptrdiff_t>(used));
    if (gone) drop(client, {});
}

void Server::send_record(Client& client, const std::vector<std::uint8_t>& record) {
    wire::Writer frame(wire::Kind::Record);
    frame.raw(record.data(), record.size());
    const std::vector<std::uint8_t> bytes = std::move(frame).finish();
    client.out.insert(client.out.end(), bytes.begin(), bytes.end());
    if (client.out.size() - client.out_sent > kMaxBacklogBytes) {
        drop(client, "it stopped reading");
        return;
    }
    flush_client(client);
}

void Server::send_reply(Client& client, std::uint32_t packet_id, std::int32_t result) {
    wire::Writer frame(wire::Kind::Reply);
    frame.u32(packet_id).i32(result);
    const std::vector<std::uint8_t> bytes = std::move(frame).finish();
    client.out.insert(client.out.end(), bytes.begin(), bytes.end());
    flush_client(client);
}

void Server::flush_client(Client& client) {
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

std::optional<std::int32_t> Server::take_failure(wire::Kind function) {
    const auto found = failures_.find(function);
    if (found == failures_.end()) return std::nullopt;
    const std::int32_t result = found->second.result;
    if (found->second.remaining && --*found->second.remaining == 0) failures_.erase(found);
    return result;
}

void Server::set_paused_flags(bool pause, bool active, bool sim) {
    const bool was_paused = paused();
    pause_ = pause;
    active_pause_ = active;
    sim_pause_ = sim;
    const bool now_paused = paused();
    if (was_paused == now_paused) return;
    for (auto& client : clients_) {
        if (!client->opened || client->dropped || client->closing) continue;
        for (const auto& [event_id, event] : client->subscriptions) {
            if (event == SystemEvent::Pause) send_record(*client, event_record(event_id, now_paused ? 1 : 0));
            if (event == SystemEvent::Paused && now_paused) send_record(*client, event_record(event_id, 1));
            if (event == SystemEvent::Unpaused && !now_paused) send_record(*client, event_record(event_id, 0));
        }
    }
}

void Server::run_frame() {
    ++frame_count_;
    if (!frozen_ && !paused()) aircraft_.advance(std::chrono::duration<double>(frame_period_).count());
    for (auto& client : clients_) {
        if (!client->opened || client->dropped || client->closing) continue;
        send_requested_data(*client);
        flush_client(*client);
    }
}

void Server::send_requested_data(Client& client) {
    for (auto entry = client.requests.begin(); entry != client.requests.end();) {
        const DWORD request_id = entry->first;
        Request& request = entry->second;
        const auto definition = client.definitions.find(request.definition);
        bool due = false;
        switch (request.period) {
            case SIMCONNECT_PERIOD_ONCE:
            case SIMCONNECT_PERIOD_VISUAL_FRAME:
            case SIMCONNECT_PERIOD_SIM_FRAME:
                due = true;
                break;
            case SIMCONNECT_PERIOD_SECOND: {
                const auto frames_per_second = static_cast<std::uint64_t>(std::max(1.0, std::round(options_.rate_hz)));
                due = (frame_count_ - request.start_frame - 1) % frames_per_second == 0;
                break;
            }
            default:
                break;
        }
        if (!due || definition == client.definitions.end()) {
            ++entry;
            continue;
        }

        const std::uint64_t index = request.periods++;
        const bool once = request.period == SIMCONNECT_PERIOD_ONCE;
        const bool scheduled =
            once || (index >= request.origin &&
                     (request.interval == 0 || (index - request.origin) % (request.interval + 1ull) == 0));
        bool finished = once;
        if (scheduled) {
            const std::vector<Datum>& datums = definition->second.datums;
            std::vector<std::string> values;
            std::vector<bool> changed;
            for (const Datum& datum : datums) {
                std::string bytes;
                double number = 0;
                if (datum.type == SIMCONNECT_DATATYPE_INITPOSITION) {
                    append_bytes(bytes, aircraft_.position());
                } else {
                    const double value = aircraft_.value(datum.variable) * datum.factor;
                    switch (datum.type) {
                        case SIMCONNECT_DATATYPE_INT32:
                            append_bytes(bytes, saturate<std::int32_t>(value));
                            break;
                        case SIMCONNECT_DATATYPE_INT64:
                            append_bytes(bytes, saturate<std::int64_t>(value));
                            break;
                        case SIMCONNECT_DATATYPE_FLOAT32:
                            append_bytes(bytes, static_cast<float>(value));
                            break;
                        default:
                            append_bytes(bytes, value);
                            break;
                    }
                    number = value;
                }
                const std::size_t i = values.size();
                bool differs = request.last_values.size() != datums.size() || request.last_values[i] != bytes;
                if (differs && request.last_values.size() == datums.size() &&
                    datum.type != SIMCONNECT_DATATYPE_INITPOSITION) {
                    // A change counts when it is larger than the datum's epsilon (whole units for integers).
                    const std::string& last = request.last_values[i];
                    double previous = 0;
                    switch (datum.type) {
                        case SIMCONNECT_DATATYPE_INT32:
                            previous = read_bytes<std::int32_t>(last.data());
                            break;
                        case SIMCONNECT_DATATYPE_INT64:
                            previous = static_cast<double>(read_bytes<std::int64_t>(last.data()));
                            break;
                        case SIMCONNECT_DATATYPE_FLOAT32:
                            previous = static_cast<double>(read_bytes<float>(last.data()));
                            break;
                        default:
                            previous = read_bytes<double>(last.data());
                            break;
                    }
                    double current = number;
                    if (datum.type == SIMCONNECT_DATATYPE_INT32) current = read_bytes<std::int32_t>(bytes.data());
                    if (datum.type == SIMCONNECT_DATATYPE_FLOAT32)
                        current = static_cast<double>(read_bytes<float>(bytes.data()));
                    double epsilon = static_cast<double>(datum.epsilon);
                    if (datum.type == SIMCONNECT_DATATYPE_INT32 || datum.type == SIMCONNECT_DATATYPE_INT64) {
                        epsilon = std::trunc(epsilon);
                    }
                    const bool both_nan = std::isnan(previous) && std::isnan(current);
                    differs = !both_nan && !(std::fabs(current - previous) <= epsilon);
                }
                values.push_back(std::move(bytes));
                changed.push_back(differs);
            }

            const bool any_changed = std::find(changed.begin(), changed.end(), true) != changed.end();
            const bool only_changes = (request.flags & SIMCONNECT_DATA_REQUEST_FLAG_CHANGED) != 0 && !once;
            if (!request.sent_any || !only_changes || any_changed) {
                const bool tagged = (request.flags & SIMCONNECT_DATA_REQUEST_FLAG_TAGGED) != 0;
                std::string payload;
                DWORD count = 0;
                for (std::size_t i = 0; i < datums.size(); ++i) {
                    if (tagged && only_changes && request.sent_any && !changed[i]) continue;
                    if (tagged) append_bytes(payload, datums[i].datum_id);
                    payload += values[i];
                    ++count;
                }
                send_record(client, data_record(request_id, request.definition, request.flags, count, payload));
                request.sent_any = true;
                ++request.sent;
                request.last_values = std::move(values);
                if (request.limit != 0 && request.sent >= request.limit) finished = true;
            }
        }
        entry = finished ? client.requests.erase(entry) : std::next(entry);
    }
}

void Server::handle_call(Client& client, const std::uint8_t* payload, std::size_t size) {
    wire::Reader reader(payload, size);
    const auto kind = static_cast<wire::Kind>(reader.u32());
    const std::uint32_t packet_id = reader.u32();
    const std::string_view name = wire::function_name(kind);
    if (name.empty()) {
        drop(client, "an unknown call " + std::to_string(static_cast<std::uint32_t>(kind)));
        return;
    }
    if (client.opened == (kind == wire::Kind::Open)) {
        drop(client, client.opened ? "a second open" : "a call before open");
        return;
    }

    // Effects run after the call is logged and only when no failure is staged.
    std::string arguments;
    std::function<void()> effect;
    std::vector<std::vector<std::uint8_t>> records;  // sent before the reply
    const auto exception = [&](DWORD code, DWORD index) {
        records.push_back(exception_record(code, packet_id, index));
    };

    switch (kind) {
        case wire::Kind::Open: {
            const std::uint32_t version = reader.u32();
            const auto app_name = reader.block();
            const bool window = reader.flag();
            const std::uint32_t user_event = reader.u32();
            const bool event_handle = reader.flag();
            const std::uint32_t config_index = reader.u32();
            if (reader.done() && version != wire::kProtocolVersion) {
                drop(client, "protocol version " + std::to_string(version));
                return;
            }
            arguments = log_string(app_name) + " " + (window ? "1" : "0") + " " + std::to_string(user_event) + " " +
                        (event_handle ? "1" : "0") + " " + std::to_string(config_index);
            effect = [&] { records.push_back(open_record()); };
            break;
        }
        case wire::Kind::Close:
            break;
        case wire::Kind::AddToDataDefinition: {
            const std::uint32_t define_id = reader.u32();
            const auto datum_name = reader.block();
            const auto units = reader.block();
            const std::uint32_t type = reader.u32();
            const float epsilon = reader.f32();
            const std::uint32_t datum_id = reader.u32();
            arguments = std::to_string(define_id) + " " + log_string(datum_name) + " " + log_string(units) + " " +
                        signed_text(type) + " " + log_float(epsilon) + " " + std::to_string(datum_id);
            effect = [&, define_id, datum_name, units, type, epsilon, datum_id] {
                const auto variable = datum_name ? find_variable(*datum_name) : std::nullopt;
                if (!variable) return exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
                const bool position = *variable == Variable::InitialPosition;
                if (position != (type == SIMCONNECT_DATATYPE_INITPOSITION) || datum_size(type) == 0) {
                    return exception(SIMCONNECT_EXCEPTION_INVALID_DATA_TYPE, 4);
                }
                double factor = 1;
                if (!position) {
                    const auto found = unit_factor(*variable, units.value_or(""));
                    if (!found) return exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 3);
                    factor = *found;
                }
                client.definitions[define_id].datums.push_back(Datum{*variable, factor, type, epsilon, datum_id});
            };
            break;
        }
        case wire::Kind::MapClientEventToSimEvent: {
            const std::uint32_t event_id = reader.u32();
            const auto event_name = reader.block();
            arguments = std::to_string(event_id) + " " + log_string(event_name);
            effect = [&, event_id, event_name] {
                const std::string wanted = upper(event_name.value_or(""));
                if (!known_sim_event(wanted)) return exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
                client.mappings[event_id] = wanted;
            };
            break;
        }
        case wire::Kind::AddClientEventToNotificationGroup: {
            const std::uint32_t group_id = reader.u32();
            const std::uint32_t event_id = reader.u32();
            const std::int32_t maskable = reader.i32();
            arguments = std::to_string(group_id) + " " + std::to_string(event_id) + " " + std::to_string(maskable);
            effect = [&, group_id, event_id] {
                if (client.mappings.count(event_id) == 0) return exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
                client.groups[group_id].push_back(event_id);
            };
            break;
        }
        case wire::Kind::SetNotificationGroupPriority: {
            const std::uint32_t group_id = reader.u32();
            const std::uint32_t priority = reader.u32();
            arguments = std::to_string(group_id) + " " + std::to_string(priority);
            effect = [&, group_id] {
                if (client.groups.count(group_id) == 0) exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
            };
            break;
        }
        case wire::Kind::SubscribeToSystemEvent: {
            const std::uint32_t event_id = reader.u32();
            const auto event_name = reader.block();
            arguments = std::to_string(event_id) + " " + log_string(event_name);
            effect = [&, event_id, event_name] {
                const auto event = find_system_event(event_name);
                if (!event) return exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
                client.subscriptions.emplace_back(event_id, *event);
                // Like the simulator, "Pause" and "Sim" answer with the current state at once.
                if (*event == SystemEvent::Pause) records.push_back(event_record(event_id, paused() ? 1 : 0));
                if (*event == SystemEvent::Sim) records.push_back(event_record(event_id, 1));
            };
            break;
        }
        case wire::Kind::RequestDataOnSimObject: {
            Request request;
            const std::uint32_t request_id = reader.u32();
            request.definition = reader.u32();
            const std::uint32_t object_id = reader.u32();
            request.period = reader.u32();
            request.flags = reader.u32();
            request.origin = reader.u32();
            request.interval = reader.u32();
            request.limit = reader.u32();
            arguments = std::to_string(request_id) + " " + std::to_string(request.definition) + " " +
                        std::to_string(object_id) + " " + signed_text(request.period) + " " +
                        std::to_string(request.flags) + " " + std::to_string(request.origin) + " " +
                        std::to_string(request.interval) + " " + std::to_string(request.limit);
            effect = [&, request_id, object_id, request]() mutable {
                if (request.period == SIMCONNECT_PERIOD_NEVER) {
                    client.requests.erase(request_id);
                    return;
                }
                if (client.definitions.count(request.definition) == 0) {
                    return exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
                }
                if (object_id != SIMCONNECT_OBJECT_ID_USER) return exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 3);
                if (request.period > SIMCONNECT_PERIOD_SECOND) return exception(SIMCONNECT_EXCEPTION_INVALID_ENUM, 4);
                request.start_frame = frame_count_;
                client.requests[request_id] = std::move(request);  // replaces any earlier one: a fresh first frame
            };
            break;
        }
        case wire::Kind::RequestSystemState: {
            const std::uint32_t request_id = reader.u32();
            const auto state = reader.block();
            arguments = std::to_string(request_id) + " " + log_string(state);
            effect = [&, request_id, state] {
                const std::string wanted = upper(state.value_or(""));
                if (wanted == "AIRCRAFTLOADED") {
                    records.push_back(system_state_record(request_id, 0, options_.aircraft_path));
                } else if (wanted == "SIM") {
                    records.push_back(system_state_record(request_id, 1, {}));
                } else if (wanted == "DIALOGMODE" || wanted == "FLIGHTLOADED" || wanted == "FLIGHTPLAN") {
                    records.push_back(system_state_record(request_id, 0, {}));
                } else {
                    exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
                }
            };
            break;
        }
        case wire::Kind::TransmitClientEvent: {
            const std::uint32_t object_id = reader.u32();
            const std::uint32_t event_id = reader.u32();
            const std::uint32_t data = reader.u32();
            const std::uint32_t group_id = reader.u32();
            const std::uint32_t flags = reader.u32();
            arguments = std::to_string(object_id) + " " + std::to_string(event_id) + " " + std::to_string(data) + " " +
                        std::to_string(group_id) + " " + std::to_string(flags);
            effect = [&, object_id, event_id, data] {
                if (object_id != SIMCONNECT_OBJECT_ID_USER) return exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
                const auto mapping = client.mappings.find(event_id);
                if (mapping == client.mappings.end()) return exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
                const std::string& event = mapping->second;
                if (event == "PAUSE_TOGGLE") set_paused_flags(!pause_, active_pause_, sim_pause_);
                if (event == "PAUSE_ON") set_paused_flags(true, active_pause_, sim_pause_);
                if (event == "PAUSE_SET") set_paused_flags(data != 0, active_pause_, sim_pause_);
                if (event == "PAUSE_OFF") set_paused_flags(false, false, false);
                if (event == "ACTIVE_PAUSE_TOGGLE") set_paused_flags(pause_, !active_pause_, sim_pause_);
                if (event == "SIM_PAUSE_TOGGLE") set_paused_flags(pause_, active_pause_, !sim_pause_);
            };
            break;
        }
        case wire::Kind::SetDataOnSimObject: {
            const std::uint32_t define_id = reader.u32();
            const std::uint32_t object_id = reader.u32();
            const std::uint32_t flags = reader.u32();
            const std::uint32_t array_count = reader.u32();
            const std::uint32_t unit_size = reader.u32();
            const auto data = reader.block();
            arguments = std::to_string(define_id) + " " + std::to_string(object_id) + " " + std::to_string(flags) +
                        " " + std::to_string(array_count) + " " + std::to_string(unit_size) + " " + log_hex(data);
            effect = [&, define_id, object_id, flags, data] {
                const auto definition = client.definitions.find(define_id);
                if (definition == client.definitions.end()) return exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
                if (object_id != SIMCONNECT_OBJECT_ID_USER) return exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
                if (!data) return exception(SIMCONNECT_EXCEPTION_DATA_ERROR, 6);
                const std::vector<Datum>& datums = definition->second.datums;
                const auto apply = [this](const Datum& datum, const char* bytes) {
                    double value = 0;
                    switch (datum.type) {
                        case SIMCONNECT_DATATYPE_INITPOSITION:
                            aircraft_.place(read_bytes<SIMCONNECT_DATA_INITPOSITION>(bytes));
                            return;
                        case SIMCONNECT_DATATYPE_INT32:
                            value = read_bytes<std::int32_t>(bytes);
                            break;
                        case SIMCONNECT_DATATYPE_INT64:
                            value = static_cast<double>(read_bytes<std::int64_t>(bytes));
                            break;
                        case SIMCONNECT_DATATYPE_FLOAT32:
                            value = static_cast<double>(read_bytes<float>(bytes));
                            break;
                        default:
                            value = read_bytes<double>(bytes);
                            break;
                    }
                    aircraft_.set(datum.variable, value / datum.factor);
                };
                if ((flags & SIMCONNECT_DATA_SET_FLAG_TAGGED) != 0) {
                    // (datum id, value) pairs; checked whole before anything is applied.
                    std::vector<std::pair<const Datum*, std::size_t>> writes;
                    std::size_t pos = 0;
                    while (pos < data->size()) {
                        if (data->size() - pos < 4) return exception(SIMCONNECT_EXCEPTION_SIZE_MISMATCH, 6);
                        const auto id = read_bytes<DWORD>(data->data() + pos);
                        const auto datum = std::find_if(datums.begin(), datums.end(),
                                                        [id](const Datum& d) { return d.datum_id == id; });
                        if (datum == datums.end()) return exception(SIMCONNECT_EXCEPTION_DATUM_ID, 6);
                        if (data->size() - pos - 4 < datum_size(datum->type)) {
                            return exception(SIMCONNECT_EXCEPTION_SIZE_MISMATCH, 6);
                        }
                        writes.emplace_back(&*datum, pos + 4);
                        pos += 4 + datum_size(datum->type);
                    }
                    for (const auto& [datum, offset] : writes) apply(*datum, data->data() + offset);
                    return;
                }
                std::size_t needed = 0;
                for (const Datum& datum : datums) needed += datum_size(datum.type);
                if (data->size() < needed) return exception(SIMCONNECT_EXCEPTION_SIZE_MISMATCH, 6);
                std::size_t offset = 0;
                for (const Datum& datum : datums) {
                    apply(datum, data->data() + offset);
                    offset += datum_size(datum.type);
                }
            };
            break;
        }
        default:
            break;
    }
    if (!reader.done()) {
        drop(client, "a malformed " + std::string(name));
        return;
    }

    const std::optional<std::int32_t> failure = take_failure(kind);
    const std::int32_t result = failure.value_or(0);
    log_.write_line(std::string(name) + (arguments.empty() ? "" : " ") + arguments + " -> " + hresult_text(result));
    if (!failure && effect) effect();
    // Logged and in effect, but unanswered: the client waits as for a slow simulator.
    const bool held = holds_.erase(kind) != 0;
    if (held) {
        client.held.push_back(Client::HeldAnswer{kind, packet_id, result, std::move(records)});
    } else {
        for (const auto& record : records) send_record(client, record);
    }
    if (kind == wire::Kind::Open) {
        if (result == 0) {
            client.opened = true;
        } else {
            client.closing = true;  // refused
        }
    }
    if (kind == wire::Kind::Close) client.closing = true;
    if (!held) send_reply(client, packet_id, result);
}

}  // namespace velmar::standin
