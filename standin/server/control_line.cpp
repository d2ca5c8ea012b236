// sim-standin's control lines parsed into commands, with the error a bad line gets.

#include "control_line.h"

#include <charconv>
#include <limits>
#include <vector>

#include "session.h"

namespace velmar::standin {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> split_words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && is_blank(line[pos])) ++pos;
        const std::size_t start = pos;
        while (pos < line.size() && !is_blank(line[pos])) ++pos;
        if (pos > start) words.push_back(line.substr(start, pos - start));
    }
    return words;
}

// Whole-word decimal integer within [low, high].
std::optional<std::int64_t> parse_integer(std::string_view word, std::int64_t low, std::int64_t high) {
    std::int64_t value = 0;
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (error != std::errc{} || stop != end || value < low || value > high) return std::nullopt;
    return value;
}

constexpr std::int64_t kDwordMax = std::numeric_limits<std::uint32_t>::max();
constexpr std::int64_t kIntMin = std::numeric_limits<std::int32_t>::min();

std::optional<std::uint32_t> parse_dword(std::string_view word) {
    const auto value = parse_integer(word, 0, kDwordMax);
    if (!value) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

// A 32-bit value written signed or unsigned (HRESULTs, event data).
std::optional<std::uint32_t> parse_bits32(std::string_view word) {
    const auto value = parse_integer(word, kIntMin, kDwordMax);
    if (!value) return std::nullopt;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(*value) & 0xffffffffu);
}

std::optional<double> parse_double(std::string_view word) {
    double value = 0;
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

ParsedControl failure(std::string message) { return ParsedControl{std::nullopt, std::move(message)}; }

// The text after the one blank that follows the word ending at `word_end`.
std::string_view text_after(std::string_view line, std::size_t word_end) {
    if (word_end >= line.size()) return {};
    return line.substr(word_end + 1);
}

std::size_t end_of(std::string_view line, std::string_view word) {
    return static_cast<std::size_t>(word.data() - line.data()) + word.size();
}

ParsedControl parse_path_command(std::string_view line, const std::vector<std::string_view>& words) {
    const std::string_view& verb = words[0];
    if (verb == "aircraft") {
        const std::string_view path = text_after(line, end_of(line, verb));
        if (path.size() > kMaxPathBytes) return failure("path longer than 260 bytes");
        return ParsedControl{AircraftCommand{std::string(path)}, {}};
    }
    if (words.size() < 2) return failure("usage: state REQUEST PATH");
    const auto request = parse_dword(words[1]);
    if (!request) return failure("REQUEST must be a number from 0 to 4294967295");
    const std::string_view text = text_after(line, end_of(line, words[1]));
    if (text.size() > kMaxPathBytes) return failure("path longer than 260 bytes");
    return ParsedControl{StateCommand{*request, std::string(text)}, {}};
}

}  // namespace

