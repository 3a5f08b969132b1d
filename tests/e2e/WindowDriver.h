#pragma once
// Drives a Windows program's dialogs and message boxes from outside, the way a
// player would: finds its "#32770" windows, reads their texts, presses buttons.
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

struct SeenBox {
    std::string title;
    std::string text;       // the message, from the box's static control 0xFFFF
    bool hasYes = false;
    bool hasNo = false;
    bool hasOk = false;
    bool noIsDefault = false;
    HWND owner = nullptr;
};

struct ChildProcess {
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    DWORD id = 0;
};

// The updater's progress dialog as the driver sees it.
struct SeenDialog {
    HWND window;
    std::string title;
};

// What the driver does with a box: the button id to press, or kPressEnter.
constexpr int kPressEnter = -1;
using BoxAnswer = std::function<int(const SeenBox&)>;
using DialogAction = std::function<void(HWND dialog, const ChildProcess&)>;

struct DriveResult {
    std::vector<SeenBox> boxes;       // every message box, in order
    std::vector<SeenDialog> dialogs;  // every progress dialog
    DWORD exitCode = 0;
    bool timedOut = false;
};

bool StartProcess(const std::string& exe, const std::string& arguments, ChildProcess& child);
void EndProcess(ChildProcess& child);

// The visible top-level "#32770" windows of a process.
std::vector<HWND> DialogWindowsOf(DWORD processId);
bool IsMessageBoxWindow(HWND window);
SeenBox ReadBox(HWND box);
std::string WindowText(HWND window);

// Watches the process until it exits: each new message box is read and
// answered, each progress dialog handed to `onDialog` once. Bounded by timeoutMs;
// a process still running then is killed and timedOut is set.
DriveResult Drive(ChildProcess& child, const BoxAnswer& answer, const DialogAction& onDialog,
                  DWORD timeoutMs = 30000);

// Presses a button of a box or dialog as a click would report it.
void PressButton(HWND window, int id);
// Posts Enter to the window that has the keyboard focus in the box's thread.
void PressEnter(HWND box);
// Holds the process's main thread still while `action` runs, so that a click
// or a close lands while the run is surely still going.
void WithThreadSuspended(const ChildProcess& child, const std::function<void()>& action);
