// sim-standin's call log and packet log, each line flushed as it is written.

#include "call_log.h"

#include <charconv>
#include <cmath>

namespace velmar::standin {

namespace {

template <typename Number>
std::string shortest(Number value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

struct ArgumentWriter {
    std::string text;
    void blank() {
        if (!text.empty()) text += ' ';
    }
    void operator()(std::uint32_t value) { blank(), text += std::to_string(value); }
    void operator()(std::int32_t value) { blank(), text += std::to_string(value); }
    void operator()(float value) { blank(), text += log_float(value); }
    void operator()(const protocol::Text& value) { blank(), text += log_string(value); }
    void operator()(const protocol::Bytes& value) {
        blank(), text += log_hex(value.null ? std::nullopt : std::optional<std::string>(value.value));
    }
};

}  // namespace

std::string log_arguments(const protocol::Call& call) {
    return std::visit(
        [](auto arguments) {
            ArgumentWriter writer;
            arguments.visit(writer);
            return writer.text;
        },
        call);
}

void PacketLog::write(std::uint64_t connection, const std::uint8_t* packet, std::size_t size) {
    if (!file_.is_open()) return;
    std::string line = std::to_string(connection) + ' ';
    line += log_hex(std::string(reinterpret_cast<const char*>(packet), size));
    file_.write_line(line);
}

std::string log_string(const std::optional<std::string>& text) {
    if (!text) return "null";
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : *text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                const auto byte = static_cast<unsigned char>(c);
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xf];
                } else {
                    out += c;
                }
            }
        }
    }
    out += '"';
    return out;
}

std::string log_string(const protocol::Text& text) {
    return log_string(text.null ? std::nullopt : std::optional<std::string>(text.value));
}

std::string log_float(float value) { return shortest(value); }

std::string log_double(double value) { return shortest(value); }

std::string log_hex(const std::optional<std::string>& bytes) {
    if (!bytes) return "null";
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes->size() * 2);
    for (const char c : *bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += kHex[byte >> 4];
        out += kHex[byte & 0xf];
    }
    return out;
}

LineFile::~LineFile() {
    if (file_ != nullptr) std::fclose(file_);
}

bool LineFile::open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void LineFile::write_line(std::string_view line) {
    if (file_ == nullptr) return;
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

}  // namespace velmar::standin
