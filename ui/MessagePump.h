#pragma once

// Takes one message without waiting and dispatches it; nonzero when one was
// taken. Raises the quit signal (an int, 0) on WM_QUIT.
int PumpOneMessage();
// Empties the thread's queue: 0, or 1 when the quit signal (or any other
// exception) came out of the pump. Never waits.
int DrainMessages();
