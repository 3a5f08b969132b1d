#include "ui/MonitorList.h"

MonitorNode* MonitorListHead = nullptr;
MonitorNode* MonitorListTail = nullptr;

BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT rect, LPARAM)
{
    MonitorNode* node = new MonitorNode;
    node->rect.left = rect->left;
    node->rect.top = rect->top;
    node->rect.right = rect->right;
    node->rect.bottom = rect->bottom;
    node->next = nullptr;
    if (MonitorListTail != nullptr) {
        node->index = MonitorListTail->index + 1;
        MonitorListTail->next = node;
        MonitorListTail = node;
    } else {
        node->index = 0;
        MonitorListHead = node;
        MonitorListTail = node;
    }
    return TRUE;
}

BOOL CollectMonitors()
{
    return EnumDisplayMonitors(nullptr, nullptr, AddMonitor, 0);
}

int GetMonitorRect(RECT* rect, int index)
{
    for (MonitorNode* node = MonitorListHead; node != nullptr; node = node->next) {
        if (node->index == index) {
            *rect = node->rect;
            return 1;
        }
    }
    return 0;
}

void FreeMonitors()
{
    while (MonitorListHead != nullptr) {
        MonitorNode* node = MonitorListHead;
        MonitorListHead = node->next;
        delete node;
    }
    MonitorListTail = nullptr;
}

void CenterOnFirstMonitor(HWND window)
{
    RECT win = {0, 0, 0, 0};
    GetWindowRect(window, &win);
    RECT mon;
    // Without a monitor 0 there is nothing to centre on: the window stays
    // where it is rather than being moved to an invented place.
    if (!GetMonitorRect(&mon, 0))
        return;
    // 32-bit signed arithmetic, wrapping like the platform's int and
    // truncating toward zero; the monitor's corner is not added.
    const int32_t dx = static_cast<int32_t>(
        (static_cast<uint32_t>(mon.right) - static_cast<uint32_t>(mon.left)) -
        (static_cast<uint32_t>(win.right) - static_cast<uint32_t>(win.left)));
    const int32_t dy = static_cast<int32_t>(
        (static_cast<uint32_t>(mon.bottom) - static_cast<uint32_t>(mon.top)) -
        (static_cast<uint32_t>(win.bottom) - static_cast<uint32_t>(win.top)));
    SetWindowPos(window, HWND_TOP, dx / 2, dy / 2, 0, 0, SWP_NOSIZE);
}
