// How many threads to give work that splits into independent pieces.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>

// One thread a processor, no more than `most` nor than the `pieces`, and at least one.
inline unsigned WorkerThreadCount(size_t pieces, unsigned most)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t wanted = std::min<size_t>(std::max<DWORD>(system.dwNumberOfProcessors, 1), most);
    return static_cast<unsigned>(std::max<size_t>(std::min(wanted, pieces), 1));
}
