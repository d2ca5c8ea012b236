#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace velmar {
namespace {

struct CommandLineCase {
    const char* name;
    std::vector<std::string_view> arguments;
    bool file_mode;
    std::string portable_directory;
};

class ScanCommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(ScanCommandLine, ChoosesModeAndDirectory) {
    const CommandLineCase& row = GetParam();
    const CommandLine result = scan_command_line(row.arguments);
    EXPECT_EQ(result.file_mode, row.file_mode);
    EXPECT_EQ(result.portable_directory, row.portable_directory);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, ScanCommandLine,
    testing::Values(CommandLineCase{"NoArguments", {}, false, ""},
                    CommandLineCase{"FlagAlone", {"--file-mode"}, true, ""},
                    CommandLineCase{"FlagAndDirectory", {"--file-mode", "C:\\Temp\\velmar"}, true, "C:\\Temp\\velmar"},
                    CommandLineCase{"FlagTwice", {"--file-mode", "--file-mode"}, true, "--file-mode"},
                    CommandLineCase{"WordsAround", {"verbose", "--file-mode", "/tmp/v", "extra"}, true, "/tmp/v"},
                    CommandLineCase{"FlagLastAfterWords", {"a", "b", "--file-mode"}, true, ""},
                    CommandLineCase{"EqualsSign", {"--file-mode=/tmp/v"}, false, ""},
                    CommandLineCase{"UpperCase", {"--FILE-MODE", "/tmp/v"}, false, ""},
                    CommandLineCase{"MixedCase", {"--File-Mode"}, false, ""},
                    CommandLineCase{"SingleDash", {"-file-mode", "/tmp/v"}, false, ""},
                    CommandLineCase{"Prefix", {"--file-mod"}, false, ""},
                    CommandLineCase{"TrailingBlank", {"--file-mode "}, false, ""},
                    CommandLineCase{"LeadingBlank", {" --file-mode"}, false, ""},
                    CommandLineCase{"UnrelatedWords", {"simple", "mode"}, false, ""},
                    CommandLineCase{"EmptyDirectory", {"--file-mode", ""}, true, ""},
                    CommandLineCase{"EmptyArgumentBefore", {"", "--file-mode", "d"}, true, "d"},
                    CommandLineCase{"DirectoryStartingWithDashes", {"--file-mode", "--verbose"}, true, "--verbose"},
                    CommandLineCase{"DirectoryWithBlanks", {"--file-mode", "My Folder\\x"}, true, "My Folder\\x"},
                    CommandLineCase{"FirstMatchWins", {"--file-mode", "one", "--file-mode", "two"}, true, "one"},
                    CommandLineCase{"EmbeddedNul", {"--file-mode\0x"sv}, false, ""},
                    CommandLineCase{
                        "DirectoryKeptByteForByte", {"--file-mode", "d\xe9j\xe0/./x/"}, true, "d\xe9j\xe0/./x/"}),
    [](const testing::TestParamInfo<CommandLineCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmar
