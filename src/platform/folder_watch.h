// A wait that a change of the command file ends: the command wake.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/wakeup.h"

namespace velmar::platform {

// Tells one waiting thread when a file in a folder may have been written:
// closed after writing, or moved into its place. Changes to the folder's
// other files wake the waiter only long enough to look at their names.
// The system may have no watch to give (limits, network folders): then
// wait_until only waits for the wakeup or the time.
class FolderWatch {
public:
    // Watches nothing until start.
    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches `file_name` in `folder` (which ends with a separator, or is
    // empty for the working directory); why not, when the system refuses.
    std::string start(const std::string& folder, const std::string& file_name);
    bool watching() const { return watch_ != nullptr; }

    enum class Woken { file_changed, wakeup, timeout };
    // Blocks until the file may have changed, `wakeup` is set (which clears
    // it) or `deadline` has passed. The deadline is never cut short otherwise.
    Woken wait_until(Wakeup& wakeup, std::chrono::steady_clock::time_point deadline);

private:
    struct Watch;  // the system's own objects; null when not watching
    std::unique_ptr<Watch> watch_;
};

}  // namespace velmar::platform
