// One connection of the client library: packets out, records queued by the receiver thread.

#include "connection.h"

#include <cstring>

#include "record_reader.h"

namespace velmar::standin {

namespace {

constexpr std::size_t kReservedOffset = protocol::kOpenReservedOffset;
static_assert(sizeof(protocol::AckRecord) == 20);

DWORD record_id(const std::uint8_t* bytes) { return protocol::read_u32(bytes + 8); }

}  // namespace

std::atomic<int> reply_timeout_ms{static_cast<int>(kCallTimeout.count())};

namespace {

std::chrono::milliseconds reply_timeout() { return std::chrono::milliseconds(reply_timeout_ms.load()); }

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
        if (!changed_.wait_for(lock, reply_timeout(), [this] { return !queue_.empty() || lost_; })) {
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
        if (lost_ || closing_) return kConnectionGone;
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
    {
        // Calls on other threads, waiting for an answer or for their turn, return now.
        std::lock_guard lock(state_mutex_);
        closing_ = true;
        changed_.notify_all();
    }
    // A call stuck sending to a server that stopped reading is cut off by the shutdown below. Polled
    // try_lock rather than a timed mutex: ThreadSanitizer does not follow pthread_mutex_clocklock.
    std::unique_lock call_lock(call_mutex_, std::defer_lock);
    for (const auto deadline = std::chrono::steady_clock::now() + kCloseWait;
         !call_lock.try_lock() && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool tell = false;
    {
        std::lock_guard lock(state_mutex_);
        tell = call_lock.owns_lock() && !lost_ && acknowledged_;
    }
    if (tell) {
        // The stand-in logs the Close; a silent one gets kCloseWait, not kCallTimeout.
        const std::uint32_t send_id = next_send_id_++;
        std::vector<std::uint8_t> packet = protocol::encode_close();
        protocol::stamp_send_id(packet, send_id);
        {
            std::lock_guard lock(state_mutex_);
            ack_.reset();
            last_packet_id_ = send_id;
        }
        if (send_bytes(packet)) {
            std::unique_lock lock(state_mutex_);
            changed_.wait_for(lock, kCloseWait, [&] { return (ack_.has_value() && ack_->first == send_id) || lost_; });
        }
    }
    std::lock_guard lock(state_mutex_);
    lose_connection_locked();
}

HRESULT Connection::send(std::vector<std::uint8_t> packet, std::uint32_t send_id, bool wait_for_ack) {
    protocol::stamp_send_id(packet, send_id);
    {
        std::lock_guard lock(state_mutex_);
        if (lost_ || closing_) return kConnectionGone;
        ack_.reset();
        last_packet_id_ = send_id;
    }
    if (!send_bytes(packet)) return E_FAIL;
    if (!wait_for_ack) return S_OK;

    std::unique_lock lock(state_mutex_);
    changed_.wait_for(lock, reply_timeout(), [this] { return ack_.has_value() || lost_ || closing_; });
    if (ack_.has_value() && ack_->first == send_id) return ack_->second;
    // A silent stand-in, or an answer to something else: the connection is no good.
    if (!closing_) lose_connection_locked();
    return kConnectionGone;
}

bool Connection::send_bytes(const std::vector<std::uint8_t>& packet) {
    if (net::send_all(socket_, packet.data(), packet.size())) return true;
    std::lock_guard lock(state_mutex_);
    lose_connection_locked();
    return false;
}

HRESULT Connection::next_record(SIMCONNECT_RECV** record, DWORD* size) {
    std::lock_guard lock(state_mutex_);
    current_ = Record{};
    // What arrived before the end is still delivered.
    if (queue_.empty()) return lost_ || closing_ ? kConnectionGone : E_FAIL;
    current_ = std::move(queue_.front());
    queue_.pop_front();
    *record = reinterpret_cast<SIMCONNECT_RECV*>(current_.storage.data());
    if (size != nullptr) *size = current_.size;
    return S_OK;
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
        if (reader.mid_record() && !net::wait_readable(socket_, reply_timeout())) break;
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
    if (wake_ != 0) net::signal_wake(wake_);        // once per record, as the SDK's library does
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
    // No QUIT is made up; like the SDK's library, one more wake tells a waiting client to look.
    if (wake_ != 0 && !closing_) net::signal_wake(wake_);
    net::shutdown_both(socket_);
    changed_.notify_all();
}

}  // namespace velmar::standin
