// Benchmark helper: one DownloadFile of a URL into a file, timed.
// Usage: bench_download URL DESTINATION
#include "DownloadFile.h"

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        fwprintf(stderr, L"usage: bench_download URL DESTINATION\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    unsigned chunks = 0;
    const bool ok = DownloadFile(argv[1], argv[2], [&chunks](uint32_t) {
        ++chunks;
        return true;
    });
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    printf("download_ok: %d\ndownload_seconds: %.3f\nprogress_calls: %u\n", ok ? 1 : 0, seconds, chunks);
    return ok ? 0 : 1;
}
