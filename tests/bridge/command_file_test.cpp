#include "bridge/command_file.h"

#include <gtest/gtest.h>

#include <string>

namespace velmar {
namespace {

// What a poll takes from a file of this content: it reads at most
// kCommandReadBytes from the start.
std::string line_of_file(const std::string& content) {
    return first_command_line(std::string_view(content).substr(0, kCommandReadBytes));
}

struct LineCase {
    const char* name;
    std::string content;
    std::string line;
};

TEST(CommandFile, FirstLineRules) {
    const std::string longest(kMaxCommandLineBytes, 'A');
    const LineCase cases[] = {
        {"LF", "START_TEST\n", "START_TEST"},
        {"CR LF", "PAUSE_SIM\r\n", "PAUSE_SIM"},
        {"no line end", "UNPAUSE", "UNPAUSE"},
        {"empty file", "", ""},
        {"empty first line", "\nSTART_TEST\n", ""},
        {"empty first line, CR LF", "\r\nSTART_TEST\r\n", ""},
        {"blank before", " START_TEST\n", " START_TEST"},
        {"blank after", "START_TEST \n", "START_TEST "},
        {"tab after", "START_TEST\t", "START_TEST\t"},
        {"blank line", "   \n", "   "},
        {"lone CR stays", "START_TEST\r", "START_TEST\r"},
        {"CR in the middle stays", "START\r_TEST\n", "START\r_TEST"},
        {"CR CR LF keeps one CR", "START_TEST\r\r\n", "START_TEST\r"},
        {"lower case is kept", "start_test\n", "start_test"},
        {"two lines: only the first", "START_TEST\nSTOP_TEST\n", "START_TEST"},
        {"two lines, CR LF", "START_TEST\r\nSTOP_TEST\r\n", "START_TEST"},
        {"4096 bytes, no line end", longest, longest},
        {"4096 bytes and LF", longest + "\n", longest},
        {"4096 bytes and CR LF", longest + "\r\nSTOP_TEST", longest},
        {"4097 bytes: cut", longest + "B", longest},
        {"4097 bytes and LF: cut", longest + "B\n", longest},
        {"4096 bytes, CR, more: cut", longest + "\rB\n", longest},
        {"a megabyte without line end: cut", std::string(1 << 20, 'C'), std::string(kMaxCommandLineBytes, 'C')},
        {"binary", std::string("\0\x01\xFF\x1B[2J\x7F\nX", 10), std::string("\0\x01\xFF\x1B[2J\x7F", 8)},
        {"NUL only", std::string("\0", 1), std::string("\0", 1)},
    };
    for (const LineCase& row : cases) {
        EXPECT_EQ(line_of_file(row.content), row.line) << row.name;
    }
}

TEST(CommandFile, PrintableFormShowsControlBytesAsHex) {
    struct Row {
        std::string line;
        std::string printable;
    };
    const Row rows[] = {
        {"PAUSE_SIM", "PAUSE_SIM"},
        {"START_TEST ", "START_TEST "},
        {"\x1B[2J\x1B]0;title\x07", "\\x1B[2J\\x1B]0;title\\x07"},
        {"A\tB\rC", "A\\x09B\\x0DC"},
        {std::string("\0\x1F\x20\x7E\x7F", 5), "\\x00\\x1F ~\\x7F"},
        {"Z\xC3\xBCrich\xFF", "Z\xC3\xBCrich\xFF"},
        {"back\\slash", "back\\slash"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(printable_command(row.line), row.printable) << row.printable;
    }
}

}  // namespace
}  // namespace velmar
