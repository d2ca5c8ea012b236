// The Windows executable's exchange files under Wine: with --atomic-files, a
// reader holding the status file the way Python does (no delete sharing)
// delays a status change without losing it or holding up the samples.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "support/process.h"
#include "wine/wine_support.h"

namespace velmar::wine {
namespace {

namespace fs = std::filesystem;

TEST(WineFiles, AStatusChangeWaitsForAReaderHoldingTheFileThenLands) {
    test::Standin standin({"--rate", "60"});
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    const std::string windows_folder = "C:\\velmar held " + std::to_string(::getpid());
    const fs::path folder = unix_path(windows_folder);
    test::Process bridge({VELMAR_WINE_PROGRAM, VELMAR_WINDOWS_EXE, "--file-mode", windows_folder, "--atomic-files"},
                         options);
    const auto status = [&] { return file_or_empty(folder / "simconnect_status.json"); };
    ASSERT_TRUE(eventually([&] { return status().find("\"connected\":true") != std::string::npos; }, kWineStartTimeout))
        << bridge.output() << bridge.error_output();

    test::Process holder({VELMAR_WINE_PROGRAM, VELMAR_HOLD_FILE, windows_folder + "\\simconnect_status.json"});
    ASSERT_TRUE(holder.wait_for_line("holding", kWineStartTimeout)) << holder.error_output();
    test::write_file(folder / "python_commands.txt", "START_TEST\r\n");
    ASSERT_TRUE(bridge.wait_for_line("[OK] Test started - Data collection active", 30s)) << bridge.output();
    // Held: the old status stays whole, and samples go on meanwhile.
    const std::string data = file_or_empty(folder / "current_flight_data.json");
    EXPECT_TRUE(eventually([&] { return file_or_empty(folder / "current_flight_data.json") != data; }));
    EXPECT_NE(status().find("\"test_active\":false"), std::string::npos) << "the reader did not block the replace";

    holder.close_input();
    ASSERT_TRUE(holder.wait_for_line("released", 30s));
    EXPECT_TRUE(eventually([&] { return status().find("\"test_active\":true") != std::string::npos; })) << status();
    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(30s), 0);
    EXPECT_EQ(bridge.error_output(), "") << "a held file is not a failed write";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

}  // namespace
}  // namespace velmar::wine
