// The updater's entry point: everything else lives in updater_core.
#include "app/StartUp.h"
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    STARTUPINFOA info;
    info.cb = sizeof info;
    GetStartupInfoA(&info);
    int show = (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
    return StartUp(instance, show);
}
