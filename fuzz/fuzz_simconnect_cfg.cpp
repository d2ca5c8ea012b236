// The library's SimConnect.cfg reader on whatever a user may write: the
// first byte picks Open's config index, the rest is the file. Open either gets
// one TCP endpoint it can use, or no endpoint and one error line that cannot
// steer a terminal; LOCAL never looks at the file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "config.h"

namespace {

using velmar::standin::EndpointChoice;
using velmar::standin::EndpointSources;
using velmar::standin::TcpEndpoint;

constexpr std::uint32_t kIndexes[] = {0, 1, 2, velmar::standin::kLocalConfigIndex};

bool printable_line(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return !text.empty() && text.size() < 400;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    EndpointSources sources;
    sources.config_index = kIndexes[data[0] % 4];
    sources.config_text = std::string(reinterpret_cast<const char*>(data + 1), size - 1);
    const EndpointChoice choice = velmar::standin::choose_endpoints(sources);

    if (sources.config_index == velmar::standin::kLocalConfigIndex) {
        sources.config_text.reset();
        const EndpointChoice without = velmar::standin::choose_endpoints(sources);
        if (choice.endpoints != without.endpoints || !choice.error.empty()) __builtin_trap();
        return 0;
    }
    if (choice.error.empty()) {
        if (choice.endpoints.size() != 1 || choice.no_section) __builtin_trap();
        const auto* tcp = std::get_if<TcpEndpoint>(&choice.endpoints.front());
        if (tcp == nullptr || tcp->address.empty() || tcp->port == 0) __builtin_trap();
    } else if (!choice.endpoints.empty() || !printable_line(choice.error)) {
        __builtin_trap();
    }
    return 0;
}
