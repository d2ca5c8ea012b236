// The Windows executable's bridge mode under Wine against a native
// sim-standin: backslash paths under Wine's APPDATA, a command taken, and a
// recording whose lines end in CR LF.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/process.h"
#include "wine/wine_support.h"

namespace velmar::wine {
namespace {

namespace fs = std::filesystem;

// The text after `label` on the console line that starts with it.
std::string line_after(const std::vector<std::string>& lines, const std::string& label) {
    for (const std::string& line : lines) {
        if (line.rfind(label, 0) == 0) return line.substr(label.size());
    }
    return {};
}

std::set<fs::path> recordings_in(const fs::path& folder) {
    std::set<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().filename().string().rfind("flight_data_", 0) == 0) found.insert(entry.path());
    }
    return found;
}

TEST(WineBridge, RecordsUnderWinesAppDataWithCrLfLines) {
    test::Standin standin;
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    test::Process bridge({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE, "--file-mode"}, options);
    ASSERT_TRUE(bridge.wait_for_line("[OK] Auto-started data collection for monitoring", kWineStartTimeout))
        << bridge.output() << bridge.error_output();

    const auto lines = bridge.output_lines();
    const std::string folder = line_after(lines, "[LEGACY] Using APPDATA directory: ");
    ASSERT_TRUE(folder.ends_with("\\AppData\\Roaming\\Velmar")) << folder;
    EXPECT_EQ(line_after(lines, "[BRIDGE] Data file: "), folder + "\\current_flight_data.json");
    const fs::path velmar = unix_path(folder);
    const fs::path commands = velmar / "python_commands.txt";
    const std::set<fs::path> earlier = recordings_in(velmar);

    ASSERT_TRUE(eventually(
        [&] { return file_or_empty(velmar / "simconnect_status.json").starts_with(R"({"connected":true,)"); }));
    auto send = [&](const std::string& word) {
        test::write_file(commands, word + "\r\n");
        return eventually([&] { return file_or_empty(commands).empty(); });
    };
    ASSERT_TRUE(send("START_TEST"));
    fs::path recording;
    ASSERT_TRUE(eventually([&] {
        for (const auto& path : recordings_in(velmar)) {
            if (!earlier.count(path)) recording = path;
        }
        return !recording.empty() && crlf_lines(file_or_empty(recording)).size() >= 3;
    }));
    ASSERT_TRUE(send("STOP_TEST"));
    ASSERT_TRUE(bridge.wait_for_line("[OK] Test stopped - Data saved to AppData/Velmar/", 30s));

    for (const std::string& line : crlf_lines(test::read_file(recording))) {
        const auto sample = nlohmann::ordered_json::parse(line, nullptr, false);
        EXPECT_TRUE(sample.is_object() && sample.size() == 25) << line;
    }
    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(30s), 0);
    EXPECT_TRUE(file_or_empty(velmar / "simconnect_status.json").starts_with(R"({"connected":false,)"));
    fs::remove(recording);
}

}  // namespace
}  // namespace velmar::wine
