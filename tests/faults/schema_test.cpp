// The JSON the bridge really writes, checked against the schemas published for
// server authors (docs/schema), including the awkward cases: values that are
// not finite, and aircraft paths with quotes, control bytes and bytes that are
// not UTF-8.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "faults/fault_support.h"

namespace velmar::test {
namespace {

// A python3 that has jsonschema, or empty.
std::string python_with_jsonschema() {
    for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3"}) {
        if (access(candidate, X_OK) != 0) continue;
        Process probe({candidate, "-c", "import jsonschema"});
        if (probe.wait(30s) == 0) return candidate;
    }
    return {};
}

int validate(const std::string& python, const std::string& schema, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {python, std::string(VELMAR_SOURCE_DIR) + "/tests/faults/validate_json.py",
                                     std::string(VELMAR_SCHEMA_DIR) + "/" + schema};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Process validator(argv);
    int status = validator.wait(60s).value_or(-1);
    EXPECT_EQ(status, 0) << validator.error_output();
    return status;
}

TEST(Schema, RealOutputMatchesThePublishedSchemas) {
    std::string python = python_with_jsonschema();
    if (python.empty()) GTEST_SKIP() << "no python3 with jsonschema (Debian: python3-jsonschema)";

    ScratchDir scratch;
    Standin standin({"--rate", "60", "--aircraft", "SimObjects\\Airplanes\\My \"Quoted\"\tCub\x01\xff\\aircraft.cfg"});
    BridgeRun bridge(standin, scratch.path());
    ASSERT_TRUE(bridge.wait_started());
    ASSERT_TRUE(bridge.command("START_TEST", "[OK] Test started - Data collection active"));
    // Past the aircraft answer, so samples carry the awkward name.
    ASSERT_TRUE(bridge.process->wait_for_output("[OK] Aircraft detected from system state:", 15s));
    standin.control("freeze on");
    standin.control("sample 2 nan inf -inf 1e20 -0.004 0 1 -90 180");
    standin.control("sample 2 3500.254 120.5 131.4 271.3 -250 40 0 48.1234567891 11.5");
    ASSERT_TRUE(wait_until([&] { return read_file(bridge.data_file()).find("48.12345679") != std::string::npos; }));
    standin.control("freeze off");
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(bridge.command("STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/"));

    auto files = recordings(bridge.recording_folder());
    ASSERT_EQ(files.size(), 1u);
    std::string recording = read_file(files[0]);
    EXPECT_NE(recording.find("\"altitude\":null"), std::string::npos) << "no sample with a value that is not finite";
    EXPECT_NE(recording.find("\\\"Quoted\\\""), std::string::npos) << "no sample with the awkward aircraft name";

    validate(python, "flight-data.schema.json", {bridge.data_file().string()});
    validate(python, "flight-data.schema.json", {"--lines", files[0].string()});
    validate(python, "status.schema.json", {bridge.status_file().string()});
    EXPECT_TRUE(bridge.interrupt_cleanly());
    validate(python, "status.schema.json", {bridge.status_file().string()});
}

}  // namespace
}  // namespace velmar::test
