// Local time on Windows.
#include <ctime>

#include "platform/clock.h"

namespace velmar::platform {

std::int64_t wall_clock_seconds() { return static_cast<std::int64_t>(_time64(nullptr)); }

std::optional<std::tm> local_time(std::int64_t seconds) {
    const __time64_t time = seconds;
    std::tm local{};
    if (_localtime64_s(&local, &time) != 0) {
        return std::nullopt;
    }
    return local;
}

}  // namespace velmar::platform
