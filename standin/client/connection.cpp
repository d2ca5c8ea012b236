#include "connection.h"

#include <cstring>

#include "record_reader.h"

namespace velmar::standin {

namespace {

constexpr std::size_t kReservedOffset = protocol::kOpenReservedOffset;
static_assert(sizeof(protocol::AckRecord) == 20);

DWORD record_id(const std::uint8_t* bytes) { return protocol::read_u32(bytes + 8); }

}  // namespace

Connection::Connection(net::Socket socket, std::uintptr_t wake)
    : socket_(socket), wake_(wake), receiver_([this] { receive_loop(); }) {}

Connection::~Connection() {
    net::shutdown_both(socket_);
    if (receiver_.joinable()) receiver_.join();
    net::close_socket(socket_);
}

HRESULT Connection::open(const OpenArguments& arguments) {
    std::lock_guard call_lock(call_mutex_);
    const std::uint32_t send_id = next_send_id_++;
    protocol::Open open;
    open.application_name = {arguments.name == nullptr ? "" : arguments.name, arguments.name == nullptr};
    if (send(protocol::encode(open), send_id, false) != S_OK) return E_FAIL;

    bool standin = false;
    {
        std::unique_lock lock(state_mutex_);
        if (!changed_.wait_for(lock, kCallTimeout, [this] { return !queue_.empty() || lost_; })) {
            lose_connection_locked();
            return E_FAIL;
        }
        const Record& first = queue_.front();
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(first.storage.data());
        if (lost_ || record_id(bytes) != SIMCONNECT_RECV_ID_OPEN || first.size < protocol::kOpenRecordBytes) {
            return E_FAIL;  // refused (an exception record) or not a simulator
        }
        standin = protocol::read_u32(bytes + kReservedOffset) == protocol::kStandinMark &&
                  protocol::read_u32(bytes + kReservedOffset + 4) >= protocol::kExtensionVersion;
        acknowledged_ = standin;
    }
    if (!standin) return S_OK;

    // The rest of the arguments, for the stand-in's log; its answer is Open's.
    protocol::Hello hello;
    hello.window = arguments.window ? 1 : 0;
    hello.user_event = arguments.user_event;
    hello.event_handle = arguments.event_handle ? 1 : 0;
    hello.config_index = arguments.config_index;
    hello.null_name = arguments.name == nullptr ? 1 : 0;
    return send(protocol::encode(hello), send_id, true);
}

HRESULT Connection::call(const protocol::Call& call) {
    std::lock_guard call_lock(call_mutex_);
    bool acknowledged = false;
    {
        std::lock_guard lock(state_mutex_);
        if (lost_) return E_FAIL;
        acknowledged = acknowledged_;
    }
    if (acknowledged) {
        // The simulator's packets cannot tell a null pointer from an empty string; the stand-in's log can.
        if (const std::uint32_t nulls = protocol::null_mask(call); nulls != 0) {
            if (!send_bytes(protocol::encode_null_arguments(nulls))) return E_FAIL;
        }
    }
    const std::uint32_t send_id = next_send_id_++;
    return send(protocol::encode(call), send_id, acknowledged);
}

void Connection::close() {
    std::lock_guard call_lock(call_mutex_);
    bool tell = false;
    {
        std::lock_guard lock(state_mutex_);
        tell = !lost_ && acknowledged_;
    }
    if (tell) send(protocol::encode_close(), next_send_id_++, true);
    // Calls still holding this connection on other threads fail from now on.
    std::lock_guard lock(state_mutex_);
    lose_connection_locked();
}

HRESULT Connection::send(std::vector<std::uint8_t> packet, std::uint32_t send_id, bool wait_for_ack) {
    protocol::stamp_send_id(packet, send_id);
    {
        std::lock_guard lock(state_mutex_);
        if (lost_) return E_FAIL;
        ack_.reset();
        last_packet_id_ = send_id;
    }
    if (!send_bytes(packet)) return E_FAIL;
    if (!wait_for_ack) return S_OK;

    std::unique_lock lock(state_mutex_);
    const bool answered = changed_.wait_for(lock, kCallTimeout, [this] { return ack_.has_value() || lost_; });
    if (ack_.has_value() && ack_->first == send_id) return ack_->second;
    if (!answered || ack_.has_value()) lose_connection_locked();  // silent stand-in, or an answer to something else
    return E_FAIL;
}

bool Connection::send_bytes(const std::vector<std::uint8_t>& packet) {
    if (net::send_all(socket_, packet.data(), packet.size())) return true;
    std::lock_guard lock(state_mutex_);
    lose_connection_locked();
    return false;
}

bool Connection::next_record(SIMCONNECT_RECV** record, DWORD* size) {
    std::lock_guard lock(state_mutex_);
    current_ = Record{};
    if (queue_.empty()) return false;
    current_ = std::move(queue_.front());
    queue_.pop_front();
    *record = reinterpret_cast<SIMCONNECT_RECV*>(current_.storage.data());
    if (size != nullptr) *size = current_.size;
    return true;
}

DWORD Connection::last_packet_id() const {
    std::lock_guard lock(state_mutex_);
    return last_packet_id_;
}

void Connection::receive_loop() {
    std::vector<std::uint8_t> buffer(64 * 1024);
    RecordReader reader;
    for (;;) {
        // A server silent in the middle of a record is as good as gone.
        if (reader.mid_record() && !net::wait_readable(socket_, kCallTimeout)) break;
        const std::ptrdiff_t got = net::receive_some(socket_, buffer.data(), buffer.size());
        if (got <= 0) break;
        reader.append(buffer.data(), static_cast<std::size_t>(got));
        while (const auto record = reader.next()) handle_record(record->bytes, record->size);
        if (reader.garbage()) break;
        std::lock_guard lock(state_mutex_);
        if (lost_) break;
    }
    std::lock_guard lock(state_mutex_);
    lose_connection_locked();
}

void Connection::handle_record(const std::uint8_t* bytes, std::size_t size) {
    const DWORD id = record_id(bytes);
    std::lock_guard lock(state_mutex_);
    if (lost_) return;
    if (acknowledged_ && id == protocol::kAckRecordId) {
        if (size != sizeof(protocol::AckRecord)) {
            lose_connection_locked();
            return;
        }
        ack_ = std::make_pair(protocol::read_u32(bytes + 12), static_cast<HRESULT>(protocol::read_u32(bytes + 16)));
        changed_.notify_all();
        return;
    }
    queue_record_locked(bytes, size);
    if (wake_ != 0) net::signal_wake(wake_);  // once per record, as the SDK's library does
    if (id == SIMCONNECT_RECV_ID_QUIT) quit_queued_ = true;
    if (queue_.size() == 1) changed_.notify_all();  // Open waits for the first record
}

void Connection::queue_record_locked(const std::uint8_t* bytes, std::size_t size) {
    Record record;
    record.storage.resize((size + 7) / 8);
    std::memcpy(record.storage.data(), bytes, size);
    record.size = static_cast<DWORD>(size);
    queue_.push_back(std::move(record));
}

void Connection::lose_connection_locked() {
    if (lost_) return;
    lost_ = true;
    // The server may have said goodbye itself; the client sees one QUIT either way.
    if (!quit_queued_) {
        SIMCONNECT_RECV_QUIT quit{};
        quit.dwSize = sizeof quit;
        quit.dwVersion = protocol::kServerVersion;
        quit.dwID = SIMCONNECT_RECV_ID_QUIT;
        queue_record_locked(reinterpret_cast<const std::uint8_t*>(&quit), sizeof quit);
        quit_queued_ = true;
    }
    net::shutdown_both(socket_);
    changed_.notify_all();
}

}  // namespace velmar::standin
