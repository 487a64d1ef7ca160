// Benchmark helper of the repair of what is broken only (bench-partial.sh).
//   bench_partial repair INI GAME   one package repair as the program makes it, with the
//                                   configuration in INI; prints its closing event and time
//   bench_partial scan MANIFEST GAME   the scan of GAME against MANIFEST, timed
//   bench_partial read MANIFEST GAME   merely reading the same files, one after the other
#include "FolderScan.h"
#include "RepairEngine.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

bool ReadManifest(const wchar_t* path, PackageManifest& manifest)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring error;
    if (!ParseManifest(bytes, manifest, error)) {
        fwprintf(stderr, L"bench_partial: %ls\n", error.c_str());
        return false;
    }
    return true;
}

// The last event the engine posted to this thread's message-only window.
uint32_t g_lastEvent = 0;

LRESULT CALLBACK EventProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_REPAIR_EVENT) {
        g_lastEvent = static_cast<uint32_t>(wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int Repair(const wchar_t* ini, const wchar_t* game)
{
    RepairEngine& engine = RepairEngine::Instance();
    if (!engine.LoadConfig(ini)) {
        fwprintf(stderr, L"bench_partial: %ls is no usable configuration\n", ini);
        return 2;
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = EventProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"BenchPartialEvents";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"BenchPartialEvents", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    engine.ReportTo(window);
    const double start = Now();
    if (!engine.StartPackageWorker(game)) {
        return 2;
    }
    // The events are dispatched as they come, as the window would.
    while (!engine.WaitForWorker(5)) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
    }
    const double took = Now() - start;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&msg);
    }
    printf("closing_event: %u\nrepair_seconds: %.3f\n", g_lastEvent, took);
    return g_lastEvent == ExtractionSucceeded ? 0 : 1;
}

int Scan(const wchar_t* manifestPath, const wchar_t* game)
{
    PackageManifest manifest;
    if (!ReadManifest(manifestPath, manifest)) {
        return 2;
    }
    ScanResult result;
    const double start = Now();
    HeldFolder folder;
    if (!folder.Open(game)) {
        return 2;
    }
    ScanGameFolder(folder, manifest, [](size_t, size_t) { return true; }, result);
    printf("scan_seconds: %.3f\nscan_files: %zu\nscan_damaged: %zu\nscan_bytes: %llu\n", Now() - start,
           result.checked, result.damagedFiles.size(), static_cast<unsigned long long>(result.bytesRead));
    return 0;
}

int Read(const wchar_t* manifestPath, const wchar_t* game)
{
    PackageManifest manifest;
    if (!ReadManifest(manifestPath, manifest)) {
        return 2;
    }
    std::vector<char> buffer(1u << 20);
    unsigned long long total = 0;
    const double start = Now();
    for (const ManifestFile& file : manifest.files) {
        std::wstring path = std::wstring(game) + L"\\" + file.path;
        for (wchar_t& c : path) {
            c = c == L'/' ? L'\\' : c;
        }
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        DWORD read = 0;
        while (handle != INVALID_HANDLE_VALUE && ReadFile(handle, buffer.data(), 1u << 20, &read, nullptr) &&
               read > 0) {
            total += read;
        }
        CloseHandle(handle);
    }
    printf("read_seconds: %.3f\nread_bytes: %llu\n", Now() - start, total);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && std::wstring(argv[1]) == L"repair") {
        return Repair(argv[2], argv[3]);
    }
    if (argc == 4 && std::wstring(argv[1]) == L"scan") {
        return Scan(argv[2], argv[3]);
    }
    if (argc == 4 && std::wstring(argv[1]) == L"read") {
        return Read(argv[2], argv[3]);
    }
    fwprintf(stderr, L"usage: bench_partial repair INI GAME | scan MANIFEST GAME | read MANIFEST GAME\n");
    return 2;
}
