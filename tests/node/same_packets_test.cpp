// Byte for byte: the bridge makes every call it knows against one stand-in;
// node-simconnect (an independent client, run unmodified) makes the same
// calls, read from that call log, against another. Each packet must be the
// same but for the send id, and both call logs the same.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "faults/fault_support.h"
#include "protocol.h"

namespace velmar::test {
namespace {

constexpr std::size_t kSendIdHexOffset = 24;
constexpr std::size_t kHeaderHexSize = 32;
constexpr std::size_t kArrayCountHexOffset = 56;  // SetDataOnSimObject's bytes 28 to 31

// The one difference allowed: the bridge writes one element with ArrayCount 0,
// as the SDK documents it ("a count of zero is interpreted as one element");
// node-simconnect's setDataOnSimObject always sends 1 for that. Both say 1 here.
void count_zero_as_one(std::string& hex) {
    if (hex.compare(kArrayCountHexOffset, 8, "00000000") == 0) hex.replace(kArrayCountHexOffset, 8, "01000000");
}
std::string count_zero_as_one(const std::string& call) {
    static const std::regex zero_count(R"(^(SimConnect_SetDataOnSimObject \d+ \d+ \d+) 0 )");
    return std::regex_replace(call, zero_count, "$1 1 ");
}

// The SimConnect packets of a packet log (all of one connection) in lowercase
// hex, the send id (bytes 12 to 15) blanked.
Lines packets(const std::filesystem::path& log) {
    Lines found;
    for (const std::string& line : split_lines(read_file(log))) {
        std::string hex = line.substr(line.find(' ') + 1);
        if (hex.size() < kHeaderHexSize) {
            ADD_FAILURE() << "short packet: " << line;
            continue;
        }
        // Our client's private packets for sim-standin are no SimConnect calls.
        std::uint8_t header[standin::protocol::kPacketHeaderBytes];
        for (std::size_t i = 0; i < sizeof header; ++i) {
            header[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
        }
        const std::uint32_t type = standin::protocol::read_header(header).type;
        if (type != static_cast<std::uint32_t>(standin::protocol::Packet::Open) &&
            standin::protocol::packet_function_name(type).empty()) {
            continue;
        }
        hex.replace(kSendIdHexOffset, 8, "........");
        if (type == static_cast<std::uint32_t>(standin::protocol::Packet::SetDataOnSimObject)) count_zero_as_one(hex);
        found.push_back(hex);
    }
    return found;
}

TEST(SamePackets, EveryCallOfTheBridgeMatchesNodeSimconnectByteForByte) {
    ScratchDir logs;
    BridgeOptions options;
    options.standin_arguments = {"--packet-log", (logs.path() / "ours").string()};
    BridgeRun run(options);
    // Every command word, so every call the bridge makes; then a clean end.
    ASSERT_TRUE(run.start_connected()) << run.bridge->output();
    for (const CommandWord& command : kCommandWords) {
        ASSERT_TRUE(run.command(command.word, command.lines.back())) << command.word;
    }
    ASSERT_TRUE(eventually([&] {
        const Lines lines = run.standin.log_lines();
        return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("\"AircraftLoaded\"") != std::string::npos;
        });
    }));
    ASSERT_TRUE(run.interrupt_cleanly());
    const Lines ours = run.standin.log_lines();
    ASSERT_EQ(ours.back(), "SimConnect_Close -> 0");
    ASSERT_EQ(std::count_if(ours.begin(), ours.end(),
                            [](const std::string& line) { return line.starts_with("SimConnect_Open "); }),
              1);

    Standin judged({"--packet-log", (logs.path() / "theirs").string()});
    Process replay({VELMAR_NODE_PROGRAM, VELMAR_NODE_DIR "/replay_calls.js", run.standin.log_path(),
                    std::to_string(judged.port()), judged.log_path()});
    ASSERT_EQ(replay.wait(60s), 0) << replay.output() << replay.error_output();
    // node-simconnect's close sends nothing, so the stand-in logs no Close for it.
    // A null string travels as an empty field, and the Open's event handle not
    // at all; only our client tells the stand-in of them.
    const Lines judged_calls = judged.log_lines();
    ASSERT_EQ(judged_calls.size() + 1, ours.size());
    const std::regex open_event(R"(^(SimConnect_Open "[^"]*" \d+ \d+) 1 )");
    for (std::size_t i = 0; i < judged_calls.size(); ++i) {
        const std::string call = std::regex_replace(ours[i], open_event, "$1 0 ");
        EXPECT_EQ(count_zero_as_one(judged_calls[i]),
                  count_zero_as_one(std::regex_replace(call, std::regex(" null "), " \"\" ")));
    }

    const Lines mine = packets(logs.path() / "ours");
    const Lines theirs = packets(logs.path() / "theirs");
    ASSERT_EQ(mine.size() + 1, ours.size()) << "one packet per call but Close";
    ASSERT_EQ(theirs.size(), mine.size());
    for (std::size_t i = 0; i < mine.size(); ++i) {
        EXPECT_EQ(mine[i], theirs[i]) << ours[i];
    }
}

}  // namespace
}  // namespace velmar::test
