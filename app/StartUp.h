#pragma once
#include <windows.h>

// Exit statuses of the guards; a run that took place returns its InstallResult.
constexpr int kStartNotInstalled = -1;
constexpr int kStartGameRunning = -2;
constexpr int kStartDeclined = -3;
constexpr int kStartDialogFailed = -4;
constexpr int kStartCaptionFailed = -5;

// Runs the whole update; the result is the process exit status.
int StartUp(HINSTANCE instance, int showState);

// Reads HKLM\Software\<publisher>\<product> "InstalledFolder" (REG_SZ) into a
// 260-byte buffer: 1 with a NUL-terminated text of at most 259 bytes, else 0.
int FindInstallFolder(char* folder, const char* publisher, const char* product);

// A message box with no owner and the caption as its title.
void ShowInfo(const char* text);
void ShowWarning(const char* text);
