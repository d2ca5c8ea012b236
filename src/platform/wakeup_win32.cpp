// The wake on Windows: an auto-reset event, as SimConnect's library expects.
#include <system_error>

#include "platform/wakeup.h"
#include "platform/windows_api.h"

namespace velmar::platform {

namespace {

HANDLE event_of(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

}  // namespace

Wakeup::Wakeup() {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEvent");
    }
    native_ = reinterpret_cast<std::intptr_t>(event);
}

Wakeup::~Wakeup() { CloseHandle(event_of(native_)); }

void* Wakeup::library_handle() const { return event_of(native_); }

void Wakeup::set() { SetEvent(event_of(native_)); }

bool Wakeup::wait(std::chrono::milliseconds timeout) {
    return WaitForSingleObject(event_of(native_), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

}  // namespace velmar::platform
