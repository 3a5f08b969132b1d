#pragma once
#include <windows.h>

// Runs the whole update; the result is the process exit status.
int StartUp(HINSTANCE instance, int showState);
