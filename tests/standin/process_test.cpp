// sim-standin as a process: what a test outside the project sees.

#include <gtest/gtest.h>

#include <csignal>

#include "standin_harness.h"

namespace velmar::test {
namespace {

TEST(StandinProcess, ListensEchoesControlLinesAndReportsBadOnes) {
    Standin standin;
    EXPECT_GT(standin.port(), 0);
    standin.control("freeze on");
    standin.process().write_input("frobnicate 3\n");
    standin.control("event 5 1");
    EXPECT_TRUE(standin.process().wait_for_error_output("frobnicate 3"));
    const auto lines = standin.process().output_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "sim-standin listening on 127.0.0.1:" + std::to_string(standin.port()));
    EXPECT_EQ(lines[1], "ok freeze on");
    EXPECT_EQ(lines[2], "ok event 5 1");
    standin.process().send_signal(SIGTERM);
    EXPECT_EQ(standin.process().wait(), 0);
}

}  // namespace
}  // namespace velmar::test
