#include "app/StartUp.h"
#include "app/Texts.h"
#include "install/RunInstall.h"
#include "package/CaptionBlock.h"
#include "sys/FixedText.h"
#include "ui/MonitorList.h"
#include "ui/ProgressDialog.h"
#include <cstdint>
#include <cstring>

namespace {

constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

// The one message that a run's result calls for; none for 1 to 0x80000000
// and for a cancelled or closed run.
void ShowOutcome(uint32_t status)
{
    if (status == kInstallOk)
        ShowInfo(kTextCompleted);
    else if (status >= 0x80000001u && status <= 0x80000003u)
        ShowWarning(kTextPackageDamaged);
    else if (status == kInstallWriteFailed)
        ShowWarning(kTextCannotUpdate);
    else if (status == kInstallUninstallListFailed)
        ShowWarning(kTextUninstallListFailed);
}

}  // namespace

void ShowInfo(const char* text)
{
    MessageBoxA(nullptr, text, CaptionBuffer, MB_ICONINFORMATION);
}

void ShowWarning(const char* text)
{
    MessageBoxA(nullptr, text, CaptionBuffer, MB_ICONWARNING);
}

int FindInstallFolder(char* folder, const char* publisher, const char* product)
{
    if (publisher == nullptr || product == nullptr)
        return 0;
    char keyPath[4096];
    CopyText(keyPath, "Software\\");
    AppendText(keyPath, publisher);
    AppendText(keyPath, "\\");
    if (!AppendText(keyPath, product))
        return 0;  // a cut path would name another key

    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    DWORD size = kPathBufferSize;
    LONG result = RegQueryValueExA(key, kInstallFolderValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    // A REG_SZ may be stored without its NUL, and the buffer is not cleared:
    // end the text after the data, and refuse a value that fills the whole
    // buffer without one.
    if (size > kPathBufferSize)
        return 0;
    if (size == 0 || std::memchr(folder, '\0', size) == nullptr) {
        if (size == kPathBufferSize)
            return 0;
        folder[size] = '\0';
    }
    return 1;
}

int StartUp(HINSTANCE instance, int showState)
{
    HANDLE updaterMutex = CreateMutexA(nullptr, TRUE, kUpdaterMutexName);
    if (GetLastError() != 0)
        return static_cast<int>(reinterpret_cast<intptr_t>(updaterMutex));

    HANDLE gameMutex = nullptr;
    char folder[kPathBufferSize];
    int status;
    if (!ReadCaptionBlock(CaptionBuffer)) {
        std::memcpy(CaptionBuffer, kTextFallbackCaption, sizeof kTextFallbackCaption);
        ShowWarning(kTextCaptionFailed);
        status = kStartCaptionFailed;
    } else {
        gameMutex = CreateMutexA(nullptr, TRUE, kGameMutexName);
        if (GetLastError() != 0) {
            ShowWarning(kTextGameRunning);
            status = kStartGameRunning;
        } else if (!FindInstallFolder(folder, kPublisherName, kProductName)) {
            ShowWarning(kTextNotInstalled);
            status = kStartNotInstalled;
        } else if (MessageBoxA(nullptr, kTextConfirmUpdate, CaptionBuffer, kQuestionStyle) != IDYES) {
            status = kStartDeclined;
        } else {
            // Template 102 names the progress bar class; without it the
            // dialog cannot be created.
            RegisterProgressBarClass();
            ProgressDialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(kProgressDialogTemplate),
                                                nullptr, ProgressDialogProc, 0);
            if (ProgressDialog == nullptr) {
                ShowWarning(kTextDialogFailed);
                status = kStartDialogFailed;
            } else {
                CollectMonitors();
                SetWindowTextA(ProgressDialog, CaptionBuffer);
                CenterOnFirstMonitor(ProgressDialog);
                ShowWindow(ProgressDialog, showState);

                status = static_cast<int>(static_cast<uint32_t>(RunInstall(folder)));

                // Closed during the run: the dialog procedure destroyed it already.
                if (ProgressDialog != nullptr) {
                    DestroyWindow(ProgressDialog);
                    ProgressDialog = nullptr;
                }
                ShowOutcome(static_cast<uint32_t>(status));
                FreeMonitors();
            }
        }
    }
    if (gameMutex != nullptr)
        CloseHandle(gameMutex);
    if (updaterMutex != nullptr)
        CloseHandle(updaterMutex);
    return status;
}
