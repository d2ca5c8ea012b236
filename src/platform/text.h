// Text for the console: valid UTF-8, control codes escaped, ASCII case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmar::platform {

// One step of UTF-8 decoding at the start of a non-empty `text`: the size of
// the next character when it is well-formed, or else the size of the
// ill-formed piece there (its maximal subpart, at least one byte), so that a
// repair replaces each piece with exactly one U+FFFD.
struct Utf8Step {
    std::size_t size;
    bool valid;
};

inline Utf8Step utf8_step(std::string_view text) noexcept {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
        return {1, true};
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // range of the second byte; later bytes are 80..BF
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= text.size()) {
            return {i, false};
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < low || byte > high) {
            return {i, false};
        }
        low = 0x80;
        high = 0xBF;
    }
    return {length, true};
}

inline bool is_valid_utf8(std::string_view text) noexcept {
    while (!text.empty()) {
        const Utf8Step step = utf8_step(text);
        if (!step.valid) {
            return false;
        }
        text.remove_prefix(step.size);
    }
    return true;
}

// `text` with each ill-formed piece replaced by U+FFFD.
inline std::string replace_ill_formed_utf8(std::string_view text) {
    constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
    std::string result;
    result.reserve(text.size() + 8);
    while (!text.empty()) {
        const Utf8Step step = utf8_step(text);
        result.append(step.valid ? text.substr(0, step.size) : kReplacementCharacter);
        text.remove_prefix(step.size);
    }
    return result;
}

// `text` fit for a terminal, so text from outside cannot send control
// sequences to the user's console: each byte of a control code written as
// \xNN. Control codes are the C0 bytes (below 0x20), DEL (0x7F), and the C1
// codes, both as raw bytes 0x80-0x9F that are not part of valid UTF-8 and as
// the code points U+0080-U+009F (C2 80 - C2 9F), which terminals obey alike.
// Other text, ill-formed bytes included, is kept as it is.
inline std::string escape_control_bytes(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        escaped.append({'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]});
    };
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        const Utf8Step step = utf8_step(text);
        const std::size_t size = step.valid ? step.size : 1;  // an ill-formed piece byte by byte
        const bool control = byte < 0x20 || byte == 0x7F || (!step.valid && byte >= 0x80 && byte <= 0x9F) ||
                             (step.valid && byte == 0xC2 && static_cast<unsigned char>(text[1]) <= 0x9F);
        for (const char c : text.substr(0, size)) {
            control ? escape(static_cast<unsigned char>(c)) : escaped.push_back(c);
        }
        text.remove_prefix(size);
    }
    return escaped;
}

// Byte-wise case of a to z only, as in the C locale, whatever locale the
// process runs in: names and words from files and the simulator are ASCII.
inline std::string shift_ascii_letters(std::string_view text, char first, char last, int offset) {
    std::string result(text);
    for (char& c : result) {
        if (c >= first && c <= last) {
            c = static_cast<char>(c + offset);
        }
    }
    return result;
}

inline std::string to_upper_ascii(std::string_view text) { return shift_ascii_letters(text, 'a', 'z', 'A' - 'a'); }

inline std::string to_lower_ascii(std::string_view text) { return shift_ascii_letters(text, 'A', 'Z', 'a' - 'A'); }

// `text` as well-formed UTF-8. Text that already is comes back unchanged.
// Otherwise Windows reads it in the ANSI code page (the narrow text of the
// system's own APIs); elsewhere each ill-formed piece becomes U+FFFD.
std::string to_valid_utf8(std::string_view text);

}  // namespace velmar::platform
