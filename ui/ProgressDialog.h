#pragma once
#include <windows.h>
#include <cstdint>

// The progress dialog: template 102 and its controls.
constexpr int kProgressDialogTemplate = 102;
constexpr int kIdCancelButton = 1000;
constexpr int kIdStatusText = 1001;
constexpr int kIdFileBar = 1002;
constexpr int kIdOverallBar = 1003;

// The dialog handle: set by start-up, emptied by whoever destroys the dialog.
extern HWND ProgressDialog;
// RunFlags: 0 at start, only ever set to 1.
extern int32_t CancelRequested;
extern int32_t CloseRequested;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the progress bar class that template 102 names, so that the
// dialog can be created.
void RegisterProgressBarClass();
