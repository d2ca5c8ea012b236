// Text conversions on Windows.
#include <climits>

#include "platform/text.h"

#include "platform/windows_api.h"

namespace velmar::platform {

std::string to_valid_utf8(std::string_view text) {
    if (is_valid_utf8(text)) {
        return std::string(text);
    }
    // The simulator and the C runtime hand over narrow text in the ANSI code
    // page; read it in that page. Should the conversion fail, fall back to the
    // replacement character so the result is well-formed all the same.
    if (text.size() > static_cast<std::size_t>(INT_MAX / 4)) {
        return replace_ill_formed_utf8(text);
    }
    const int size = static_cast<int>(text.size());
    const int wide_size = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wide_size <= 0) {
        return replace_ill_formed_utf8(text);
    }
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), wide_size);
    const int utf8_size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    if (utf8_size <= 0) {
        return replace_ill_formed_utf8(text);
    }
    std::string result(static_cast<std::size_t>(utf8_size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, result.data(), utf8_size, nullptr, nullptr);
    return replace_ill_formed_utf8(result);  // a guard: well-formed whatever the conversion did
}

}  // namespace velmar::platform
