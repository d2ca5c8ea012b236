#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace velmar {
namespace {

using namespace std::string_view_literals;

TEST(ScanCommandLine, ChoosesModeAndDirectory) {
    struct Row {
        const char* name;
        std::vector<std::string_view> arguments;
        bool file_mode;
        std::string portable_directory;
    };
    const Row rows[] = {
        {"no arguments", {}, false, ""},
        {"flag alone: application-data folder", {"--file-mode"}, true, ""},
        {"flag and directory", {"--file-mode", "C:\\Temp\\velmar"}, true, "C:\\Temp\\velmar"},
        {"flag twice: the second is the directory", {"--file-mode", "--file-mode"}, true, "--file-mode"},
        {"words around are ignored", {"verbose", "--file-mode", "/tmp/v", "extra"}, true, "/tmp/v"},
        {"flag last after words", {"a", "b", "--file-mode"}, true, ""},
        {"equals sign", {"--file-mode=/tmp/v"}, false, ""},
        {"upper case", {"--FILE-MODE", "/tmp/v"}, false, ""},
        {"mixed case", {"--File-Mode"}, false, ""},
        {"single dash", {"-file-mode", "/tmp/v"}, false, ""},
        {"prefix of the flag", {"--file-mod"}, false, ""},
        {"flag with more after it", {"--file-modes"}, false, ""},
        {"trailing blank", {"--file-mode "}, false, ""},
        {"leading blank", {" --file-mode"}, false, ""},
        {"unrelated words", {"simple", "mode"}, false, ""},
        {"empty directory counts as none", {"--file-mode", ""}, true, ""},
        {"empty argument before", {"", "--file-mode", "d"}, true, "d"},
        {"directory starting with dashes", {"--file-mode", "--verbose"}, true, "--verbose"},
        {"directory with blanks", {"--file-mode", "My Folder\\x"}, true, "My Folder\\x"},
        {"first match wins", {"--file-mode", "one", "--file-mode", "two"}, true, "one"},
        {"embedded NUL", {"--file-mode\0x"sv}, false, ""},
        {"directory kept byte for byte", {"--file-mode", "d\xe9j\xe0/./x/"}, true, "d\xe9j\xe0/./x/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CommandLine result = scan_command_line(row.arguments);
        EXPECT_EQ(result.file_mode, row.file_mode);
        EXPECT_EQ(result.portable_directory, row.portable_directory);
    }
}

}  // namespace
}  // namespace velmar
