#pragma once

// sim-standin's engine: one thread that accepts clients on loopback TCP,
// answers their calls, flies the aircraft frame by frame and carries out
// control lines. main.cpp wraps it in a process; tests may run it in-process.

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

#include "aircraft.h"
#include "call_log.h"
#include "control_line.h"

namespace velmar::standin {

inline constexpr const char* kDefaultAircraftPath = "SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg";

struct ServerOptions {
    std::uint16_t port = wire::kDefaultPort;  // 0: any free port
    double rate_hz = 30;                      // visual frames per second
    std::string aircraft_path = kDefaultAircraftPath;
    std::string log_path;     // empty: no call log
    std::string script_path;  // empty: no script
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

    // Opens the call log, reads the script and listens; reports on `errors`
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
    struct Client;
    struct Request;
    struct Definition;

    void serve_once();
    void run_control_lines();
    void carry_out(const ControlCommand& command);
    void read_control_input();
    void accept_clients();
    void read_client(Client& client);
    void flush_client(Client& client);
    void handle_call(Client& client, const std::uint8_t* payload, std::size_t size);
    void run_frame();
    void send_requested_data(Client& client);
    void set_paused_flags(bool pause, bool active, bool sim);
    void send_record(Client& client, const std::vector<std::uint8_t>& record);
    void send_reply(Client& client, std::uint32_t packet_id, std::int32_t result);
    void release_held(wire::Kind function);
    void drop(Client& client, std::string_view reason);
    bool paused() const { return pause_ || active_pause_ || sim_pause_; }
    std::optional<std::int32_t> take_failure(wire::Kind function);

    ServerOptions options_;
    LineSink output_;
    LineSink errors_;
    CallLog log_;
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
    struct Failure {
        std::int32_t result;
        std::optional<std::uint32_t> remaining;
    };
    std::map<wire::Kind, Failure> failures_;
    std::set<wire::Kind> holds_;  // functions whose next call is answered only at release
    Aircraft aircraft_;
    bool frozen_ = false;
    bool pause_ = false;
    bool active_pause_ = false;
    bool sim_pause_ = false;
    std::uint64_t frame_count_ = 0;
    std::chrono::steady_clock::duration frame_period_{};
    std::chrono::steady_clock::time_point next_frame_{};
};

}  // namespace velmar::standin
