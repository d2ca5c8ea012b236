// Writes of the data, status and state files: failures said once, counted, retried.
#pragma once

// Writes the exchange files and says what fails: nothing is lost silently.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace velmar {

// The latest failed write, as bridge_state.json shows it.
struct WriteError {
    std::string file;
    std::string reason;
    std::int64_t at = 0;  // wall-clock seconds
};

// Any thread may write; each file's writes are serialised, so a retry never
// lands after a newer text. A failure prints one stderr line per file and
// reason, and one line once the file is written again. A failed write is
// kept and tried again by retry_pending until it lands or a newer text for
// the same file supersedes it: a status or state change is never dropped.
class ExchangeFiles {
public:
    // Replace whole (temporary file, rename) instead of rewriting in place.
    enum class Method { in_place, replace };

    void write(const std::string& path, std::string_view text, Method method);
    // The outcome of a write made elsewhere (a folder, a recording, the
    // diagnostic file): reported and counted like the exchange files'.
    void note(const std::string& file, const std::error_code& error);
    // Tries the kept writes once more; the main loop calls it at each poll.
    void retry_pending();

    std::uint64_t write_errors() const;
    std::optional<WriteError> last_error() const;

private:
    struct File {
        std::mutex mutex;  // held while this file is written; guards pending, pending_text, method
        bool pending = false;
        std::string pending_text;
        Method method = Method::in_place;
    };
    File& file(const std::string& path);
    // Under the file's mutex: one attempt, the text kept when it fails.
    std::error_code attempt(const std::string& path, File& file, std::string_view text, Method method);
    void report(const std::string& path, const std::error_code& error, bool count);

    mutable std::mutex mutex_;  // guards files_, failing_, write_errors_, last_error_
    std::map<std::string, std::unique_ptr<File>> files_;
    std::map<std::string, std::string> failing_;  // file -> the reason last reported
    std::uint64_t write_errors_ = 0;
    std::optional<WriteError> last_error_;
};

}  // namespace velmar
