// The command file's pure rules: its first line, and how a command is echoed.
#include "bridge/command_file.h"

#include "platform/text.h"

namespace velmar {

std::string first_command_line(std::string_view head) {
    if (head.starts_with(kByteOrderMark)) {
        head.remove_prefix(kByteOrderMark.size());
    }
    std::string_view line = head.substr(0, head.find('\n'));
    if (line.size() < head.size() && !line.empty() && line.back() == '\r') {
        line.remove_suffix(1);  // ended by CR LF
    }
    return std::string(line.substr(0, kMaxCommandLineBytes));
}

std::string printable_command(std::string_view line) { return platform::escape_control_bytes(line); }

}  // namespace velmar
