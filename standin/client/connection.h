#pragma once

// One open connection of the substitute client library: the socket to
// sim-standin, a receiver thread that queues the records it sends, and the
// round trip of every call.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "../common/wire.h"
#include "sdk.h"
#include "socket.h"

namespace velmar::standin {

// A stand-in that does not answer within this time is treated as gone, so no
// call can wedge its caller for ever.
inline constexpr std::chrono::milliseconds kCallTimeout{5000};
inline constexpr std::chrono::milliseconds kConnectTimeout{900};

class Connection {
public:
    explicit Connection(net::Socket socket);
    ~Connection();  // shuts the socket and joins the receiver
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends the call (a frame from begin_call) and waits for its HRESULT.
    // E_FAIL when the connection is lost, before or during the call.
    HRESULT call(wire::Writer&& message);
    wire::Writer begin_call(wire::Kind kind);

    // The next waiting record; it stays valid until the next call of this.
    bool next_record(SIMCONNECT_RECV** record, DWORD* size);

    DWORD last_packet_id() const;

private:
    // A record's bytes, in storage aligned for the doubles clients read from it.
    struct Record {
        std::vector<std::uint64_t> storage;
        DWORD size = 0;
    };

    void receive_loop();
    void handle_frame(const std::vector<std::uint8_t>& payload);
    void lose_connection_locked();  // state_mutex_ held
    void queue_record_locked(const std::uint8_t* bytes, std::size_t size);

    net::Socket socket_;
    std::mutex call_mutex_;             // serialises calls: one round trip on the wire at a time
    std::uint32_t next_packet_id_ = 1;  // guarded by call_mutex_

    mutable std::mutex state_mutex_;  // guards everything below
    std::condition_variable reply_ready_;
    std::deque<Record> queue_;
    Record current_;
    std::optional<std::pair<std::uint32_t, HRESULT>> reply_;
    DWORD last_packet_id_ = 0;
    bool lost_ = false;
    bool quit_queued_ = false;

    std::thread receiver_;  // last: starts after everything it uses exists
};

}  // namespace velmar::standin
