#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

#include "platform/clock.h"

namespace velmar::platform {

std::int64_t wall_clock_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string format_local_time(std::int64_t seconds, const char* pattern) {
    const auto time = static_cast<std::time_t>(seconds);
    // localtime_r need not read TZ again by itself.
    tzset();
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) {
        return {};
    }
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::put_time(&local, pattern);
    return text.str();
}

}  // namespace velmar::platform
