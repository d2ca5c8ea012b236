#pragma once

// Standard output or error of this process caught in a file, for tests that
// run the product's code in-process and check its console lines.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "support/process.h"

namespace velmar::test {

// Standard output (1) or error (2) goes to an unlinked file while this lives,
// whichever thread writes; a failed test gets it back at the end. Lines still
// queued for the console are written before each switch and each read.
struct Capture {
    explicit Capture(int target) : fd(target), saved(::dup(target)) {
        flush();
        ::dup2(::fileno(file), fd);
    }
    ~Capture() {
        flush();
        ::dup2(saved, fd);
        if (::testing::Test::HasFailure()) std::fputs(text(0).c_str(), fd == 1 ? stdout : stderr);
        ::close(saved);
        std::fclose(file);
    }
    static void flush() {
        platform::drain_console(std::chrono::seconds(30));
        std::fflush(nullptr);
    }
    std::string text(off_t at) const {
        flush();
        std::ifstream in("/proc/self/fd/" + std::to_string(::fileno(file)), std::ios::binary);
        std::ostringstream text;
        text << in.seekg(at).rdbuf();
        return text.str();
    }
    std::vector<std::string> lines() const { return split_lines(text(mark)); }  // since the last clear
    void clear() { mark += static_cast<off_t>(text(mark).size()); }

    int fd, saved;
    std::FILE* file = std::tmpfile();
    off_t mark = 0;
};

}  // namespace velmar::test
