#include "platform/console.h"

#include <cstdio>
#include <string>

namespace velmar::platform {

namespace {

// One fwrite per line: the C runtime locks the stream for the call, so lines
// of different threads never tear. Text-mode streams on Windows turn the line
// feed into CR LF.
void write_whole_line(std::FILE* stream, std::string_view text) {
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace

void print_line(std::string_view text) { write_whole_line(stdout, text); }

void print_error_line(std::string_view text) { write_whole_line(stderr, text); }

}  // namespace velmar::platform
