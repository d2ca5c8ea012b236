#pragma once

// sim-standin's engine: one thread that accepts clients on loopback TCP,
// speaks SimConnect's protocol with them, flies the aircraft frame by frame
// and carries out control lines. main.cpp wraps it in a process.
//
// server.cpp: the loop, sockets and frames; client_packets.cpp: what each
// packet from a client does; control.cpp: control lines; session.cpp: the
// simulation each client sees; records.cpp: the records sent back.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "protocol.h"
#include "call_log.h"
#include "control_line.h"
#include "records.h"
#include "session.h"

namespace velmar::standin {

inline constexpr const char* kDefaultAircraftPath = "SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg";

struct ServerOptions {
    std::uint16_t port = protocol::kDefaultPort;  // 0: any free port
    double rate_hz = 30;                          // visual frames per second
    std::string aircraft_path = kDefaultAircraftPath;
    std::string log_path;         // empty: no call log
    std::string packet_log_path;  // empty: no packet log
    std::string script_path;      // empty: no script
};

class Server {
public:
    using LineSink = std::function<void(std::string_view line)>;

    // `output` gets the listening line and the "ok" echoes, `errors` the
    // complaints; each call is one whole line without its line end.
    Server(ServerOptions options, LineSink output, LineSink errors);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the logs, reads the script and listens; reports on `errors`
    // and returns false when any of that fails.
    bool start();
    std::uint16_t port() const { return port_; }

    // Reads control lines from this descriptor (e.g. standard input) as well;
    // its end stops nothing.
    void add_control_input(int fd);

    // Prints the listening line and serves until `exit` or request_stop().
    // Returns the exit status.
    int run();

    // Queues a control line; safe from any thread.
    void post_control(std::string line);
    // Stops run() soon; safe from any thread and from a signal handler.
    void request_stop();

private:
    // What answers a packet: records (an acknowledgement last), and for a
    // refused Open or a Close the end of the connection.
    struct Answer {
        protocol::Function function;
        std::vector<RecordBytes> records;
        bool close = false;
    };
    struct Client {
        enum class State {
            AwaitingOpen,
            OpenPending,  // RECV_OPEN sent; the Open is settled by the client's next packet
            Open,
        };
        int fd = -1;
        std::uint64_t number = 0;  // in order of connection, from 1 (the packet log's first column)
        std::vector<std::uint8_t> in;
        std::vector<std::uint8_t> out;
        std::size_t out_sent = 0;
        State state = State::AwaitingOpen;
        bool acknowledged = false;  // our client asked for an answer to every packet
        bool finished = false;      // answered its last packet (refused, closed): later ones are ignored
        bool closing = false;       // close once everything queued has gone out
        bool dropped = false;
        std::uint32_t open_send_id = 0;
        protocol::Text application_name;
        std::uint32_t nulls = 0;  // from NullArguments, for the next packet only
        Session session;
        std::vector<Answer> held;  // answers a hold keeps back, in call order

        // Opened (or about to be) and staying: hears the simulator.
        bool listening() const { return state != State::AwaitingOpen && !dropped && !closing; }
    };

    void serve_once();
    void run_control_lines();
    void carry_out(const ControlCommand& command);
    void read_control_input();
    void accept_clients();
    void read_client(Client& client);
    void flush_client(Client& client);
    void handle_packet(Client& client, const std::uint8_t* packet, std::size_t size);
    void handle_open(Client& client, const std::uint8_t* packet, std::size_t size);
    bool settle_open(Client& client, const std::optional<protocol::Hello>& hello);
    void handle_call(Client& client, const protocol::PacketHeader& header, const std::uint8_t* packet,
                     std::size_t size);
    void respond(Client& client, Answer answer);
    void send_answer(Client& client, const Answer& answer);
    void release_held(protocol::Function function);
    void run_frame();
    void broadcast(const RecordBytes& record);
    void broadcast_effect(const CallEffect& effect);
    void send_record(Client& client, const RecordBytes& record);
    void drop(Client& client, std::string_view reason);
    std::optional<std::int32_t> take_failure(protocol::Function function);
    std::optional<std::uint32_t> take_refusal(protocol::Function function);

    ServerOptions options_;
    LineSink output_;
    LineSink errors_;
    CallLog log_;
    PacketLog packet_log_;
    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    int wake_read_ = -1;
    int wake_write_ = -1;
    std::atomic<bool> stop_requested_{false};

    std::mutex posted_mutex_;  // guards posted_
    std::deque<std::string> posted_;

    // Everything below belongs to the thread in run().
    struct ControlInput {
        int fd;
        std::string partial;
    };
    std::vector<ControlInput> control_inputs_;
    std::deque<std::string> pending_lines_;
    std::optional<std::chrono::steady_clock::time_point> waiting_until_;
    bool exit_ = false;

    std::vector<std::unique_ptr<Client>> clients_;
    std::uint64_t connections_ = 0;
    struct Failure {
        std::int32_t result;
        std::optional<std::uint32_t> remaining;
    };
    std::map<protocol::Function, Failure> failures_;
    std::map<protocol::Function, Failure> refusals_;  // result: the exception code
    // A hung simulator: clients are neither read nor written, frames and control-line records are dropped.
    bool silent_ = false;
    std::set<protocol::Function> holds_;  // functions whose next call is answered only at release
    World world_;
    std::chrono::steady_clock::duration frame_period_{};
    std::chrono::steady_clock::time_point next_frame_{};
};

}  // namespace velmar::standin
