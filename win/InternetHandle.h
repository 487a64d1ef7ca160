// A WinINet handle (session, connection or request), closed once.
#pragma once

#include "Scoped.h"

#include <windows.h>
#include <wininet.h>

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static bool Release(Handle handle) { return InternetCloseHandle(handle) != FALSE; }
};

using InternetHandle = Scoped<InternetHandleTraits>;
