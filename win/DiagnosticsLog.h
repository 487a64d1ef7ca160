// The diagnostics log that support can ask for: LumoraRepair.log in the
// user's temporary folder, UTF-8, one line per event:
//   2026-12-08 01:23:45.678 [UI] message
// Lines stay whole when both threads write; at 1 MB the file becomes
// LumoraRepair.log.1 and a new one starts. Nothing the player sees depends on
// it: a log that can't be written is silently left out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Appends one line.
void Log(const std::wstring& message);

// The calling thread is the UI thread from now on; all others are workers.
void SetLogUiThread();

// Writes the log to `path` from now on (the tests' own folder); empty: the
// temporary folder's LumoraRepair.log.
void SetLogPath(const std::wstring& path);
std::wstring LogPath();

// The log rolls over before it passes this size.
constexpr uint64_t kMaxLogBytes = 1024 * 1024;

// Pieces of messages.
std::wstring Num(uint64_t value);
// "error 32 (The process cannot access the file ...)", with the system's text
// (WinINet's for its own codes) when there is one.
std::wstring ErrorText(DWORD error);
