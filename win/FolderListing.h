// The entries of one folder, read with FindFirstFileW and FindNextFileW; the
// search handle is closed however the listing ends.
#pragma once

#include "Scoped.h"

#include <windows.h>

#include <functional>
#include <string>

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    static bool Release(Handle handle) { return FindClose(handle) != FALSE; }
};

using ScopedFindHandle = Scoped<FindHandleTraits>;

// Gives `each` every entry of `folder` ("." and ".." included, as the system
// lists them); false, with the system's error, when the folder can't be listed.
inline bool ListFolder(const std::wstring& folder, const std::function<void(const WIN32_FIND_DATAW&)>& each)
{
    WIN32_FIND_DATAW found;
    const ScopedFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search.IsValid()) {
        return false;
    }
    do {
        each(found);
    } while (FindNextFileW(search.Get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}
