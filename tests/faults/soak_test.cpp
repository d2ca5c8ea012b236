// A long run at a high frame rate with tests and every command word, for the
// sanitizer builds: the bridge ends with status 0 (which a sanitizer report
// would change), every recording whole. VELMAR_SOAK_SECONDS/_RATE override.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

int from_environment(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

std::string last_lines(const std::string& text, std::size_t count) {
    std::size_t start = text.size();
    for (std::size_t found = 0; found <= count && start > 0; found += text[start] == '\n') --start;
    return text.substr(start);
}

TEST(Soak, TestsAndCommandsAtAHighFrameRate) {
    // On tmpfs, so that a slow disk cannot hold a sanitizer build behind the frame rate.
    if (std::filesystem::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
    const int seconds = from_environment("VELMAR_SOAK_SECONDS", VELMAR_SOAK_DEFAULT_SECONDS);
    BridgeRun run({.standin_arguments = {"--rate", std::to_string(from_environment("VELMAR_SOAK_RATE", 500))}});
    ASSERT_TRUE(run.start_connected()) << run.bridge->error_output();
    std::mt19937 random(20251206);
    std::uniform_int_distribution<std::size_t> pick(0, kCommandWords.size() - 1);
    std::uniform_int_distribution<int> pause_ms(0, 400);
    std::size_t starts = 1;        // the last, during which it shuts down
    std::set<std::string> states;  // each bridge_state.json seen, checked against its schema at the end
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int cycle = 0; std::chrono::steady_clock::now() < deadline; ++cycle) {
        for (std::size_t i = 0; i < 8; ++i) {  // a test started, six commands at random, the test stopped
            const CommandWord& command = kCommandWords[i == 0 ? 0u : i == 7 ? 7u : pick(random)];
            ASSERT_TRUE(run.command(command.word, command.lines.back()))
                << command.word << " in cycle " << cycle << "; the bridge's last lines:\n"
                << last_lines(run.bridge->output(), 40) << run.bridge->error_output();
            starts += command.word == "START_TEST" ? 1u : 0u;
            states.insert(read_file(run.state_file()));
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
        }
        if (cycle % 3 == 0) run.standin.control(cycle % 2 ? "aircraft config\\aircraft.cfg" : "exception 1");
        ASSERT_TRUE(run.command("UNPAUSE", "[OK] Executing unpause"));
    }
    ASSERT_TRUE(run.command("START_TEST", kTestStartedLine));
    ASSERT_TRUE(run.interrupt_cleanly()) << run.bridge->error_output();
    EXPECT_TRUE(run.status_becomes(false, false)) << "the shutdown ends the running test";
    EXPECT_EQ(run.recordings().size(), starts) << "one recording a start, none overwritten";
    std::size_t lines = 0;
    for (const auto& file : run.recordings()) {
        EXPECT_EQ(recording_problem(file), "");
        lines += split_lines(read_file(file)).size();
    }
    EXPECT_GT(lines, static_cast<std::size_t>(seconds) * 10);

    states.insert(read_file(run.state_file()));
    if (!have_jsonschema()) GTEST_SKIP() << "no jsonschema for the state files";
    std::string documents;
    for (const std::string& state : states) documents += state + "\n";
    write_file(run.scratch.path() / "states.jsonl", documents);
    EXPECT_GT(states.size(), 10u);
    EXPECT_EQ(schema_problems(VELMAR_SCHEMA_DIR "/bridge-state.schema.json", run.scratch.path() / "states.jsonl"), "");
}

}  // namespace
}  // namespace velmar::test
