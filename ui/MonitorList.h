#pragma once
#include <windows.h>
#include <cstdint>

struct MonitorNode {
    int32_t index;
    RECT rect;
    MonitorNode* next;
};

// The display monitors in enumeration order, collected once by start-up.
extern MonitorNode* MonitorListHead;
extern MonitorNode* MonitorListTail;

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC dc, LPRECT rect, LPARAM data);
BOOL CollectMonitors();
int GetMonitorRect(RECT* rect, int index);
void FreeMonitors();
void CenterOnFirstMonitor(HWND window);
