#pragma once

// One open connection of the substitute client library: the socket to the
// simulator (or sim-standin), a receiver thread that queues the records it
// sends, and the packets of every call.
//
// Against a simulator a call returns S_OK once its packet is sent; failures
// come later as exception records. sim-standin marks itself in RECV_OPEN; the
// connection then asks for an acknowledgement of every call and returns the
// HRESULT it carries.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "../common/protocol.h"
#include "sdk.h"
#include "socket.h"

namespace velmar::standin {

// A server that does not answer within this time is treated as gone, so no
// call can wedge its caller for ever; also the longest wait for the rest of a
// record that has begun to arrive.
inline constexpr std::chrono::milliseconds kCallTimeout{5000};
inline constexpr std::chrono::milliseconds kConnectTimeout{900};

struct OpenArguments {
    const char* name = nullptr;
    bool window = false;
    DWORD user_event = 0;
    bool event_handle = false;
    DWORD config_index = 0;
};

class Connection {
public:
    // `wake` is SimConnect_Open's event handle as a number (0: none), signalled once per queued record.
    Connection(net::Socket socket, std::uintptr_t wake);
    ~Connection();  // shuts the socket and joins the receiver
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends Open and waits for RECV_OPEN (left queued for dispatch). S_OK, the
    // HRESULT sim-standin refuses with, or E_FAIL.
    HRESULT open(const OpenArguments& arguments);
    // E_FAIL when the connection is lost, before or during the call.
    HRESULT call(const protocol::Call& call);
    // Tells sim-standin (only it) that SimConnect_Close was called; later
    // calls fail.
    void close();

    // The next waiting record; it stays valid until the next call of this.
    bool next_record(SIMCONNECT_RECV** record, DWORD* size);

    DWORD last_packet_id() const;

private:
    // A record's bytes, in storage aligned for the doubles clients read from it.
    struct Record {
        std::vector<std::uint64_t> storage;
        DWORD size = 0;
    };

    // Sends a packet stamped with `send_id`; with acknowledgements on, waits for its HRESULT.
    HRESULT send(std::vector<std::uint8_t> packet, std::uint32_t send_id, bool wait_for_ack);
    bool send_bytes(const std::vector<std::uint8_t>& packet);
    void receive_loop();
    void handle_record(const std::uint8_t* bytes, std::size_t size);
    void lose_connection_locked();  // state_mutex_ held
    void queue_record_locked(const std::uint8_t* bytes, std::size_t size);

    net::Socket socket_;
    const std::uintptr_t wake_;       // set once; signalled under state_mutex_ while not lost_, so never after close()
    std::mutex call_mutex_;           // serialises calls: their packets leave in send-id order
    std::uint32_t next_send_id_ = 1;  // guarded by call_mutex_

    mutable std::mutex state_mutex_;  // guards everything below
    std::condition_variable changed_;
    std::deque<Record> queue_;
    Record current_;
    std::optional<std::pair<std::uint32_t, HRESULT>> ack_;
    bool acknowledged_ = false;  // sim-standin acknowledges every packet
    DWORD last_packet_id_ = 0;
    bool lost_ = false;
    bool quit_queued_ = false;

    std::thread receiver_;  // last: starts after everything it uses exists
};

}  // namespace velmar::standin
