#pragma once

// Helpers for running the Windows executable under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

namespace velmar::wine {

using namespace std::chrono_literals;

// Wine starts its server and services on the first run in a prefix.
inline constexpr auto kWineStartTimeout = 120s;

using test::eventually;

inline std::filesystem::path wine_prefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/") / ".wine";
}

// "C:\users\u\AppData\Roaming\Velmar" -> <prefix>/drive_c/users/u/AppData/Roaming/Velmar
inline std::filesystem::path unix_path(std::string windows_path) {
    EXPECT_EQ(windows_path.rfind("C:\\", 0), 0U) << windows_path;
    std::replace(windows_path.begin(), windows_path.end(), '\\', '/');
    return wine_prefix() / "drive_c" / windows_path.substr(3);
}

inline std::string file_or_empty(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error) ? test::read_file(path) : std::string();
}

// The lines of text whose every line must end in CR LF.
inline std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            ADD_FAILURE() << "last line without a line end: " << lines.back();
            break;
        }
        const bool crlf = end > start && text[end - 1] == '\r';
        EXPECT_TRUE(crlf) << "bare LF after: " << text.substr(start, end - start);
        lines.push_back(text.substr(start, crlf ? end - start - 1 : end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace velmar::wine
