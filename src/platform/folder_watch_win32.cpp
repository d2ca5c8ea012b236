// Folder watching on Windows: ReadDirectoryChangesW on the folder, overlapped,
// so the wait also ends on the wakeup's event.
#include <array>
#include <cstddef>
#include <cstring>
#include <system_error>

#include "platform/folder_watch.h"
#include "platform/windows_api.h"

namespace velmar::platform {

struct FolderWatch::Watch {
    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE done = nullptr;  // the overlapped read's event
    OVERLAPPED overlapped{};
    bool reading = false;
    std::wstring file_name;
    alignas(DWORD) std::array<unsigned char, 16384> buffer{};

    ~Watch() {
        if (reading) {
            // The system writes into buffer until the read has ended.
            CancelIoEx(folder, &overlapped);
            DWORD bytes = 0;
            GetOverlappedResult(folder, &overlapped, &bytes, TRUE);
        }
        if (done != nullptr) {
            CloseHandle(done);
        }
        if (folder != INVALID_HANDLE_VALUE) {
            CloseHandle(folder);
        }
    }

    bool start_read() {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = done;
        reading = ReadDirectoryChangesW(
                      folder, buffer.data(), static_cast<DWORD>(buffer.size()), FALSE,
                      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE, nullptr,
                      &overlapped, nullptr) != 0;
        return reading;
    }

    // The finished read's records; true when one names the file or records were lost.
    bool names_file() {
        DWORD bytes = 0;
        const bool ok = GetOverlappedResult(folder, &overlapped, &bytes, FALSE) != 0;
        reading = false;
        if (!ok || bytes == 0) {
            return true;  // too many changes for the buffer: look anyway
        }
        bool found = false;
        for (DWORD at = 0;;) {
            FILE_NOTIFY_INFORMATION record;
            std::memcpy(&record, buffer.data() + at, sizeof record);
            const auto* name =
                reinterpret_cast<const wchar_t*>(buffer.data() + at + offsetof(FILE_NOTIFY_INFORMATION, FileName));
            const int length = static_cast<int>(record.FileNameLength / sizeof(wchar_t));
            if (CompareStringOrdinal(name, length, file_name.data(), static_cast<int>(file_name.size()), TRUE) ==
                CSTR_EQUAL) {
                found = true;
            }
            if (record.NextEntryOffset == 0) {
                return found;
            }
            at += record.NextEntryOffset;
        }
    }
};

namespace {

std::string reason(DWORD error) { return std::system_category().message(static_cast<int>(error)); }

std::wstring widen(const std::string& text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

}  // namespace

FolderWatch::FolderWatch() = default;

std::string FolderWatch::start(const std::string& folder, const std::string& file_name) {
    auto watch = std::make_unique<Watch>();
    watch->file_name = widen(file_name);
    const std::string path = folder.empty() ? "." : folder;
    watch->folder =
        CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (watch->folder == INVALID_HANDLE_VALUE) {
        return reason(GetLastError());
    }
    watch->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watch->done == nullptr || !watch->start_read()) {
        return "ReadDirectoryChangesW: " + reason(GetLastError());
    }
    watch_ = std::move(watch);
    return {};
}

FolderWatch::~FolderWatch() = default;

FolderWatch::Woken FolderWatch::wait_until(Wakeup& wakeup, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return Woken::timeout;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        std::array<HANDLE, 2> handles{reinterpret_cast<HANDLE>(wakeup.native()), nullptr};
        const DWORD count = watch_ && watch_->reading ? 2 : 1;
        if (count == 2) {
            handles[1] = watch_->done;
        }
        const DWORD woken = WaitForMultipleObjects(count, handles.data(), FALSE, static_cast<DWORD>(left.count()));
        if (woken == WAIT_OBJECT_0) {
            return Woken::wakeup;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            const bool changed = watch_->names_file();
            // A read that cannot be started again leaves the poll alone.
            watch_->start_read();
            if (changed) {
                return Woken::file_changed;
            }
        } else if (woken == WAIT_FAILED) {
            return wakeup.wait(left) ? Woken::wakeup : Woken::timeout;
        }
    }
}

}  // namespace velmar::platform
