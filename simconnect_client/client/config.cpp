// Where SimConnect_Open connects: the SimConnect.cfg reader and the order of endpoints.

#include "config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

namespace velmar::standin {

namespace {

// The value of an environment variable, or nothing when unset. The library's
// one reader: it cannot use the product's platform layer.
std::optional<std::string> environment_value(const char* name) {
#ifdef _MSC_VER
    char* value = nullptr;
    std::size_t length = 0;
    if (_dupenv_s(&value, &length, name) != 0 || value == nullptr) return std::nullopt;
    std::string copy(value);
    std::free(value);
    return copy;
#else
    // mingw's msvcrt import library lacks _dupenv_s.
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
#endif
}

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// A value from the file or the environment as the error line shows it: no
// control characters that a terminal would act on, and not too long.
std::string shown(std::string_view text) {
    constexpr std::size_t kLongest = 60;
    std::string result(text.substr(0, kLongest));
    for (char& c : result) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text.size() > kLongest ? result + "..." : result;
}

std::string section_name(std::uint32_t index) { return "SimConnect." + std::to_string(index); }

struct Section {
    std::map<std::string, std::string> values;  // keys in lower case; the first of repeated keys wins
    std::string error;                          // a line of the section that is no setting
};

// The sections of an INI text by lower-case name; the first of repeated
// sections wins, as with the Windows profile functions.
std::map<std::string, Section> parse_ini(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::map<std::string, Section> sections;
    Section* current = nullptr;
    int line_number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++line_number;
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            const auto [entry, inserted] = sections.try_emplace(lower(trim(line.substr(1, line.size() - 2))));
            current = inserted ? &entry->second : nullptr;
            continue;
        }
        if (current == nullptr) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            if (current->error.empty()) {
                current->error = "line " + std::to_string(line_number) + " is no setting: " + shown(line);
            }
            continue;
        }
        current->values.try_emplace(lower(trim(line.substr(0, equals))), std::string(trim(line.substr(equals + 1))));
    }
    return sections;
}

EndpointChoice failure(std::string text) { return {{}, std::move(text)}; }

EndpointChoice from_config(std::string_view text, std::uint32_t index) {
    const std::string prefix = std::string(kConfigFileName) + ": ";
    const std::map<std::string, Section> sections = parse_ini(text);
    // Index 0 is the plain [SimConnect] unless a [SimConnect.0] is there.
    auto found = sections.find(lower(section_name(index)));
    if (found == sections.end() && index == 0) found = sections.find("simconnect");
    if (found == sections.end()) {
        EndpointChoice none =
            failure(prefix + "no section [" + section_name(index) + "]" + (index == 0 ? " or [SimConnect]" : "") +
                    " for config index " + std::to_string(index));
        none.no_section = true;
        return none;
    }
    const std::string where = prefix + "[" + (found->first == "simconnect" ? "SimConnect" : section_name(index)) + "] ";
    const Section& section = found->second;
    if (!section.error.empty()) return failure(where + section.error);
    const auto value = [&](const char* key) -> std::optional<std::string> {
        const auto entry = section.values.find(key);
        if (entry == section.values.end() || entry->second.empty()) return std::nullopt;
        return entry->second;
    };

    const std::optional<std::string> protocol = value("protocol");
    const std::optional<std::string> address = value("address");
    const std::optional<std::string> port_text = value("port");
    if (!protocol) return failure(where + "has no Protocol (IPv4 or IPv6)");
    TcpEndpoint endpoint;
    if (lower(*protocol) == "ipv4") {
        endpoint.family = net::Family::IPv4;
    } else if (lower(*protocol) == "ipv6") {
        endpoint.family = net::Family::IPv6;
    } else {
        return failure(where + "Protocol=" + shown(*protocol) + " is not supported: use IPv4 or IPv6");
    }
    if (!address) return failure(where + "has no Address");
    if (!port_text) return failure(where + "has no Port");
    const std::optional<std::uint16_t> port = parse_port(*port_text);
    if (!port) return failure(where + "Port=" + shown(*port_text) + " is not a port number (1 to 65535)");

    std::string_view host = *address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    endpoint.address = std::string(host);
    endpoint.port = *port;
    return {{endpoint}, {}};
}

TcpEndpoint loopback(std::uint16_t port) { return {net::Family::IPv4, "127.0.0.1", port}; }

}  // namespace

EndpointChoice choose_endpoints(const EndpointSources& sources) {
    if (sources.port_variable && !sources.port_variable->empty()) {
        const std::optional<std::uint16_t> port = parse_port(*sources.port_variable);
        if (!port) {
            return failure(std::string(protocol::kPortVariable) + "=" + shown(*sources.port_variable) +
                           " is not a port number (1 to 65535)");
        }
        return {{loopback(*port)}, {}};
    }
    if (sources.config_text && sources.config_index != kLocalConfigIndex)
        return from_config(*sources.config_text, sources.config_index);
    // Without a simulator running the pipe is absent; the stand-in's default
    // port is tried next.
    if (sources.windows) return {{PipeEndpoint{kSimulatorPipe}, loopback(protocol::kDefaultPort)}, {}};
    return {{loopback(protocol::kDefaultPort)}, {}};
}

Connected connect_to_simulator(std::uint32_t config_index, std::chrono::milliseconds timeout,
                               std::chrono::milliseconds send_timeout) {
    EndpointSources sources;
    sources.port_variable = environment_value(protocol::kPortVariable);
    sources.config_index = config_index;
    sources.windows = net::kHasNamedPipes;
    const auto refuse = [](const std::string& why, bool no_section = false) {
        std::fprintf(stderr, "SimConnect_Open: %s\n", why.c_str());
        std::fflush(stderr);
        return Connected{net::kNoSocket, no_section};
    };
    if ((!sources.port_variable || sources.port_variable->empty()) && config_index != kLocalConfigIndex) {
        if (std::FILE* file = std::fopen(kConfigFileName, "rb")) {
            std::string text;
            char chunk[4096];
            for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, got);
            const bool failed = std::ferror(file) != 0;
            std::fclose(file);
            if (failed) return refuse(std::string(kConfigFileName) + ": cannot be read");
            sources.config_text = std::move(text);
        }
    }

    const EndpointChoice choice = choose_endpoints(sources);
    if (!choice.error.empty()) return refuse(choice.error, choice.no_section);
    for (const Endpoint& endpoint : choice.endpoints) {
        const net::Socket socket =
            std::holds_alternative<PipeEndpoint>(endpoint)
                ? net::connect_pipe(std::get<PipeEndpoint>(endpoint).name, timeout, send_timeout)
                : net::connect_tcp(std::get<TcpEndpoint>(endpoint).address, std::get<TcpEndpoint>(endpoint).port,
                                   std::get<TcpEndpoint>(endpoint).family, timeout, send_timeout);
        if (socket != net::kNoSocket) return {socket, false};
    }
    return {};
}

}  // namespace velmar::standin
