// The aircraft diagnostic file, fed with records directly (no stand-in needed).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>

#include "aircraft/aircraft_diagnostic.h"
#include "session_fixture.h"

namespace velmar::test {
namespace {

SIMCONNECT_RECV_SYSTEM_STATE state_record(const std::string& path) {
    SIMCONNECT_RECV_SYSTEM_STATE state{};
    state.dwSize = sizeof state;
    state.dwID = SIMCONNECT_RECV_ID_SYSTEM_STATE;
    state.dwRequestID = 3;
    std::memcpy(state.szString, path.data(), std::min(path.size(), sizeof state.szString));
    return state;
}

// Sets (or with nullptr removes) an environment variable for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnvironment() { saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

class DiagnosticTest : public ::testing::Test {
protected:
    DiagnosticTest() { std::filesystem::create_directory(scratch_.path() / "Velmar"); }

    std::string path() const { return (scratch_.path() / "Velmar" / "aircraft_diagnostic.txt").string(); }

    // The title the next sample would carry.
    std::string sample_title() const {
        SIMCONNECT_RECV_SIMOBJECT_DATA record[3]{};  // room for the 72-byte block after the header
        return manager_.build_flight_data(record[0]).aircraft_title;
    }

    ScratchDir scratch_;
    ScopedEnvironment app_data_{"APPDATA", scratch_.str().c_str()};
    ConsoleCapture console_;
    SimConnectManager manager_;
};

// One record of the file: the time by its shape, everything else byte-exact.
void expect_record(const std::string& record, const AircraftStateReport& report, const std::string& name) {
    const std::size_t time_at = record.find("Timestamp: ") + 11;
    ASSERT_LT(time_at, record.size()) << record;
    const std::string time = record.substr(time_at, 19);
    const std::string shape = "0000-00-00 00:00:00";  // 0: any digit
    for (std::size_t i = 0; i < shape.size(); ++i) {
        EXPECT_TRUE(shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(time[i])) != 0 : time[i] == shape[i])
            << time;
    }
    EXPECT_EQ(record, format_aircraft_diagnostic(report, time, name));
}

TEST_F(DiagnosticTest, EachAnswerAppendsOneRecordAndNamesTheAircraft) {
    const std::string earlier = "earlier content\n";
    write_file(path(), earlier);
    const std::string first_path = R"(SimObjects\Airplanes\Asobo_C172\aircraft.cfg)";
    const std::string second_path = "X:/planes/my_tb90_mod/aircraft.cfg";

    manager_.dump_aircraft_system_state(state_record(first_path));
    EXPECT_EQ(console_.out(), (Lines{"[DIAG] Writing to: " + path(), "[OK] Aircraft detected from system state: 'C172'",
                                     "[DIAG] Aircraft data dumped to: " + path()}));
    EXPECT_EQ(sample_title(), "C172");
    SIMCONNECT_RECV_SYSTEM_STATE second = state_record(second_path);
    second.dwInteger = 4294967295U;
    second.fFloat = 2.5F;
    manager_.dump_aircraft_system_state(second);
    EXPECT_EQ(sample_title(), "my_tb90_mod");

    const std::string content = read_file(path());
    ASSERT_EQ(content.substr(0, earlier.size()), earlier);
    const std::size_t second_at = content.rfind("\n=== AIRCRAFT");
    EXPECT_EQ(content.substr(second_at - 3, 4), "\n\n\n\n");  // three empty lines between records
    expect_record(content.substr(earlier.size(), second_at - earlier.size()), {284, 3, 0, 0.0F, first_path}, "C172");
    expect_record(content.substr(second_at), {284, 3, 4294967295U, 2.5F, second_path}, "my_tb90_mod");
}

TEST_F(DiagnosticTest, PathIsReadWithinItsFieldWhetherTerminatedOrNot) {
    const std::string full(260, 'x');
    const std::string too_long = "a/" + std::string(250, 'B') + "/aircraft";  // 261 bytes
    struct Case {
        std::string reported;
        std::string path;
        std::string name;
    };
    const Case cases[] = {
        {full, full, "Unknown"},
        {too_long, too_long.substr(0, 260), std::string(250, 'B')},
        {"", "", "Unknown"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(path());
        manager_.dump_aircraft_system_state(state_record(c.reported));
        const std::string content = read_file(path());
        EXPECT_NE(content.find("Full Path: '" + c.path + "'\nLength: " + std::to_string(c.path.size()) +
                               " characters\nExtracted Aircraft Name: '" + c.name + "'\n"),
                  std::string::npos)
            << content;
        EXPECT_EQ(sample_title(), c.name);
    }
}

TEST_F(DiagnosticTest, WithoutItsFolderNothingIsWrittenAndTheNameStays) {
    manager_.dump_aircraft_system_state(state_record(R"(a\Asobo_A320\aircraft.cfg)"));
    std::filesystem::remove(path());
    console_.clear();
    {
        ScopedEnvironment no_app_data("APPDATA", nullptr);
        ScopedEnvironment no_xdg("XDG_DATA_HOME", nullptr);
        ScopedEnvironment no_home("HOME", nullptr);
        manager_.dump_aircraft_system_state(state_record(R"(a\Other\aircraft.cfg)"));
    }
    EXPECT_EQ(console_.out(), Lines{"[DIAG ERROR] Could not get APPDATA path"});
    EXPECT_FALSE(std::filesystem::exists(path()));

    std::filesystem::remove_all(scratch_.path() / "Velmar");
    console_.clear();
    manager_.dump_aircraft_system_state(state_record(R"(a\Other\aircraft.cfg)"));
    EXPECT_EQ(console_.out(), Lines{"[DIAG ERROR] Could not open diagnostic file: " + path()});
    EXPECT_FALSE(std::filesystem::exists(scratch_.path() / "Velmar"));  // not created here

    EXPECT_EQ(sample_title(), "A320");
    EXPECT_TRUE(console_.errors().empty());
}

}  // namespace
}  // namespace velmar::test
