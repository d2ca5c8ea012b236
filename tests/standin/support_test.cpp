// The test-support helpers that every end-to-end test leans on.

#include <gtest/gtest.h>

#include <csignal>

#include "support/process.h"

namespace velmar::test {
namespace {

TEST(SupportProcess, ExitStatusesAndSignals) {
    Process exits({"/bin/sh", "-c", "exit 3"});
    EXPECT_EQ(exits.wait(), 3);
    EXPECT_FALSE(exits.running());

    Process sleeper({"/bin/sleep", "30"});
    EXPECT_TRUE(sleeper.running());
    EXPECT_FALSE(sleeper.wait(10ms).has_value());
    sleeper.send_signal(SIGTERM);
    EXPECT_EQ(sleeper.wait(), 128 + SIGTERM);
    sleeper.send_signal(SIGTERM);  // harmless once reaped
}

TEST(SupportProcess, OutputAndErrorsAreCollectedSeparately) {
    Process process({"/bin/sh", "-c", "echo one; echo two >&2; printf 'three\\r\\nfour'"});
    EXPECT_EQ(process.wait(), 0);
    EXPECT_EQ(process.output(), "one\nthree\r\nfour");
    EXPECT_EQ(process.output_lines(), (std::vector<std::string>{"one", "three", "four"}));
    EXPECT_EQ(process.error_lines(), (std::vector<std::string>{"two"}));
    EXPECT_TRUE(process.wait_for_line("three"));
    EXPECT_FALSE(process.wait_for_line("thr", 10ms));
    EXPECT_TRUE(process.wait_for_output("ee\r\nfo"));
    EXPECT_TRUE(process.wait_for_error_output("two"));
    EXPECT_EQ(process.count_lines("one"), 1u);
    EXPECT_EQ(process.count_lines("four"), 0u);  // not a whole line yet: no line end
}

TEST(SupportProcess, EnvironmentAndWorkingDirectory) {
    ScratchDir scratch;
    ::setenv("VELMAR_SUPPORT_DROPPED", "still here", 1);
    ProcessOptions options;
    options.environment = {{"VELMAR_SUPPORT_ADDED", "a b"}};
    options.unset_environment = {"VELMAR_SUPPORT_DROPPED"};
    options.working_directory = scratch.str();
    Process process({"/bin/sh", "-c", "echo \"$VELMAR_SUPPORT_ADDED|${VELMAR_SUPPORT_DROPPED-unset}\"; pwd -P"},
                    options);
    EXPECT_EQ(process.wait(), 0);
    EXPECT_EQ(process.output_lines(), (std::vector<std::string>{
                                          "a b|unset",
                                          std::filesystem::canonical(scratch.path()).string(),
                                      }));
}

TEST(SupportProcess, InputReachesTheChildAndClosingItEndsTheInput) {
    Process process({"/bin/cat"});
    process.write_input("first\nsecond");
    EXPECT_TRUE(process.wait_for_line("first"));
    process.close_input();
    EXPECT_EQ(process.wait(), 0);
    EXPECT_EQ(process.output(), "first\nsecond");
}

TEST(SupportProcess, PseudoTerminalCarriesInputAndOutputButNotErrors) {
    ProcessOptions options;
    options.use_pty = true;
    Process process(
        {"/bin/sh", "-c",
         "test -t 0 && test -t 1 && echo terminal; test -t 2 || echo pipe >&2; read line; echo \"got $line\""},
        options);
    EXPECT_TRUE(process.wait_for_line("terminal"));
    process.write_input("hello\n");
    EXPECT_EQ(process.wait(), 0);
    // Typed input is not echoed back; the terminal ends lines with CR LF.
    EXPECT_EQ(process.output(), "terminal\r\ngot hello\r\n");
    EXPECT_EQ(process.error_lines(), (std::vector<std::string>{"pipe"}));
}

TEST(SupportProcess, AMissingProgramThrows) { EXPECT_THROW(Process({"/nonexistent/program"}), std::runtime_error); }

TEST(SupportFiles, ScratchFoldersComeAndGoWithTheirFiles) {
    std::filesystem::path kept;
    {
        ScratchDir scratch;
        kept = scratch.path();
        EXPECT_TRUE(std::filesystem::is_directory(kept));
        write_file(kept / "a.txt", std::string("x\0y\r\n", 5));
        EXPECT_EQ(read_file(kept / "a.txt"), std::string("x\0y\r\n", 5));
        write_file(kept / "a.txt", "short");
        EXPECT_EQ(read_file(kept / "a.txt"), "short");
        ScratchDir other;
        EXPECT_NE(other.path(), kept);
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
    EXPECT_EQ(read_file(kept / "a.txt"), "");
}

TEST(SupportFiles, SplitLines) {
    struct Row {
        const char* text;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\n", {"a", "b"}},
        {"\n\n", {"", ""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\rb\n", {"a\rb"}},
    };
    for (const auto& row : rows) EXPECT_EQ(split_lines(row.text), row.lines) << row.text;
}

}  // namespace
}  // namespace velmar::test
