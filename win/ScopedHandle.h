// A kernel handle (file, thread, process, event, snapshot), closed once.
#pragma once

#include "Scoped.h"

#include <windows.h>

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return nullptr; }
    // Both null and INVALID_HANDLE_VALUE mean "no handle", whichever the API returns.
    static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static bool Release(Handle handle) { return CloseHandle(handle) != FALSE; }
};

using ScopedHandle = Scoped<KernelHandleTraits>;
