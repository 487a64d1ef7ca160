// How many threads to give work that splits into independent pieces.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>

// One thread a processor, no more than `most` nor than the `pieces`, and at least one.
inline unsigned WorkerThreadCount(size_t pieces, unsigned most)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    DWORD processors = system.dwNumberOfProcessors;
#ifdef VNK_TEST_SEAMS
    // VNK_TEST_PROCESSORS=N: the work splits as on a machine with N processors.
    wchar_t shown[8] = {};
    if (GetEnvironmentVariableW(L"VNK_TEST_PROCESSORS", shown, 8) != 0) {
        processors = static_cast<DWORD>(wcstol(shown, nullptr, 10));
    }
#endif
    const size_t wanted = std::min<size_t>(std::max<DWORD>(processors, 1), most);
    return static_cast<unsigned>(std::max<size_t>(std::min(wanted, pieces), 1));
}
