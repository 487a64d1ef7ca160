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
    waits_.push_back(thread.Get());
    threads_.push_back(std::move(thread));
    return true;
}

bool WorkerThreads::PollUntilEnded(DWORD intervalMs, const std::function<bool()>& poll)
{
    for (;;) {
        if (!poll()) {
            return false;
        }
        if (waits_.empty() || WaitForMultipleObjects(static_cast<DWORD>(waits_.size()), waits_.data(), TRUE,
                                                     intervalMs) != WAIT_TIMEOUT) {
            return true;
        }
    }
}

void WorkerThreads::Join()
{
    // WaitForMultipleObjects takes at most MAXIMUM_WAIT_OBJECTS handles; a set is far smaller.
    if (!waits_.empty()) {
        WaitForMultipleObjects(static_cast<DWORD>(waits_.size()), waits_.data(), TRUE, INFINITE);
    }
    waits_.clear();
    threads_.clear();
}
