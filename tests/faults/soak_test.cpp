// A long run at a high frame rate, tests started and stopped and every command
// word sent, for the sanitizer builds: the bridge ends cleanly with no
// sanitizer report and every recording whole. VELMAR_SOAK_SECONDS and
// VELMAR_SOAK_RATE (frames a second, default 500) make longer or harder runs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <thread>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

int from_environment(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

TEST(Soak, TestsAndCommandsAtAHighFrameRate) {
    const int seconds = from_environment("VELMAR_SOAK_SECONDS", VELMAR_SOAK_DEFAULT_SECONDS);
    BridgeRun run({.standin_arguments = {"--rate", std::to_string(from_environment("VELMAR_SOAK_RATE", 500))}});
    ASSERT_TRUE(run.start_connected()) << run.bridge->error_output();
    const char* aircraft[] = {"SimObjects\\Airplanes\\Asobo_A320_Neo\\aircraft.cfg", "config\\aircraft.cfg"};
    std::mt19937 random(20251206);
    std::uniform_int_distribution<std::size_t> pick(0, kCommandWords.size() - 1);
    std::uniform_int_distribution<int> pause_ms(0, 400);
    std::size_t starts = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int cycle = 0; std::chrono::steady_clock::now() < deadline; ++cycle) {
        // A test started, commands in random order, the test stopped and a gap.
        for (std::size_t i = 0; i < 8; ++i) {
            const CommandWord& command = kCommandWords[i == 0 ? 0u : i == 7 ? 7u : pick(random)];
            ASSERT_TRUE(run.command(command.word, command.lines.back())) << command.word << " in cycle " << cycle;
            starts += command.word == "START_TEST" ? 1u : 0u;
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
        }
        if (cycle % 3 == 0) run.standin.control(std::string("aircraft ") + aircraft[cycle / 3 % 2]);
        if (cycle % 5 == 0) run.standin.control("exception 1");
        ASSERT_TRUE(run.command("UNPAUSE", "[OK] Executing unpause"));
    }
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));  // shut down during a test
    ++starts;
    ASSERT_TRUE(run.interrupt_cleanly()) << run.bridge->error_output();

    const std::string errors = run.bridge->error_output();
    for (const char* report : {"ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
        EXPECT_EQ(errors.find(report), std::string::npos) << errors;
    }
    EXPECT_TRUE(run.status_becomes(false, true));
    EXPECT_EQ(run.recordings().size(), starts) << "one recording a start, none overwritten";
    std::size_t lines = 0;
    for (const auto& file : run.recordings()) {
        EXPECT_EQ(recording_problem(file), "");
        lines += split_lines(read_file(file)).size();
    }
    EXPECT_GT(lines, static_cast<std::size_t>(seconds) * 10);
}

}  // namespace
}  // namespace velmar::test
