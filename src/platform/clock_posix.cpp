// Local time on POSIX.
#include <ctime>
#include <mutex>

#include "platform/clock.h"

namespace velmar::platform {

std::int64_t wall_clock_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::optional<std::tm> local_time(std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    // tzset replaces the C library's time-zone strings, and the bridge's two
    // threads both format local times (recording names, the diagnostic file).
    static std::mutex time_zone_mutex;
    std::lock_guard lock(time_zone_mutex);
    // localtime_r need not read TZ again by itself.
    tzset();
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) {
        return std::nullopt;
    }
    return local;
}

}  // namespace velmar::platform
