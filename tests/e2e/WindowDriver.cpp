#include "tests/e2e/WindowDriver.h"
#include <algorithm>

namespace {

constexpr int kMessageTextId = 0xFFFF;

struct EnumState {
    DWORD processId;
    std::vector<HWND>* windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data)
{
    EnumState* state = reinterpret_cast<EnumState*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != state->processId || !IsWindowVisible(window))
        return TRUE;
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, "#32770") == 0)
        state->windows->push_back(window);
    return TRUE;
}

}  // namespace

bool StartProcess(const std::string& exe, const std::string& arguments, ChildProcess& child)
{
    std::string line = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA info = {};
    info.cb = sizeof info;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &info, &pi))
        return false;
    child.process = pi.hProcess;
    child.thread = pi.hThread;
    child.id = pi.dwProcessId;
    return true;
}

void EndProcess(ChildProcess& child)
{
    if (child.process) {
        if (WaitForSingleObject(child.process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(child.process, 99);
            WaitForSingleObject(child.process, 5000);
        }
        CloseHandle(child.process);
    }
    if (child.thread)
        CloseHandle(child.thread);
    child = ChildProcess();
}

std::vector<HWND> DialogWindowsOf(DWORD processId)
{
    std::vector<HWND> windows;
    EnumState state = {processId, &windows};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return windows;
}

bool IsMessageBoxWindow(HWND window)
{
    return GetDlgItem(window, kMessageTextId) != nullptr;
}

std::string WindowText(HWND window)
{
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

SeenBox ReadBox(HWND box)
{
    SeenBox seen;
    seen.title = WindowText(box);
    seen.text = WindowText(GetDlgItem(box, kMessageTextId));
    seen.hasYes = GetDlgItem(box, IDYES) != nullptr;
    seen.hasNo = GetDlgItem(box, IDNO) != nullptr;
    seen.hasOk = GetDlgItem(box, IDOK) != nullptr;
    if (HWND no = GetDlgItem(box, IDNO))
        seen.noIsDefault = (GetWindowLongA(no, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
    seen.owner = GetWindow(box, GW_OWNER);
    return seen;
}

void PressButton(HWND window, int id)
{
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void PressEnter(HWND box)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = box;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info) && info.hwndFocus)
        target = info.hwndFocus;
    PostMessageA(target, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageA(target, WM_KEYUP, VK_RETURN, 0xC0000001);
}

void WithThreadSuspended(const ChildProcess& child, const std::function<void()>& action)
{
    DWORD suspended = SuspendThread(child.thread);
    action();
    if (suspended != DWORD(-1))
        ResumeThread(child.thread);
}

DriveResult Drive(ChildProcess& child, const BoxAnswer& answer, const DialogAction& onDialog,
                  DWORD timeoutMs)
{
    DriveResult result;
    std::vector<HWND> handled;
    const DWORD start = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(child.process, 5) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - start > timeoutMs) {
            result.timedOut = true;
            break;
        }
        for (HWND window : DialogWindowsOf(child.id)) {
            if (std::find(handled.begin(), handled.end(), window) != handled.end())
                continue;
            if (!IsMessageBoxWindow(window)) {
                if (GetDlgItem(window, 1000) == nullptr)
                    continue;
                handled.push_back(window);
                result.dialogs.push_back({window, WindowText(window)});
                if (onDialog)
                    onDialog(window, child);
                continue;
            }
            handled.push_back(window);
            SeenBox seen = ReadBox(window);
            result.boxes.push_back(seen);
            int id = answer ? answer(seen) : IDOK;
            if (id == kPressEnter)
                PressEnter(window);
            else if (id != 0)
                PressButton(window, id);
        }
    }
    if (result.timedOut)
        TerminateProcess(child.process, 98);
    WaitForSingleObject(child.process, 5000);
    GetExitCodeProcess(child.process, &result.exitCode);
    return result;
}
