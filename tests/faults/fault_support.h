#pragma once

// Running the bridge against the stand-in for fault tests: start, commands,
// clean shutdown, and checks that recordings and JSON files are whole.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/process.h"

namespace velmar::test {

// A bridge in `folder`/data with APPDATA `folder`/appdata, against `standin`.
// `wrapper` goes before the executable (e.g. prlimit with its options).
struct BridgeRun {
    BridgeRun(const Standin& standin, const std::filesystem::path& folder, std::vector<std::string> wrapper = {});

    std::filesystem::path data_folder;
    std::filesystem::path app_data;
    std::optional<Process> process;

    std::filesystem::path command_file() const { return data_folder / "python_commands.txt"; }
    std::filesystem::path data_file() const { return data_folder / "current_flight_data.json"; }
    std::filesystem::path status_file() const { return data_folder / "simconnect_status.json"; }
    std::filesystem::path recording_folder() const { return app_data / "Velmar"; }

    // Waits for the start lines through "[OK] Auto-started data collection for monitoring".
    bool wait_started();
    // Writes `word` into the command file, waits for `expected_line` and for the
    // file to be empty again.
    bool command(const std::string& word, const std::string& expected_line);
    // SIGINT: "Shutting down..." and exit status 0.
    bool interrupt_cleanly();
};

// Waits until `condition` holds; false after `timeout`.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

// The recordings in `folder`, oldest name first.
std::vector<std::filesystem::path> recordings(const std::filesystem::path& folder);

// Whole lines of a recording (each ended by a line end); a torn last line,
// one without its line end, is returned in `torn`.
std::vector<std::string> recording_lines(const std::filesystem::path& path, std::string* torn = nullptr);

// Empty when `text` is one flight-data object with its 25 members in order;
// otherwise what is wrong.
std::string flight_data_problem(const std::string& text);

// Empty when `text` is one status object; otherwise what is wrong.
std::string status_problem(const std::string& text);

// A small tmpfs mounted on a fresh folder, unmounted with the object.
class SmallTmpfs {
public:
    SmallTmpfs(const std::filesystem::path& where, std::size_t bytes);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

private:
    std::filesystem::path where_;
    bool mounted_ = false;
    std::string error_;
};

}  // namespace velmar::test
