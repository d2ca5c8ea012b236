// A long run at a high frame rate with tests started and stopped and every
// command word sent, meant for the sanitizer builds: the bridge must end
// cleanly with no sanitizer report, and every recording must be whole.
// VELMAR_SOAK_SECONDS (default 120 in sanitizer builds, 20 otherwise) and
// VELMAR_SOAK_RATE (frames a second, default 500) make longer or harder runs
// by hand.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

int environment_number(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

struct Word {
    const char* word;
    const char* line;
};

constexpr Word kWords[] = {
    {"PAUSE_REGULAR", "[OK] Executing regular pause"},
    {"UNPAUSE", "[OK] Executing unpause"},
    {"PAUSE_ACTIVE", "[OK] Executing active pause"},
    {"PAUSE_SIM", "[OK] Executing sim pause"},
    {"SET_STANDARD_FUEL", "[OK] Setting standard fuel load (5T)"},
    {"POSITION_RTT", "[OK] Positioning aircraft at RTT Rattenberg"},
    {"START_TEST", "[OK] Test started - Data collection active"},
    {"NOT_A_COMMAND", "[DEBUG] Unknown command: NOT_A_COMMAND"},
};

// The end of the bridge's console, without the idle polls.
std::string last_lines(const Process& process) {
    std::vector<std::string> lines;
    for (const auto& line : process.output_lines()) {
        if (line != "[DEBUG] Command file empty") lines.push_back(line);
    }
    std::string text;
    for (std::size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i) text += lines[i] + "\n";
    return text;
}

// A folder on tmpfs when there is one: the soak is about threads, and a
// sanitizer build writing to a slow disk could fall behind the frame rate.
class SoakFolder {
public:
    SoakFolder() {
        if (std::filesystem::is_directory("/dev/shm")) {
            std::string pattern = "/dev/shm/velmar-soak-XXXXXX";
            if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
        }
        if (path_.empty()) path_ = fallback_.path();
    }
    ~SoakFolder() {
        std::error_code ignored;
        if (path_ != fallback_.path()) std::filesystem::remove_all(path_, ignored);
    }
    SoakFolder(const SoakFolder&) = delete;
    SoakFolder& operator=(const SoakFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    ScratchDir fallback_;
    std::filesystem::path path_;
};

TEST(Soak, TestsAndCommandsAtAHighFrameRate) {
    const int seconds = environment_number("VELMAR_SOAK_SECONDS", VELMAR_SOAK_DEFAULT_SECONDS);
    const int rate = environment_number("VELMAR_SOAK_RATE", 500);
    SoakFolder scratch;
    Standin standin({"--rate", std::to_string(rate)});
    BridgeRun bridge(standin, scratch.path());
    ASSERT_TRUE(bridge.wait_started()) << bridge.process->error_output();

    std::mt19937 random(20251206);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(kWords)) - 1);
    std::uniform_int_distribution<int> pause_ms(0, 400);
    const char* aircraft[] = {"SimObjects\\Airplanes\\Asobo_A320_Neo\\aircraft.cfg",
                              "SimObjects\\Airplanes\\Asobo_C172\\aircraft.cfg", "config\\aircraft.cfg"};
    int starts = 0, commands = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int cycle = 0; std::chrono::steady_clock::now() < deadline; ++cycle) {
        ASSERT_TRUE(bridge.command("START_TEST", kWords[6].line)) << "cycle " << cycle;
        ++starts;
        for (int i = 0; i < 6; ++i) {
            const Word& word = kWords[pick(random)];
            ASSERT_TRUE(bridge.command(word.word, word.line)) << word.word << " in cycle " << cycle;
            starts += word.word == std::string("START_TEST");
            ++commands;
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
        }
        if (cycle % 3 == 0) standin.control(std::string("aircraft ") + aircraft[(cycle / 3) % 3]);
        if (cycle % 5 == 0) standin.control("exception 1");
        ASSERT_TRUE(bridge.command("UNPAUSE", kWords[1].line));
        ASSERT_TRUE(bridge.command("STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/"));
        // A short gap with no test, samples still flowing.
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
    }
    ASSERT_TRUE(bridge.command("START_TEST", kWords[6].line));  // shut down during a test
    ++starts;
    std::this_thread::sleep_for(300ms);
    auto interrupted = std::chrono::steady_clock::now();
    ASSERT_TRUE(bridge.interrupt_cleanly()) << last_lines(*bridge.process) << bridge.process->error_output();
    auto shutdown_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - interrupted).count();
    RecordProperty("shutdown_ms", static_cast<int>(shutdown_ms));

    std::string errors = bridge.process->error_output();
    for (const char* report : {"ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
        EXPECT_EQ(errors.find(report), std::string::npos) << errors;
    }
    nlohmann::json status = nlohmann::json::parse(read_file(bridge.status_file()));
    EXPECT_EQ(status["connected"], false) << last_lines(*bridge.process);
    EXPECT_EQ(status["test_active"], true);

    // One recording per start, none overwritten, each line whole and in time order.
    auto files = recordings(bridge.recording_folder());
    EXPECT_EQ(files.size(), static_cast<std::size_t>(starts));
    std::size_t lines_total = 0;
    for (const auto& file : files) {
        std::string torn;
        auto lines = recording_lines(file, &torn);
        EXPECT_EQ(torn, "") << file;
        std::int64_t last = -1;
        for (const auto& line : lines) {
            ASSERT_EQ(flight_data_problem(line), "") << file;
            std::int64_t timestamp = nlohmann::json::parse(line)["timestamp"];
            ASSERT_GE(timestamp, last) << file;
            last = timestamp;
        }
        lines_total += lines.size();
    }
    RecordProperty("starts", starts);
    RecordProperty("commands", commands);
    RecordProperty("recorded_lines", static_cast<int>(lines_total));
    EXPECT_GT(lines_total, static_cast<std::size_t>(seconds) * 10);
}

}  // namespace
}  // namespace velmar::test
