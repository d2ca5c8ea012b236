// The command file as the bridge reads it: any bytes written into a real file,
// one poll of an idle (unconnected) bridge, which reads the first line and
// dispatches it. The first-line rule is checked against a plain restatement,
// the echo against control bytes, and the file against the protocol: emptied
// after a non-empty first line, untouched after an empty one.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "bridge/command_file.h"
#include "bridge/file_bridge.h"
#include "platform/text.h"

namespace {

std::string expected_first_line(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);  // a byte-order mark is skipped
    std::size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::string(line.substr(0, velmar::kMaxCommandLineBytes));
}

// What reaches the terminal holds no control code: no C0 byte, no DEL, no C1
// code either raw (outside valid UTF-8) or as a code point U+0080-U+009F.
void check_printable(std::string_view line) {
    std::string printed = velmar::printable_command(line);
    for (std::string_view rest = printed; !rest.empty();) {
        const velmar::platform::Utf8Step step = velmar::platform::utf8_step(rest);
        const auto byte = static_cast<unsigned char>(rest[0]);
        if (byte < 0x20 || byte == 0x7F) __builtin_trap();
        if (!step.valid && byte >= 0x80 && byte <= 0x9F) __builtin_trap();
        if (step.valid && byte == 0xC2 && static_cast<unsigned char>(rest[1]) <= 0x9F) __builtin_trap();
        rest.remove_prefix(step.valid ? step.size : 1);
    }
}

struct Fixture {
    std::filesystem::path folder;
    velmar::FileBridge bridge;
    Fixture() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmar-fuzz-XXXXXX").string();
        folder = mkdtemp(pattern.data());
        // Nowhere to record: START_TEST runs without opening files.
        setenv("APPDATA", "/nonexistent/velmar-fuzz", 1);
        // The bridge's console lines would only slow the run down.
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        bridge.setup_data_folder(folder.string());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string_view head = input.substr(0, velmar::kCommandReadBytes);
    std::string line = velmar::first_command_line(head);
    if (line != expected_first_line(head)) __builtin_trap();
    check_printable(line);

    const std::string& path = fixture.bridge.command_file_path();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(input.data(), static_cast<std::streamsize>(input.size()));
    }
    fixture.bridge.poll_command_file();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream after;
    after << in.rdbuf();
    if (line.empty() ? after.str() != input : !after.str().empty()) __builtin_trap();
    return 0;
}
