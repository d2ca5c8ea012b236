// Wall clock, monotonic clock and local time: what both systems share.
#include "platform/clock.h"

#include <iomanip>
#include <locale>
#include <sstream>

namespace velmar::platform {

std::string format_local_time(std::int64_t seconds, const char* pattern) {
    const std::optional<std::tm> local = local_time(seconds);
    if (!local) {
        return {};
    }
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::put_time(&*local, pattern);
    return text.str();
}

}  // namespace velmar::platform
