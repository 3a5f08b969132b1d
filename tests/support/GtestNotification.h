// MinGW's win32 thread model has no std::mutex, which GoogleTest's own
// Notification uses; this one stands in for it with a Windows event.
#pragma once
#ifdef __cplusplus
#include <windows.h>
namespace testing {
namespace internal {
class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};
}  // namespace internal
}  // namespace testing
#endif
