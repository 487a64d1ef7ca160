// A WinINet handle (session, connection or request), closed once.
#pragma once

#include "Scoped.h"
#include "WinInet.h"

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    // A handle exists only where WinINet was loaded.
    static bool Release(Handle handle) { return WinInet()->InternetCloseHandle(handle) != FALSE; }
};

using InternetHandle = Scoped<InternetHandleTraits>;
