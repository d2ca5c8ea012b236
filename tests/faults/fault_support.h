#pragma once

// The real bridge against the stand-in, as the end-to-end and fault tests run
// it: a scratch folder, commands sent as a server sends them, a clean
// shutdown, and checks that the JSON files and recordings are whole.

#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>

#include "support/process.h"

namespace velmar::test {

using Lines = std::vector<std::string>;

inline const std::string kStartedLine = "[OK] Auto-started data collection for monitoring";
inline const std::string kTestStartedLine = "[OK] Test started - Data collection active";
inline const std::string kTestStoppedLine = "[OK] Test stopped - Data saved to AppData/Velmar/";
inline const std::string kDisconnectedLine = "[CUSTOM ERROR] Disconnected from MSFS";
inline const std::string kSessionClosedLine = "Disconnected from MSFS SimConnect";
inline const std::string kEFail = "-2147467259";  // E_FAIL as the call log and the bridge print it

// Each command word, the lines it prints after its "[DEBUG] Processing
// command: '<word>'" line, and the start of a call-log line that it makes; in
// an order that starts a test, pauses, sets fuel and position, and stops.
struct CommandWord {
    std::string word;
    Lines lines;
    std::string call;
};
extern const std::vector<CommandWord> kCommandWords;

struct BridgeOptions {
    Lines standin_arguments = {};  // e.g. {"--rate", "500"}
    Lines wrapper = {};            // before the executable, e.g. prlimit and its options
    bool legacy = false;
    bool without_app_data = false;  // APPDATA, XDG_DATA_HOME and HOME unset
};

// A stand-in, and a bridge with APPDATA <scratch>/appdata and its data files in
// the folder argument <scratch>/data, or when `legacy` (no argument) in
// <scratch>/appdata/Velmar beside the recordings.
struct BridgeRun {
    explicit BridgeRun(BridgeOptions options = {});

    Process& start(std::optional<Lines> arguments = std::nullopt);  // the arguments after --file-mode
    bool start_connected();                                         // and waits for the last start line
    // Writes `word` into the command file as a server does; waits until the
    // bridge has emptied it and, unless `line` is empty, printed `line` once more.
    bool command(const std::string& word, const std::string& line = {});
    bool interrupt_cleanly(int signal_number = SIGINT);  // "Shutting down..." and exit status 0
    // Waits until the status file is {"connected":C,"test_active":T,"last_update":<seconds>}.
    bool status_becomes(bool connected, bool test_active) const;
    std::vector<std::filesystem::path> recordings() const;  // oldest first
    std::size_t recorded_lines() const;                     // of the newest recording

    std::filesystem::path recording_folder() const { return scratch.path() / "appdata" / "Velmar"; }
    std::filesystem::path data_folder() const { return options.legacy ? recording_folder() : scratch.path() / "data"; }
    std::filesystem::path data_file() const { return data_folder() / "current_flight_data.json"; }
    std::filesystem::path status_file() const { return data_folder() / "simconnect_status.json"; }
    std::filesystem::path command_file() const { return data_folder() / "python_commands.txt"; }

    BridgeOptions options;
    ScratchDir scratch;
    Standin standin;
    std::optional<Process> bridge;
};

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s);

// Whether `expected` appears in `lines` from `from` on in this order, lines of
// other threads allowed in between.
bool in_order(const Lines& lines, const Lines& expected, std::size_t from = 0);

// Empty when `text` is one flight-data object (25 members, an integer
// timestamp); otherwise what is wrong.
std::string flight_data_problem(const std::string& text);

// Empty when every line of the recording is a flight-data object, timestamps
// never go back, and (unless `may_be_torn`) the last line has its line end.
std::string recording_problem(const std::filesystem::path& path, bool may_be_torn = false);

}  // namespace velmar::test
