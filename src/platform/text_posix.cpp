// Text conversions on POSIX.
#include "platform/text.h"

namespace velmar::platform {

std::string to_valid_utf8(std::string_view text) {
    // No code page to guess from: narrow text here is meant to be UTF-8.
    return replace_ill_formed_utf8(text);
}

}  // namespace velmar::platform
