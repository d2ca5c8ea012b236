#pragma once

// Where SimConnect_Open connects, chosen as the SDK's library chooses:
// SIMCONNECT_STANDIN_PORT when set (tests), else SimConnect.cfg in the working
// directory, else the simulator's local named pipe on Windows, else
// 127.0.0.1:47474. choose_endpoints is the pure rule; connect_to_simulator
// gathers its inputs, prints why a setting can't be used, and connects.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "protocol.h"
#include "socket.h"

namespace velmar::standin {

inline constexpr const char* kConfigFileName = "SimConnect.cfg";
inline constexpr std::uint32_t kLocalConfigIndex = 0xFFFFFFFF;  // SIMCONNECT_OPEN_CONFIGINDEX_LOCAL: no file
inline constexpr const char* kSimulatorPipe = "\\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect";

struct TcpEndpoint {
    net::Family family = net::Family::IPv4;
    std::string address;  // a numeric address or a host name, without brackets
    std::uint16_t port = 0;
    bool operator==(const TcpEndpoint&) const = default;
};

struct PipeEndpoint {
    std::string name;
    bool operator==(const PipeEndpoint&) const = default;
};

using Endpoint = std::variant<TcpEndpoint, PipeEndpoint>;

struct EndpointSources {
    std::optional<std::string> port_variable;  // SIMCONNECT_STANDIN_PORT, when set
    std::optional<std::string> config_text;    // SimConnect.cfg, when the working directory has one
    std::uint32_t config_index = 0;            // Open's ConfigIndex
    bool windows = false;
};

// The endpoints to try in order, or an error: the one line that tells the
// user why Open fails. An unusable setting is never replaced by a guess.
struct EndpointChoice {
    std::vector<Endpoint> endpoints;
    std::string error;
    bool no_section = false;  // the config file has no section for the index: Open's E_INVALIDARG
};

EndpointChoice choose_endpoints(const EndpointSources& sources);

// Reads the environment and ./SimConnect.cfg, prints the error line (if any)
// on standard error, and connects to the first endpoint that answers within
// `timeout`; socket is kNoSocket when none does.
struct Connected {
    net::Socket socket = net::kNoSocket;
    bool no_section = false;
};
Connected connect_to_simulator(std::uint32_t config_index, std::chrono::milliseconds timeout,
                               std::chrono::milliseconds send_timeout);

}  // namespace velmar::standin
