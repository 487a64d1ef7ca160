#pragma once

// The main window's title, by which a second copy of the program finds it.
extern const wchar_t kMainWindowTitle[];

// Builds and runs the main window until it is destroyed; returns the quit code,
// or a non-zero code at once when the window could not be made.
int RunMainWindow();
