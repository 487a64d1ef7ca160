#include "WorkerThreads.h"

#include <algorithm>
#include <cwchar>

unsigned WorkerThreadCount(size_t pieces, unsigned most)
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

bool WorkerThreads::Start(LPTHREAD_START_ROUTINE routine, void* context)
{
    ScopedHandle thread(CreateThread(nullptr, 0, routine, context, 0, nullptr));
    if (!thread.IsValid()) {
        return false;
    }
    threads_.push_back(std::move(thread));
    return true;
}

bool WorkerThreads::PollUntilEnded(DWORD intervalMs, const std::function<bool()>& poll)
{
    for (;;) {
        if (!poll()) {
            return false;
        }
        if (WaitAll(intervalMs)) {
            return true;
        }
    }
}

void WorkerThreads::Join()
{
    WaitAll(INFINITE);
    threads_.clear();
}

bool WorkerThreads::WaitAll(DWORD waitMs) const
{
    if (threads_.empty()) {
        return true;
    }
    // WaitForMultipleObjects takes at most MAXIMUM_WAIT_OBJECTS handles; a set is far smaller.
    std::vector<HANDLE> waits;
    for (const ScopedHandle& thread : threads_) {
        waits.push_back(thread.Get());
    }
    return WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), TRUE, waitMs) != WAIT_TIMEOUT;
}
