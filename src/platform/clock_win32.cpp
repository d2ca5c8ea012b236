#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

#include "platform/clock.h"

namespace velmar::platform {

std::int64_t wall_clock_seconds() { return static_cast<std::int64_t>(_time64(nullptr)); }

// msvcrt's strftime knows only the C89 conversions (no %F or %T).
std::string format_local_time(std::int64_t seconds, const char* pattern) {
    const __time64_t time = seconds;
    std::tm local{};
    if (_localtime64_s(&local, &time) != 0) {
        return {};
    }
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::put_time(&local, pattern);
    return text.str();
}

}  // namespace velmar::platform
