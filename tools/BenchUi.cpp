// Benchmark helper: the main window's status line and progress bar under a flood
// of DownloadProgress events from a fast download by the real package worker.
// Counts the tree redraws per second and measures how far the window lags
// behind the events.
// Usage: bench_ui URL SIZE_BYTES
#include "GdiplusSession.h"
#include "MainWindow.h"
#include "RepairConfig.h"
#include "RepairEngine.h"
#include "RepairEvents.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace Quv::UI;

namespace {

LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

std::vector<LONGLONG> g_posted;  // when each DownloadProgress was posted

// The engine's way of posting, with the time of each progress event noted.
BOOL WINAPI PostAndNote(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_REPAIR_EVENT && wParam == DownloadProgress) {
        g_posted.push_back(Now());
    }
    return PostMessageW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        fwprintf(stderr, L"usage: bench_ui URL SIZE_BYTES\n");
        return 2;
    }
    const GdiplusSession session;  // before the window, which it outlives
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double ms = 1000.0 / static_cast<double>(frequency.QuadPart);

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring game = std::wstring(temp) + L"bench_ui";
    CreateDirectoryW(game.c_str(), nullptr);
    RepairConfig config;
    config.url = argv[1];
    config.fileSize = _wtoi(argv[2]);
    RepairEngine& engine = RepairEngine::Instance();
    engine.UseConfig(config);
    engine.SetPostMessage(PostAndNote);
    g_posted.reserve(1 << 20);

    const std::unique_ptr<MainWindow> window = BuildMainWindow();
    std::vector<double> lags;
    lags.reserve(1 << 20);
    LONGLONG lastHandled = 0;
    bool downloaded = false;
    // After the controller's own handler: the event is on its way to the screen.
    window->host->AddMessageHandler(WM_REPAIR_EVENT, [&](uint32_t code, int32_t) {
        if (code == DownloadProgress && lags.size() < g_posted.size()) {
            lastHandled = Now();
            lags.push_back(static_cast<double>(lastHandled - g_posted[lags.size()]) * ms);
        } else if (code == PackageDownloaded) {
            downloaded = true;
        }
    });
    if (!window->Create()) {
        return 1;
    }
    engine.ReportTo(window->host->hwnd);

    const LONGLONG start = Now();
    window->controller->StartPackageWorker(game);
    unsigned redraws = 0;
    LONGLONG lastShown = 0;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // The download is what is measured: the unpacking of random bytes
        // that follows, and its dialog, are not.
        if (msg.message == WM_REPAIR_EVENT && msg.wParam != DownloadProgress && msg.wParam != PackageDownloaded) {
            continue;
        }
        const bool paintTick = msg.message == WM_TIMER && msg.wParam == window->host->timerId && window->root->dirty;
        DispatchMessageW(&msg);
        if (paintTick) {
            ++redraws;
            lastShown = Now();
        }
        if (downloaded && !window->root->dirty) {
            break;  // whatever the last event changed is on screen
        }
    }
    engine.Shutdown(INFINITE);
    const double seconds = static_cast<double>(lastShown - start) * ms / 1000.0;
    double maxLag = 0, sumLag = 0;
    for (double lag : lags) {
        maxLag = std::max(maxLag, lag);
        sumLag += lag;
    }
    printf("progress_events: %zu\n", lags.size());
    printf("run_seconds: %.2f\n", seconds);
    printf("tree_redraws: %u\n", redraws);
    printf("redraws_per_second: %.1f\n", redraws / seconds);
    printf("event_lag_ms_mean: %.2f\n", lags.empty() ? 0.0 : sumLag / lags.size());
    printf("event_lag_ms_max: %.2f\n", maxLag);
    const LONGLONG lastPosted = g_posted.empty() ? start : g_posted.back();
    printf("last_event_handled_after_ms: %.1f\n", static_cast<double>(lastHandled - lastPosted) * ms);
    printf("last_event_on_screen_after_ms: %.1f\n", static_cast<double>(lastShown - lastPosted) * ms);
    SendMessageW(window->host->hwnd, WM_CLOSE, 0, 0);
    DeleteFileW((game + L"\\cross_new.zip").c_str());
    RemoveDirectoryW(game.c_str());
    return 0;
}
