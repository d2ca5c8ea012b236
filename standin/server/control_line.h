#pragma once

// Control lines: what a test tells the stand-in through standard input or a
// script, one command a line.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "protocol.h"

namespace velmar::standin {

struct FailCommand {
    protocol::Function function;
    std::int32_t result;                 // 0 restores normal answers
    std::optional<std::uint32_t> count;  // nothing: every later call
};
struct ExceptionCommand {
    std::uint32_t code;
};
struct EventCommand {
    std::uint32_t event_id;
    std::uint32_t data;
};
struct SampleCommand {
    std::uint32_t request_id;
    std::array<double, 9> values;
};
struct StateCommand {
    std::uint32_t request_id;
    std::string text;
};
struct AircraftCommand {
    std::string path;
};
struct FreezeCommand {
    bool on;
};
struct QuitCommand {};
struct WaitCommand {
    std::uint32_t milliseconds;
};
struct ExitCommand {};
// hold: the next call of `function` is answered only at the matching release.
struct HoldCommand {
    protocol::Function function;
    bool hold;  // false: release
};

// refuse: the next calls of `function` are answered as sent, then refused by an exception record.
struct RefuseCommand {
    protocol::Function function;
    std::uint32_t code;                  // 0 ends the refusals
    std::optional<std::uint32_t> count;  // nothing: every later call
};
struct PauseCommand {
    std::uint32_t modes;
};
struct UnknownVariableCommand {
    std::string name;
};
struct SilenceCommand {
    bool silent;  // false: resume
};

using ControlCommand = std::variant<FailCommand, ExceptionCommand, EventCommand, SampleCommand, StateCommand,
                                    AircraftCommand, FreezeCommand, QuitCommand, WaitCommand, ExitCommand, HoldCommand,
                                    RefuseCommand, PauseCommand, UnknownVariableCommand, SilenceCommand>;

struct ParsedControl {
    std::optional<ControlCommand> command;  // nothing: skip the line (see error)
    std::string error;                      // empty for blank and comment lines, which are skipped silently
};

// Longest path a system-state record carries (its szString has no room for more).
inline constexpr std::size_t kMaxPathBytes = 260;

ParsedControl parse_control_line(std::string_view line);

}  // namespace velmar::standin
