// The Windows executable, cross-built with mingw-w64, in simple mode under
// Wine against a native sim-standin.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "wine/wine_support.h"

namespace velmar::wine {
namespace {

using Lines = std::vector<std::string>;

// Keys come through a pseudo-terminal (_getch needs a console); the output
// goes to files, since on a terminal Wine's console adds escape sequences to it.
struct ConsoleRun {
    explicit ConsoleRun(const test::Standin& standin)
        : out(scratch.path() / "stdout.txt"),
          err(scratch.path() / "stderr.txt"),
          tracker({"/bin/sh", "-c", "out=$1 err=$2; shift 2; exec \"$@\" >\"$out\" 2>\"$err\"", "sh", out.string(),
                   err.string(), VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE},
                  {standin.client_environment(), {}, true}) {}
    bool shows(const std::string& line, std::size_t times = 1) const {
        return eventually(
            [&] {
                const auto lines = test::split_lines(file_or_empty(out));
                return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line)) >= times;
            },
            kWineStartTimeout);
    }
    test::ScratchDir scratch;
    std::filesystem::path out, err;
    test::Process tracker;
};

// ENTER tries again; ESC ends. Wine's terminal input holds a lone ESC as a
// possible Alt prefix and makes one ESC key of ESC ESC written together.
TEST(WineSimpleMode, EnterRetriesAndEscExitsOnAConsole) {
    test::Standin standin;
    standin.control("fail SimConnect_Open -2147467259");
    ConsoleRun run(standin);
    const std::string prompt = "Press ENTER to try again, or ESC to exit...";
    ASSERT_TRUE(run.shows(prompt)) << file_or_empty(run.out) << file_or_empty(run.err);
    run.tracker.write_input("\r");
    ASSERT_TRUE(run.shows(prompt, 2)) << file_or_empty(run.out);
    run.tracker.write_input("\x1b\x1b");
    EXPECT_EQ(run.tracker.wait(30s), 0) << file_or_empty(run.err);
    const Lines failure = {"[CUSTOM ERROR] Failed to connect to Flight Simulator",
                           "Make sure Microsoft Flight Simulator is running.", "", prompt};
    Lines expected = {"MSFS Velmar Tracker - Simple Version", "====================================", "Version: 0.0.1",
                      "", "Connecting to Microsoft Flight Simulator..."};
    expected.insert(expected.end(), failure.begin(), failure.end());
    expected.insert(expected.end(), {"", "Connecting to Microsoft Flight Simulator..."});
    expected.insert(expected.end(), failure.begin(), failure.end());
    expected.push_back("Exiting...");
    EXPECT_EQ(crlf_lines(test::read_file(run.out)), expected);
    EXPECT_EQ(standin.log_lines(), Lines(2, "SimConnect_Open \"MSFS Velmar Tracker Simple\" 0 0 0 0 -> -2147467259"));
}

TEST(WineSimpleMode, WithoutAConsoleTheFailureBlockShowsOnce) {
    test::Standin standin;
    standin.control("fail SimConnect_Open -2147467259");
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    test::Process tracker({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE}, options);
    tracker.close_input();

    // _getch fails at once without a console: ESC, not an endless loop.
    EXPECT_EQ(tracker.wait(kWineStartTimeout), 0);
    const Lines lines = tracker.output_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Press ENTER to try again, or ESC to exit..."), 1);
    EXPECT_EQ(lines.back(), "Exiting...");
    EXPECT_NE(tracker.output().find("Exiting...\r\n"), std::string::npos) << "console lines end in CR LF";
}

}  // namespace
}  // namespace velmar::wine
