// Benchmark helper: the floor of a download under this wine, against which
// DownloadFile is measured: a bare WinINet loop, InternetOpenUrlW and then
// InternetReadFile of up to 1 MiB at a time, each piece written to the file.
// Usage: bench_download_floor URL DESTINATION [READ_BYTES]
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: bench_download_floor URL DESTINATION [READ_BYTES]\n");
        return 2;
    }
    const DWORD piece = argc > 3 ? static_cast<DWORD>(wcstoul(argv[3], nullptr, 10)) : (1u << 20);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HINTERNET session = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = session == nullptr ? nullptr
                                           : InternetOpenUrlW(session, argv[1], nullptr, 0,
                                                              INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (request == nullptr || file == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"can't start: %lu\n", GetLastError());
        return 1;
    }
    std::vector<char> buffer(piece);
    unsigned long long total = 0;
    unsigned reads = 0;
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(request, buffer.data(), piece, &count)) {
            fwprintf(stderr, L"read failed: %lu\n", GetLastError());
            return 1;
        }
        if (count == 0) {
            break;
        }
        ++reads;
        DWORD written = 0;
        if (!WriteFile(file, buffer.data(), count, &written, nullptr) || written != count) {
            return 1;
        }
        total += count;
    }
    CloseHandle(file);
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    QueryPerformanceCounter(&end);
    printf("floor_seconds: %.3f\nfloor_bytes: %llu\nfloor_reads: %u\n",
           double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart), total, reads);
    return 0;
}
