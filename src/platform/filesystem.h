#pragma once

#include <fstream>
#include <string>
#include <string_view>

namespace velmar::platform {

// The separator used to join a folder and a file name.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// folder + separator + name, with no normalisation of either part.
std::string join_path(std::string_view folder, std::string_view name);

// Creates one directory level. Returns whether it was created; most callers
// ignore the result (an existing folder is fine).
bool create_directory(const std::string& path);

// Opens a file for writing in text mode with shared access, so that other
// processes may read and write it meanwhile. `mode` is added to std::ios::out.
std::ofstream open_shared_output(const std::string& path, std::ios::openmode mode);

// Opens a file for reading in text mode with shared access.
std::ifstream open_shared_input(const std::string& path);

// Rewrites a file in place with shared access: create or truncate, write,
// close. Returns false when any step fails. The per-sample path, so it costs
// no more than the system calls themselves.
bool rewrite_file(const std::string& path, std::string_view text);

// Replaces a file whole: the text goes to `path` + ".tmp", which then takes
// the file's place, so a reader finds the old text or the new, never a part.
// Returns false when any step fails; the old file then stays as it was. Where
// a reader holding the old file blocks the replace (Windows), it is retried
// briefly.
bool replace_file(const std::string& path, std::string_view text);

// Makes a write past the process's file-size limit fail like any other write
// error, instead of ending the process.
void ignore_file_size_limit_signal();

}  // namespace velmar::platform
