// Process-wide values of the application.
#pragma once

#include <windows.h>

#include <cstdint>

// The module instance handle; written once, first thing in wWinMain.
extern HINSTANCE AppInstance;

// Outcome of the most recent repair step, reported at exit (0: nothing happened).
// Written and read on the UI thread only.
extern int32_t StatusCode;
