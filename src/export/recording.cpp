// Reading a test recording back: its lines, parsed as written.
#include "export/recording.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

#include "bridge/flight_json.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace velmar {

namespace {

std::size_t index_of(std::string_view key) {
    const auto keys = flight_json_keys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].name == key) return i;
    }
    return keys.size();
}

// A cursor over one line, for the few JSON forms a recording line holds.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    void skip_blanks() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
            ++at_;
    }
    bool take(std::string_view token) {
        skip_blanks();
        if (text_.substr(at_, token.size()) != token) return false;
        at_ += token.size();
        return true;
    }
    bool at_end() {
        skip_blanks();
        return at_ == text_.size();
    }
    std::size_t column() const { return at_ + 1; }

    // A JSON number, spelled as in the line.
    bool number(std::string& out) {
        skip_blanks();
        const std::size_t start = at_;
        if (peek() == '-') ++at_;
        if (peek() == '0') {
            ++at_;
        } else if (!digits()) {
            return false;
        }
        if (peek() == '.') {
            ++at_;
            if (!digits()) return false;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-') ++at_;
            if (!digits()) return false;
        }
        out.assign(text_.substr(start, at_ - start));
        return true;
    }

    // A JSON string, decoded to UTF-8; false when it is not well-formed.
    bool string(std::string& out) {
        if (!take("\"")) return false;
        out.clear();
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return platform::is_valid_utf8(out);
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (at_ == text_.size()) return false;
            switch (text_[at_++]) {
                case '"':
                    out.push_back('"');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                case '/':
                    out.push_back('/');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u':
                    if (!code_point(out)) return false;
                    break;
                default:
                    return false;
            }
        }
        return false;
    }

private:
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool digits() {
        const std::size_t start = at_;
        while (peek() >= '0' && peek() <= '9') ++at_;
        return at_ > start;
    }
    bool hex4(unsigned& value) {
        if (text_.size() - at_ < 4) return false;
        const auto result = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, value, 16);
        if (result.ptr != text_.data() + at_ + 4 || text_[at_] == '+' || text_[at_] == '-') return false;
        at_ += 4;
        return true;
    }
    // After "\u": one code point, or a surrogate pair as two escapes.
    bool code_point(std::string& out) {
        unsigned value = 0;
        if (!hex4(value)) return false;
        if (value >= 0xDC00 && value <= 0xDFFF) return false;
        if (value >= 0xD800 && value <= 0xDBFF) {
            unsigned low = 0;
            if (!take("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
        }
        if (value < 0x80) {
            out.push_back(static_cast<char>(value));
        } else if (value < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (value >> 6)));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        } else if (value < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (value >> 12)));
            out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (value >> 18)));
            out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        }
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

const std::string& RecordedSample::operator[](std::string_view key) const { return text.at(index_of(key)); }

namespace {

// For a JSON number that does not fit a double: whether it is too small (it
// reads as zero) rather than too large. The leading digit's decimal place plus
// the exponent says which.
bool underflows(std::string_view number) {
    const std::size_t e = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = number.substr(e + 1);
        if (digits.front() == '+') digits.remove_prefix(1);
        const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        if (parsed.ec != std::errc()) return digits.front() == '-';  // beyond any mantissa's length
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return true;
    const long long place = first < point ? static_cast<long long>(point - first) : -static_cast<long long>(first - point - 1);
    return exponent < -place;  // not place + exponent: that may overflow
}

// A JSON number's double; nullopt when it is too large for one.
std::optional<double> to_double(std::string_view number) {
    double result = 0;
    const auto parsed = std::from_chars(number.data(), number.data() + number.size(), result);
    if (parsed.ec == std::errc::result_out_of_range && underflows(number)) return number.front() == '-' ? -0.0 : 0.0;
    if (parsed.ec != std::errc()) return std::nullopt;
    return result;
}

}  // namespace

std::optional<double> RecordedSample::number(std::string_view key) const { return numbers.at(index_of(key)); }

std::string parse_recording_line(std::string_view line, RecordedSample& sample) {
    Scanner scan(line);
    if (!scan.take("{")) return "no JSON object";
    const auto keys = flight_json_keys();
    std::string name;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::string& value = sample.text[i];
        // A name is a JSON string like any other, escapes included.
        if ((i > 0 && !scan.take(",")) || !scan.string(name) || name != keys[i].name || !scan.take(":")) {
            return "\"" + std::string(keys[i].name) + "\" expected at column " + std::to_string(scan.column());
        }
        bool valid = false;
        switch (keys[i].kind) {
            case FlightJsonKind::integer: {
                valid = scan.number(value);
                const auto result = std::from_chars(value.data(), value.data() + value.size(), sample.timestamp_ms);
                valid = valid && result.ec == std::errc() && result.ptr == value.data() + value.size();
                break;
            }
            case FlightJsonKind::number:
                sample.numbers[i].reset();
                if (scan.number(value)) {
                    sample.numbers[i] = to_double(value);
                    valid = sample.numbers[i].has_value();  // a double's range, as any JSON reader's
                } else if (scan.take("null")) {
                    value.clear();
                    valid = true;
                }
                break;
            case FlightJsonKind::flag:
                for (const std::string_view word : {"true", "false"}) {
                    if (!valid && scan.take(word)) {
                        value.assign(word);
                        valid = true;
                    }
                }
                break;
            case FlightJsonKind::text:
                valid = scan.string(value);
                break;
        }
        if (!valid)
            return "a bad value of \"" + std::string(keys[i].name) + "\" at column " + std::to_string(scan.column());
    }
    if (!scan.take("}") || !scan.at_end()) return "more than a sample at column " + std::to_string(scan.column());
    return {};
}

std::string RecordingReader::open(const std::string& path) {
    in_.close();
    line_number_ = 0;
    torn_line_ = 0;
    error_.clear();
    if (platform::is_directory(path)) return "it is a folder";
    errno = 0;
    in_.open(path, std::ios::binary);
    if (!in_) return errno != 0 ? std::error_code(errno, std::generic_category()).message() : "it cannot be opened";
    return {};
}

bool RecordingReader::next(RecordedSample& sample) {
    if (!std::getline(in_, line_)) {
        if (in_.bad()) error_ = "it cannot be read";
        return false;
    }
    ++line_number_;
    const bool has_line_end = !in_.eof();
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    const std::string problem = parse_recording_line(line_, sample);
    if (problem.empty()) return true;
    if (!has_line_end) {
        torn_line_ = line_number_;
        return false;
    }
    error_ = "line " + std::to_string(line_number_) + " is not a sample (" + problem + ")";
    return false;
}

}  // namespace velmar
