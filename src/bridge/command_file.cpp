#include "bridge/command_file.h"

namespace velmar {

std::string first_command_line(std::string_view head) {
    std::string_view line = head.substr(0, head.find('\n'));
    if (line.size() < head.size() && !line.empty() && line.back() == '\r') {
        line.remove_suffix(1);  // ended by CR LF
    }
    return std::string(line.substr(0, kMaxCommandLineBytes));
}

std::string printable_command(std::string_view line) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            text.append({'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]});
        } else {
            text.push_back(c);
        }
    }
    return text;
}

}  // namespace velmar
