// The packages of scripts/package as a user gets them: what each holds, the
// .deb unpacked into a scratch root running the bridge against its own
// sim-standin, the zip's program under Wine against the stand-in, lintian.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "wine/wine_support.h"

namespace velmar::package {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using test::eventually;
using wine::file_or_empty;

const std::string kVersion = VELMAR_PROJECT_VERSION;
const std::string kZipFolder = "velmar-tracker-" + kVersion + "-win64";
const std::string kConnectedLine = "[OK] Auto-started data collection for monitoring";
const std::string kOpenCall = "SimConnect_Open \"MSFS Velmar Tracker\" 0 0 1 0 -> 0";

// The one package in the package folder whose name ends in `suffix`.
fs::path package_file(const std::string& suffix) {
    fs::path found;
    for (const auto& entry : fs::directory_iterator(VELMAR_PACKAGE_DIR)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            EXPECT_TRUE(found.empty()) << "two packages: " << found << " and " << entry.path();
            found = entry.path();
        }
    }
    EXPECT_FALSE(found.empty()) << "no *" << suffix << " in " << VELMAR_PACKAGE_DIR;
    return found;
}

// Runs a shell command ($0, $1, ... are `arguments`) to its end; its standard
// output, and a failure when it fails.
std::string run(const std::string& command, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"/bin/sh", "-c", command};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    test::Process tool(argv);
    const auto status = tool.wait(300s);
    EXPECT_EQ(status, 0) << command << "\n" << tool.output() << tool.error_output();
    return tool.output();
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Packages, EachHoldsTheProgramsAndDocumentationWhereUsersLookForThem) {
    const std::string doc = "share/doc/velmar-tracker/";
    const std::string tar_folder = "velmar-tracker-" + kVersion + "-linux-";
    struct Row {
        std::string suffix;
        std::string list_command;  // a shell command; $0 is the package
        std::string top;           // the folder every entry is in; empty: the archive's first one
        Lines expected;
    };
    const std::vector<Row> rows = {
        {".deb",
         "dpkg-deb --fsys-tarfile \"$0\" | tar -t",
         "./usr/",
         {"bin/velmar-tracker", "bin/sim-standin", doc + "README.md", doc + "copyright", doc + "changelog.gz",
          doc + "docs/server-interface.md", doc + "docs/export.md", doc + "docs/schema/flight-data.schema.json",
          doc + "docs/schema/status.schema.json", "share/man/man1/velmar-tracker.1.gz",
          "share/man/man1/sim-standin.1.gz"}},
        {".tar.gz",
         "tar -tzf \"$0\"",
         "",
         {"bin/velmar-tracker", "bin/sim-standin", doc + "README.md", doc + "copyright",
          doc + "docs/server-interface.md", doc + "docs/schema/flight-data.schema.json"}},
        {"-win64.zip",
         "unzip -Z1 \"$0\"",
         kZipFolder + "/",
         {"velmar-tracker.exe", "README.md", "docs/server-interface.md", "docs/export.md",
          "docs/schema/flight-data.schema.json", "docs/schema/status.schema.json", "examples/SimConnect.cfg"}},
    };
    for (const Row& row : rows) {
        const fs::path package = package_file(row.suffix);
        ASSERT_FALSE(package.empty());
        const Lines entries = test::split_lines(run(row.list_command, {package.string()}));
        ASSERT_FALSE(entries.empty()) << package;
        std::string top = row.top;
        if (top.empty()) {
            top = entries.front().substr(0, entries.front().find('/') + 1);
            EXPECT_EQ(top.rfind(tar_folder, 0), 0U) << top;
        }
        for (const std::string& expected : row.expected) {
            EXPECT_NE(std::find(entries.begin(), entries.end(), top + expected), entries.end())
                << package.filename() << " lacks " << top + expected;
        }
        // A SimConnect.cfg where the program starts would send it to another PC.
        EXPECT_EQ(std::find(entries.begin(), entries.end(), top + "SimConnect.cfg"), entries.end());
    }
    EXPECT_EQ(package_file("-win64.zip").filename(), kZipFolder + ".zip");
    EXPECT_EQ(package_file(".deb").filename().string().rfind("velmar-tracker_" + kVersion + "_", 0), 0U);
}

