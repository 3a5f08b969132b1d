#pragma once
// Helpers of the ui tests: a real progress dialog from template 102, and
// resetting the process-wide state between cases (tests only; the product
// never clears a flag).
#include "ui/ProgressDialog.h"
#include <windows.h>

inline void ResetRunFlags()
{
    CancelRequested = 0;
    CloseRequested = 0;
}

// Removes whatever waits in the thread's queue without dispatching it.
inline void DiscardQueue()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// Creates the dialog as start-up does (hidden, no parent, creation parameter
// 0) and sets the process-wide handle; destroys it again if it still exists.
class RealDialog {
public:
    RealDialog()
    {
        RegisterProgressBarClass();
        handle_ = CreateDialogParamA(GetModuleHandleA(nullptr),
                                     MAKEINTRESOURCEA(kProgressDialogTemplate), nullptr,
                                     ProgressDialogProc, 0);
        ProgressDialog = handle_;
    }
    ~RealDialog()
    {
        if (IsWindow(handle_))
            DestroyWindow(handle_);
        ProgressDialog = nullptr;
        DiscardQueue();
    }
    RealDialog(const RealDialog&) = delete;
    RealDialog& operator=(const RealDialog&) = delete;
    HWND Handle() const { return handle_; }
    HWND Button() const { return GetDlgItem(handle_, kIdCancelButton); }

private:
    HWND handle_;
};
