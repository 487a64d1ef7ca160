// Benchmark helper: one ExtractArchive, timed, with the process's peak memory.
// Usage: bench_extract ARCHIVE DESTINATION
#include "ExtractArchive.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        fwprintf(stderr, L"usage: bench_extract ARCHIVE DESTINATION\n");
        return 2;
    }
    CreateDirectoryW(argv[2], nullptr);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int result = ExtractArchive(argv[1], argv[2], [](int32_t, int32_t) { return true; });
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    printf("extract_result: %d\nextract_seconds: %.3f\npeak_private_mb: %.1f\npeak_working_set_mb: %.1f\n", result,
           seconds, memory.PeakPagefileUsage / 1048576.0, memory.PeakWorkingSetSize / 1048576.0);
    return result == 0 ? 0 : 1;
}
