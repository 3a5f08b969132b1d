#include "ui/MessagePump.h"
#include "ui/ProgressDialog.h"
#include <windows.h>

int PumpOneMessage()
{
    MSG message;
    const int taken = PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
    if (taken == 0)
        return 0;
    if (message.message == WM_QUIT)
        throw 0;  // the quit signal; it has left the queue already
    if (ProgressDialog != nullptr && IsDialogMessageA(ProgressDialog, &message))
        return taken;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return taken;
}

int DrainMessages()
{
    int result = 0;
    try {
        while (PumpOneMessage() != 0) {
        }
    } catch (int) {
        result = 1;
    } catch (...) {
        result = 1;
    }
    return result;
}
