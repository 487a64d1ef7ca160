// Threads that share one piece of work side by side, and how many to give it.
#pragma once

#include "ScopedHandle.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <vector>

// More threads than this only contend for a player's one disk.
constexpr unsigned kMostWorkerThreads = 4;

// One thread a processor, no more than `most` nor than the `pieces`, and at least one.
unsigned WorkerThreadCount(size_t pieces, unsigned most = kMostWorkerThreads);

// The threads run `routine(context)`; the context is the caller's, so the
// set joins them all before it goes, whatever way its owner leaves.
class WorkerThreads {
public:
    WorkerThreads() = default;
    ~WorkerThreads() { Join(); }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // One more thread; false, with the system's error, when none could be made.
    bool Start(LPTHREAD_START_ROUTINE routine, void* context);
    // Calls `poll` at once and again every `intervalMs` while any thread
    // runs: true once all have ended, false as soon as `poll` says stop
    // (the threads may still run).
    bool PollUntilEnded(DWORD intervalMs, const std::function<bool()>& poll);
    // Waits for every thread to end.
    void Join();

private:
    // Waits for every thread at most `waitMs`: true once all have ended.
    bool WaitAll(DWORD waitMs) const;

    std::vector<ScopedHandle> threads_;
};
