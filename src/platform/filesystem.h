// Files and folders: paths, folders, appends, and the exchange files' safe writes.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace velmar::platform {

// The separator used to join a folder and a file name.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kLineEnd = "\n";
#endif

// folder + separator + name, with no normalisation of either part.
std::string join_path(std::string_view folder, std::string_view name);

// Creates one directory level. Returns whether it was created; most callers
// ignore the result (an existing folder is fine).
bool create_directory(const std::string& path);

bool is_directory(const std::string& path);

// Creates `path` and each missing folder above it. Returns whether `path`
// is a folder afterwards.
bool create_directories(const std::string& path);

// Makes `path` a folder: nothing when it is one already or was created, else
// the reason (its parent missing, a file in its place, no right to create it).
std::error_code make_directory(const std::string& path);

// The reason given for an exchange file that is not a plain file (a pipe, a
// device, a socket): such a file is never opened in a way that can block.
std::error_code not_a_regular_file();

// A replace that a reader holding the old file blocks (Windows): it lands once
// the reader lets go, so the caller tries again later.
bool is_blocked_by_reader(const std::error_code& error);

// Opens a file for writing in text mode with shared access, so that other
// processes may read and write it meanwhile. `mode` is added to std::ios::out.
std::ofstream open_shared_output(const std::string& path, std::ios::openmode mode);

// Rewrites a plain file in place with shared access: create or truncate,
// one write, close; the reason when any step fails. The per-sample path, so
// it costs no more than the system calls themselves.
std::error_code rewrite_in_place(const std::string& path, std::string_view text);

// Replaces a plain file whole: the text goes to `path` + ".tmp", which then
// takes the file's place, so a reader finds the old text or the new, never a
// part. On failure the old file stays as it was. Never waits: a reader that
// blocks the replace (Windows) gives an error is_blocked_by_reader accepts.
std::error_code replace_whole(const std::string& path, std::string_view text);

// Gives file `from` the name `to` in one step, replacing a file of that name;
// the reason when that fails. Where a reader holding `to` blocks it
// (Windows), it is retried briefly.
std::error_code rename_over(const std::string& from, const std::string& to);

// Reads up to `capacity` bytes from the start of a plain file into `buffer`
// and sets `size`; a missing file gives std::errc::no_such_file_or_directory,
// anything but a plain file not_a_regular_file(), without waiting on it.
std::error_code read_head(const std::string& path, char* buffer, std::size_t capacity, std::size_t& size);

// Truncates a plain file to zero bytes (creating it when it is missing); the
// reason when that fails.
std::error_code empty_file(const std::string& path);

// A file that grows by whole pieces only: a piece the disk cannot take (full,
// file-size limit) is cut back off, so a reader never meets a torn line.
// Opened with shared access; one owner, no locking of its own.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Creates `path` only if no file of that name exists (a name taken at that
    // instant gives std::errc::file_exists) and keeps it open. Closes any file
    // open before.
    std::error_code create_new(const std::string& path);
    // Appends `text` whole; on failure the file is back to its size before.
    std::error_code append(std::string_view text);
    void close();
    bool is_open() const { return descriptor_ >= 0; }

private:
    // The platform's part: an exclusive create, one write of some of `text`
    // (the count, or -1), a close; failures leave errno set.
    static int open_new(const std::string& path);
    static long write_some(int descriptor, std::string_view text);
    static void close_descriptor(int descriptor);
    std::error_code write_all(std::string_view text);
    // Cuts the file back to size_ and clears torn_; false when that fails.
    bool cut_back();

    int descriptor_ = -1;
    std::int64_t size_ = 0;  // bytes of whole pieces
    bool torn_ = false;      // a failed append could not be cut back yet
};

// Makes a write past the process's file-size limit fail like any other write
// error, instead of ending the process.
void ignore_file_size_limit_signal();

}  // namespace velmar::platform
