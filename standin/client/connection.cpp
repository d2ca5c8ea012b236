#include "connection.h"

#include <cstring>

namespace velmar::standin {

namespace {

constexpr DWORD kQuitRecordSize = sizeof(SIMCONNECT_RECV_QUIT);

}  // namespace

Connection::Connection(net::Socket socket) : socket_(socket), receiver_([this] { receive_loop(); }) {}

Connection::~Connection() {
    net::shutdown_both(socket_);
    if (receiver_.joinable()) receiver_.join();
    net::close_socket(socket_);
}

wire::Writer Connection::begin_call(wire::Kind kind) {
    wire::Writer message(kind);
    message.u32(0);  // packet id, filled in by call()
    return message;
}

HRESULT Connection::call(wire::Writer&& message) {
    std::lock_guard call_lock(call_mutex_);
    const std::uint32_t packet_id = next_packet_id_++;
    message.patch_u32(wire::kPacketIdOffset, packet_id);
    const std::vector<std::uint8_t> frame = std::move(message).finish();

    {
        std::lock_guard lock(state_mutex_);
        if (lost_) return E_FAIL;
        reply_.reset();
        last_packet_id_ = packet_id;
    }
    if (!net::send_all(socket_, frame.data(), frame.size())) {
        std::lock_guard lock(state_mutex_);
        lose_connection_locked();
        return E_FAIL;
    }

    std::unique_lock lock(state_mutex_);
    const bool answered = reply_ready_.wait_for(lock, kCallTimeout, [this] { return reply_.has_value() || lost_; });
    if (reply_.has_value() && reply_->first == packet_id) return reply_->second;
    if (!answered || reply_.has_value()) lose_connection_locked();  // silent stand-in, or a reply to something else
    return E_FAIL;
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
    std::vector<std::uint8_t> pending;
    for (;;) {
        const std::ptrdiff_t got = net::receive_some(socket_, buffer.data(), buffer.size());
        if (got <= 0) break;
        pending.insert(pending.end(), buffer.begin(), buffer.begin() + got);

        std::size_t used = 0;
        bool garbage = false;
        while (pending.size() - used >= 4) {
            const std::uint32_t length = wire::read_length_prefix(pending.data() + used);
            if (length < 4 || length > wire::kMaxPayloadBytes) {
                garbage = true;
                break;
            }
            if (pending.size() - used - 4 < length) break;
            const auto first = pending.begin() + static_cast<std::ptrdiff_t>(used + 4);
            handle_frame(std::vector<std::uint8_t>(first, first + length));
            used += 4 + length;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
        if (garbage) break;
        std::lock_guard lock(state_mutex_);
        if (lost_) break;
    }
    std::lock_guard lock(state_mutex_);
    lose_connection_locked();
}

void Connection::handle_frame(const std::vector<std::uint8_t>& payload) {
    wire::Reader reader(payload.data(), payload.size());
    const auto kind = static_cast<wire::Kind>(reader.u32());
    std::lock_guard lock(state_mutex_);
    if (lost_) return;
    if (kind == wire::Kind::Reply) {
        const std::uint32_t packet_id = reader.u32();
        const HRESULT result = reader.i32();
        if (!reader.done()) {
            lose_connection_locked();
            return;
        }
        reply_ = std::make_pair(packet_id, result);
        reply_ready_.notify_all();
        return;
    }
    const std::size_t size = payload.size() - 4;
    const std::uint8_t* bytes = payload.data() + 4;
    DWORD declared = 0;
    if (size >= sizeof(SIMCONNECT_RECV)) std::memcpy(&declared, bytes, sizeof declared);
    if (kind != wire::Kind::Record || size < sizeof(SIMCONNECT_RECV) || declared != size) {
        lose_connection_locked();
        return;
    }
    queue_record_locked(bytes, size);
    DWORD id = 0;
    std::memcpy(&id, bytes + offsetof(SIMCONNECT_RECV, dwID), sizeof id);
    if (id == SIMCONNECT_RECV_ID_QUIT) quit_queued_ = true;
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
    // The stand-in may have said goodbye itself; the client sees one QUIT either way.
    if (!quit_queued_) {
        SIMCONNECT_RECV_QUIT quit{};
        quit.dwSize = kQuitRecordSize;
        quit.dwVersion = wire::kRecordVersion;
        quit.dwID = SIMCONNECT_RECV_ID_QUIT;
        queue_record_locked(reinterpret_cast<const std::uint8_t*>(&quit), sizeof quit);
        quit_queued_ = true;
    }
    net::shutdown_both(socket_);
    reply_ready_.notify_all();
}

}  // namespace velmar::standin
