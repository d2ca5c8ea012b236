// sim-standin: the simulator that the substitute SimConnect library talks to.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "server.h"

namespace {

velmar::standin::Server* g_server = nullptr;

extern "C" void on_stop_signal(int) {
    if (g_server != nullptr) g_server->request_stop();
}

constexpr std::string_view kUsage =
    "usage: sim-standin [--port N] [--rate HZ] [--aircraft PATH] [--log FILE] [--packet-log FILE] [--script FILE]";

void print_line(std::FILE* stream, std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

bool parse_port(const std::string& text, std::uint16_t& port) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value > 65535 || text[0] == '-' || text[0] == '+') return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

int usage_error(const std::string& message) {
    print_line(stderr, "sim-standin: " + message);
    print_line(stderr, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    velmar::standin::ServerOptions options;
    if (const char* variable = std::getenv(velmar::standin::protocol::kPortVariable);
        variable != nullptr && *variable) {
        if (!parse_port(variable, options.port)) {
            return usage_error(std::string(velmar::standin::protocol::kPortVariable) + " is not a port: " + variable);
        }
    }

    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        if (option == "--help" || option == "-h") {
            print_line(stdout, kUsage);
            return 0;
        }
        if (const auto equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return usage_error(option == "--port" || option == "--rate" || option == "--aircraft" ||
                                       option == "--log" || option == "--packet-log" || option == "--script"
                                   ? option + " needs a value"
                                   : "unknown option " + option);
        }
        if (option == "--port") {
            if (!parse_port(value, options.port)) return usage_error("--port needs a number from 0 to 65535");
        } else if (option == "--rate") {
            char* end = nullptr;
            const double rate = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(rate > 0 && rate <= 1000)) {
                return usage_error("--rate needs a number of frames per second above 0, at most 1000");
            }
            options.rate_hz = rate;
        } else if (option == "--aircraft") {
            if (value.size() > velmar::standin::kMaxPathBytes)
                return usage_error("--aircraft path longer than 260 bytes");
            options.aircraft_path = value;
        } else if (option == "--log") {
            options.log_path = value;
        } else if (option == "--packet-log") {
            options.packet_log_path = value;
        } else if (option == "--script") {
            options.script_path = value;
        } else {
            return usage_error("unknown option " + option);
        }
    }

    velmar::standin::Server server(
        options, [](std::string_view line) { print_line(stdout, line); },
        [](std::string_view line) { print_line(stderr, line); });
    if (!server.start()) return 1;
    server.add_control_input(0);

    g_server = &server;
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const int status = server.run();
    g_server = nullptr;
    return status;
}
