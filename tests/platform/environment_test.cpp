#include "platform/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace velmar::platform {
namespace {

// Sets or removes environment variables for one test and puts them back.
class EnvironmentGuard {
public:
    ~EnvironmentGuard() {
        for (const auto& [name, value] : saved_) {
            apply(name, value);
        }
    }
    void set(const std::string& name, const std::optional<std::string>& value) {
        if (saved_.find(name) == saved_.end()) {
            saved_[name] = read_environment(name.c_str());
        }
        apply(name, value);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(ReadEnvironment, TellsUnsetFromEmpty) {
    EnvironmentGuard environment;
    environment.set("VELMAR_TEST_VARIABLE", std::nullopt);
    EXPECT_EQ(read_environment("VELMAR_TEST_VARIABLE"), std::nullopt);
    environment.set("VELMAR_TEST_VARIABLE", "");
    EXPECT_EQ(read_environment("VELMAR_TEST_VARIABLE"), std::optional<std::string>(""));
    environment.set("VELMAR_TEST_VARIABLE", "a b\\c");
    EXPECT_EQ(read_environment("VELMAR_TEST_VARIABLE"), std::optional<std::string>("a b\\c"));
}

struct AppDataCase {
    const char* name;
    std::optional<std::string> appdata;
    std::optional<std::string> xdg_data_home;
    std::optional<std::string> home;
    std::optional<std::string> expected;
};

TEST(AppDataFolder, FollowsTheFallbackOrder) {
    const AppDataCase rows[] = {
        AppDataCase{"AppdataWinsOverAll", "/a/roaming", "/x/data", "/home/u", "/a/roaming"},
        AppDataCase{"EmptyAppdataCounts", "", "/x/data", "/home/u", ""},
        AppDataCase{"AppdataKeptVerbatim", "C:\\Users\\u\\AppData\\Roaming", std::nullopt, std::nullopt,
                    "C:\\Users\\u\\AppData\\Roaming"},
        AppDataCase{"XdgWithoutAppdata", std::nullopt, "/x/data", "/home/u", "/x/data"},
        AppDataCase{"EmptyXdgIgnored", std::nullopt, "", "/home/u", "/home/u/.local/share"},
        AppDataCase{"RelativeXdgIgnored", std::nullopt, "x/data", "/home/u", "/home/u/.local/share"},
        AppDataCase{"HomeAlone", std::nullopt, std::nullopt, "/home/u", "/home/u/.local/share"},
        AppDataCase{"NothingSet", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        AppDataCase{"EmptyHomeIsNothing", std::nullopt, std::nullopt, "", std::nullopt},
        AppDataCase{"OnlyIgnoredXdg", std::nullopt, "rel", std::nullopt, std::nullopt}};
    EnvironmentGuard environment;
    for (const AppDataCase& row : rows) {
        SCOPED_TRACE(row.name);
        environment.set("APPDATA", row.appdata);
        environment.set("XDG_DATA_HOME", row.xdg_data_home);
        environment.set("HOME", row.home);
        EXPECT_EQ(app_data_folder(), row.expected);
    }
}

}  // namespace
}  // namespace velmar::platform
