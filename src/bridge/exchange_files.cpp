// Writes of the data, status and state files: failures said once, counted, retried.
#include "bridge/exchange_files.h"

#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/filesystem.h"

namespace velmar {

ExchangeFiles::File& ExchangeFiles::file(const std::string& path) {
    std::lock_guard lock(mutex_);
    std::unique_ptr<File>& entry = files_[path];
    if (!entry) {
        entry = std::make_unique<File>();
    }
    return *entry;
}

std::error_code ExchangeFiles::attempt(const std::string& path, File& file, std::string_view text, Method method) {
    const std::error_code error =
        method == Method::replace ? platform::replace_whole(path, text) : platform::rewrite_in_place(path, text);
    file.pending = static_cast<bool>(error);
    if (error) {
        file.pending_text.assign(text);
        file.method = method;
    }
    return error;
}

void ExchangeFiles::write(const std::string& path, std::string_view text, Method method) {
    File& entry = file(path);
    std::error_code error;
    {
        std::lock_guard lock(entry.mutex);
        error = attempt(path, entry, text, method);
    }
    // A reader holding the old file only delays the replace: not a failure.
    if (!platform::is_blocked_by_reader(error)) {
        report(path, error, true);
    }
}

void ExchangeFiles::note(const std::string& file, const std::error_code& error) { report(file, error, true); }

void ExchangeFiles::retry_pending() {
    std::vector<std::pair<std::string, File*>> kept;
    {
        std::lock_guard lock(mutex_);
        for (auto& [path, entry] : files_) {
            kept.emplace_back(path, entry.get());
        }
    }
    for (auto& [path, entry] : kept) {
        std::error_code error;
        {
            std::lock_guard lock(entry->mutex);
            if (!entry->pending) {
                continue;
            }
            const std::string text = std::move(entry->pending_text);
            error = attempt(path, *entry, text, entry->method);
        }
        if (!platform::is_blocked_by_reader(error)) {
            report(path, error, false);  // the same text again: counted once, when it first failed
        }
    }
}

void ExchangeFiles::report(const std::string& path, const std::error_code& error, bool count) {
    std::string line;
    {
        std::lock_guard lock(mutex_);
        const auto failing = failing_.find(path);
        if (!error) {
            if (failing == failing_.end()) {
                return;
            }
            failing_.erase(failing);
            line = "[OK] Written again: " + path;
        } else {
            std::string reason = error.message();
            if (count) {
                ++write_errors_;
                last_error_ = WriteError{path, reason, platform::wall_clock_seconds()};
            }
            if (failing != failing_.end() && failing->second == reason) {
                return;
            }
            line = "[CUSTOM ERROR] Failed to write " + path + ": " + reason;
            failing_[path] = std::move(reason);
        }
    }
    platform::print_error_line(line);  // beside the failure it ends
}

std::uint64_t ExchangeFiles::write_errors() const {
    std::lock_guard lock(mutex_);
    return write_errors_;
}

std::optional<WriteError> ExchangeFiles::last_error() const {
    std::lock_guard lock(mutex_);
    return last_error_;
}

}  // namespace velmar
