#include "ui/ProgressDialog.h"
#include "app/Texts.h"
#include "package/CaptionBlock.h"
#include <commctrl.h>

HWND ProgressDialog = nullptr;
int32_t CancelRequested = 0;
int32_t CloseRequested = 0;

namespace {

// The cancel button, clicked: one question, and on Yes the flag and a
// disabled button. Always handled.
// A click that the open question's own modal loop dispatches (queued behind
// the first) is taken as already asked: one question at a time.
bool CancelQuestionOpen = false;

void CancelClicked(HWND dialog)
{
    if (CancelRequested != 0 || CancelQuestionOpen)
        return;
    CancelQuestionOpen = true;
    const int answer = MessageBoxA(dialog, kTextCancelQuestion, CaptionBuffer,
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    CancelQuestionOpen = false;
    if (answer != IDYES)
        return;
    CancelRequested = 1;
    HWND button = GetDlgItem(dialog, kIdCancelButton);
    if (button != nullptr)
        EnableWindow(button, FALSE);
}

}  // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;  // the focus goes to the first tab stop, the cancel button
    case WM_CLOSE: {
        HWND handle = ProgressDialog;
        CloseRequested = 1;
        DestroyWindow(handle);
        ProgressDialog = nullptr;
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kIdCancelButton && HIWORD(wParam) == BN_CLICKED) {
            CancelClicked(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        // The close command is swallowed, whatever its low bits.
        return (wParam & 0xFFF0) == SC_CLOSE ? TRUE : FALSE;
    default:
        return FALSE;
    }
}

void RegisterProgressBarClass()
{
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
}