TEST(Packages, DebUnpackedRunsTheBridgeAgainstItsOwnStandinAndWritesItsFiles) {
    const test::ScratchDir scratch;
    const fs::path deb = package_file(".deb");
    ASSERT_FALSE(deb.empty());
    const fs::path root = scratch.path() / "root";
    run("dpkg -x \"$0\" \"$1\"", {deb.string(), root.string()});
    const std::string version = test::split_lines(run("dpkg-deb -f \"$0\" Version", {deb.string()})).at(0);
    EXPECT_EQ(version, kVersion);

    const fs::path calls = scratch.path() / "calls.log";
    test::Process standin({(root / "usr/bin/sim-standin").string(), "--port", "0", "--log", calls.string()});
    const std::string listening = "sim-standin listening on 127.0.0.1:";
    ASSERT_TRUE(standin.wait_for_output("\n", 30s)) << standin.error_output();
    ASSERT_EQ(standin.output().rfind(listening, 0), 0U) << standin.output();
    const std::string port = std::to_string(std::stoi(standin.output_lines().front().substr(listening.size())));
    const fs::path appdata = scratch.path() / "appdata";
    const fs::path data = scratch.path() / "data";
    fs::create_directories(appdata / "Velmar");  // where recordings go with a folder given
    test::ProcessOptions options;
    options.environment = {{"SIMCONNECT_STANDIN_PORT", port}, {"APPDATA", appdata.string()}};
    const std::string program = (root / "usr/bin/velmar-tracker").string();

    // The connectivity test shows the package's version (input at its end: it asks no key).
    test::Process check({program}, options);
    check.close_input();
    EXPECT_EQ(check.wait(60s), 0);
    const Lines check_lines = check.output_lines();
    EXPECT_NE(std::find(check_lines.begin(), check_lines.end(), "Version: " + version), check_lines.end())
        << check.output();
    EXPECT_NE(std::find(check_lines.begin(), check_lines.end(), "[OK] Connected to Flight Simulator!"),
              check_lines.end())
        << check.output();

    test::Process bridge({program, "--file-mode", data.string()}, options);
    ASSERT_TRUE(bridge.wait_for_line(kConnectedLine, 60s)) << bridge.output() << bridge.error_output();
    EXPECT_TRUE(
        eventually([&] { return contains(file_or_empty(data / "simconnect_status.json"), "\"connected\":true"); }));
    EXPECT_TRUE(eventually([&] { return contains(file_or_empty(data / "current_flight_data.json"), "\"altitude\""); }));

    test::write_file(data / "python_commands.txt", "START_TEST\n");
    ASSERT_TRUE(bridge.wait_for_line("[OK] Test started - Data collection active", 30s)) << bridge.output();
    fs::path recording;
    ASSERT_TRUE(eventually([&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(appdata / "Velmar", error)) {
            if (entry.path().filename().string().rfind("flight_data_", 0) == 0) recording = entry.path();
        }
        return !recording.empty() && test::split_lines(file_or_empty(recording)).size() >= 2;
    })) << bridge.output();
    test::write_file(data / "python_commands.txt", "STOP_TEST\n");
    ASSERT_TRUE(bridge.wait_for_line("[OK] Test stopped - Data saved to AppData/Velmar/", 30s)) << bridge.output();

    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(30s), 0) << bridge.error_output();
    EXPECT_TRUE(contains(file_or_empty(data / "simconnect_status.json"), "\"connected\":false"));
    const Lines recorded = test::split_lines(file_or_empty(recording));
    ASSERT_GE(recorded.size(), 2U);
    EXPECT_EQ(recorded.front().front(), '{');
    const Lines logged = test::split_lines(file_or_empty(calls));
    EXPECT_NE(std::find(logged.begin(), logged.end(), kOpenCall), logged.end())
        << "the packaged stand-in logs the calls it takes";
}

TEST(Packages, ZipProgramRunsUnderWineAgainstTheStandin) {
    const test::ScratchDir scratch;
    const fs::path zip = package_file("-win64.zip");
    ASSERT_FALSE(zip.empty());
    run("unzip -q \"$0\" -d \"$1\"", {zip.string(), scratch.str()});
    const fs::path program = scratch.path() / kZipFolder / "velmar-tracker.exe";
    ASSERT_TRUE(fs::exists(program));

    test::Standin standin;
    test::ProcessOptions options;
    options.environment = standin.client_environment();
    const fs::path data = scratch.path() / "data";
    std::string windows_data = "Z:" + data.string();  // Wine's Z: is the root
    std::replace(windows_data.begin(), windows_data.end(), '/', '\\');
    test::Process bridge({VELMAR_WINE_PROGRAM, program.string(), "--file-mode", windows_data}, options);
    ASSERT_TRUE(bridge.wait_for_line(kConnectedLine, wine::kWineStartTimeout))
        << bridge.output() << bridge.error_output();
    EXPECT_TRUE(
        eventually([&] { return contains(file_or_empty(data / "simconnect_status.json"), "\"connected\":true"); }));
    EXPECT_TRUE(eventually([&] { return contains(file_or_empty(data / "current_flight_data.json"), "\"altitude\""); }));

    bridge.send_signal(SIGINT);
    EXPECT_EQ(bridge.wait(30s), 0) << bridge.error_output();
    EXPECT_TRUE(contains(file_or_empty(data / "simconnect_status.json"), "\"connected\":false"));
    const Lines logged = standin.log_lines();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front(), kOpenCall);
}

TEST(Packages, DebPassesLintianWithoutErrors) {
    const fs::path deb = package_file(".deb");
    ASSERT_FALSE(deb.empty());
    for (const std::string& line : test::split_lines(run("lintian --fail-on error \"$0\"", {deb.string()}))) {
        EXPECT_NE(line.rfind("E: ", 0), 0U) << line;
    }
}

}  // namespace
}  // namespace velmar::package
