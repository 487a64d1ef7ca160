// What every download of the program shares: which failures may pass and are
// tried again, and the wait before the next try, which a closing window ends.
#pragma once

#include <windows.h>

#include <functional>

// Answers that a server gives while it is busy or briefly broken.
inline bool IsPassingStatus(DWORD status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

// Asks every cache on the way to check with the server first: for what may
// change under a fixed address, and for what came wrong from a cache once.
constexpr wchar_t kRevalidateHeaders[] = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";

// Waits `ms`; false (at once) when `cancelled` says so.
inline bool WaitUnlessCancelled(DWORD ms, const std::function<bool()>& cancelled)
{
    constexpr DWORD kPollMs = 20;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (cancelled && cancelled()) {
            return false;
        }
        Sleep(kPollMs);
    }
    return !(cancelled && cancelled());
}