ParsedControl parse_control_line(std::string_view line) {
    const std::vector<std::string_view> words = split_words(line);
    if (words.empty() || words[0].front() == '#') return {};
    const std::string_view verb = words[0];
    const std::size_t arguments = words.size() - 1;

    if (verb == "state" || verb == "aircraft") return parse_path_command(line, words);
    if (verb == "fail") {
        if (arguments < 2 || arguments > 3) return failure("usage: fail FUNCTION HRESULT [COUNT]");
        const auto function = protocol::function_named(words[1]);
        if (!function) return failure("unknown function '" + std::string(words[1]) + "'");
        const auto result = parse_bits32(words[2]);
        if (!result) return failure("HRESULT must be a 32-bit decimal number");
        std::optional<std::uint32_t> count;
        if (arguments == 3) {
            count = parse_dword(words[3]);
            if (!count || *count == 0) return failure("COUNT must be a number from 1 to 4294967295");
        }
        return ParsedControl{FailCommand{*function, static_cast<std::int32_t>(*result), count}, {}};
    }
    if (verb == "exception") {
        if (arguments != 1) return failure("usage: exception CODE");
        const auto code = parse_dword(words[1]);
        if (!code) return failure("CODE must be a number from 0 to 4294967295");
        return ParsedControl{ExceptionCommand{*code}, {}};
    }
    if (verb == "event") {
        if (arguments < 1 || arguments > 2) return failure("usage: event ID [DATA]");
        const auto id = parse_dword(words[1]);
        if (!id) return failure("ID must be a number from 0 to 4294967295");
        std::uint32_t data = 0;
        if (arguments == 2) {
            const auto parsed = parse_bits32(words[2]);
            if (!parsed) return failure("DATA must be a 32-bit decimal number");
            data = *parsed;
        }
        return ParsedControl{EventCommand{*id, data}, {}};
    }
    if (verb == "sample") {
        if (arguments != 10) return failure("usage: sample REQUEST V1 V2 V3 V4 V5 V6 V7 V8 V9");
        const auto request = parse_dword(words[1]);
        if (!request) return failure("REQUEST must be a number from 0 to 4294967295");
        SampleCommand sample{*request, {}};
        for (std::size_t i = 0; i < sample.values.size(); ++i) {
            const auto value = parse_double(words[i + 2]);
            if (!value) return failure("'" + std::string(words[i + 2]) + "' is not a number");
            sample.values[i] = *value;
        }
        return ParsedControl{sample, {}};
    }
    if (verb == "freeze") {
        if (arguments == 1 && words[1] == "on") return ParsedControl{FreezeCommand{true}, {}};
        if (arguments == 1 && words[1] == "off") return ParsedControl{FreezeCommand{false}, {}};
        return failure("usage: freeze on|off");
    }
    if (verb == "quit" || verb == "exit") {
        if (arguments != 0) return failure("usage: " + std::string(verb));
        if (verb == "quit") return ParsedControl{QuitCommand{}, {}};
        return ParsedControl{ExitCommand{}, {}};
    }
    if (verb == "hold" || verb == "release") {
        if (arguments != 1) return failure("usage: " + std::string(verb) + " FUNCTION");
        const auto function = protocol::function_named(words[1]);
        if (!function) return failure("unknown function '" + std::string(words[1]) + "'");
        return ParsedControl{HoldCommand{*function, verb == "hold"}, {}};
    }
    if (verb == "refuse") {
        if (arguments < 2 || arguments > 3) return failure("usage: refuse FUNCTION CODE [COUNT]");
        const auto function = protocol::function_named(words[1]);
        if (!function) return failure("unknown function '" + std::string(words[1]) + "'");
        if (*function == protocol::Function::Open || *function == protocol::Function::Close)
            return failure("only calls after SimConnect_Open are refused");
        const auto code = parse_dword(words[2]);
        if (!code) return failure("CODE must be a number from 0 to 4294967295");
        std::optional<std::uint32_t> count;
        if (arguments == 3) {
            count = parse_dword(words[3]);
            if (!count || *count == 0) return failure("COUNT must be a number from 1 to 4294967295");
        }
        return ParsedControl{RefuseCommand{*function, *code, count}, {}};
    }
    if (verb == "pause") {
        const auto modes = arguments == 1 ? parse_dword(words[1]) : std::nullopt;
        if (!modes || (*modes & ~kAllPauseModes) != 0)
            return failure("usage: pause MODES (a sum of 1 pause, 4 active, 8 sim; 0 runs)");
        return ParsedControl{PauseCommand{*modes}, {}};
    }
    if (verb == "unknown-var") {
        const std::string_view name = text_after(line, end_of(line, verb));
        if (arguments == 0) return failure("usage: unknown-var NAME");
        return ParsedControl{UnknownVariableCommand{std::string(name)}, {}};
    }
    if (verb == "silence" || verb == "resume") {
        if (arguments != 0) return failure("usage: " + std::string(verb));
        return ParsedControl{SilenceCommand{verb == "silence"}, {}};
    }
    if (verb == "wait") {
        if (arguments != 1) return failure("usage: wait MS");
        const auto milliseconds = parse_dword(words[1]);
        if (!milliseconds) return failure("MS must be a number from 0 to 4294967295");
        return ParsedControl{WaitCommand{*milliseconds}, {}};
    }
    return failure("unknown command '" + std::string(verb) + "'");
}

}  // namespace velmar::standin
