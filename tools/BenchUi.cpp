// Benchmark helper: the main window's status line and progress bar under a flood
// of DownloadProgress events from a fast download. Counts the tree redraws per
// second and measures how far the window lags behind the events.
// Usage: bench_ui URL SIZE_BYTES
#include "DownloadFile.h"
#include "GdiplusSession.h"
#include "RepairController.h"
#include "RepairEngine.h"

#include "ButtonControl.h"
#include "EditControl.h"
#include "HostWnd.h"
#include "ImageControl.h"
#include "ProgressControl.h"
#include "TextControl.h"
#include "WindowRoot.h"

#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace Quv::UI;

namespace {

struct Run {
    std::wstring url;
    HWND window = nullptr;
    std::vector<LONGLONG> posted;  // when each DownloadProgress was posted
};

LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

DWORD WINAPI DownloadThread(LPVOID parameter)
{
    Run& run = *static_cast<Run*>(parameter);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring target = std::wstring(temp) + L"bench_ui.bin";
    DownloadFile(run.url, target, [&run](uint32_t received) {
        run.posted.push_back(Now());
        PostMessageW(run.window, WM_REPAIR_EVENT, DownloadProgress, static_cast<LPARAM>(PackDownloadProgress(received)));
        return true;
    });
    PostMessageW(run.window, WM_REPAIR_EVENT, PackageDownloaded, 0);
    DeleteFileW(target.c_str());
    return 0;
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

    RepairConfig config;
    config.fileSize = _wtoi(argv[2]);
    RepairEngine::Instance().UseConfig(config);
    HostWnd host;
    WindowRoot root;
    host.root = &root;
    root.owner = &host;
    MainWindowParts parts;
    parts.host = &host;
    parts.root = &root;
    ImageControl* background = root.CreateImageControl(nullptr, "bkg");
    background->SetImage(130);
    background->SetPosition(0, 0, 548, 300);
    parts.folderEdit = root.CreateEditControl(background);
    parts.browseButton = root.CreateButtonControl(background, "btn_sure");
    parts.repairButton = root.CreateButtonControl(background, "btn_sure");
    parts.progressBar = root.CreateProgressControl(background);
    parts.progressBar->LoadImages();
    parts.progressBar->SetPosition(134, 152, 472, 166);
    parts.statusText = root.CreateTextControl(background, "progress_tips");
    parts.statusText->SetPosition(0, 168, 548, 196);
    RepairController controller(parts);

    Run run;
    run.url = argv[1];
    run.posted.reserve(1 << 20);
    std::vector<double> lags;
    lags.reserve(1 << 20);
    LONGLONG lastHandled = 0;
    bool downloaded = false;
    host.AddMessageHandler(WM_REPAIR_EVENT, [&](uint32_t code, int32_t param) {
        if (code == DownloadProgress) {
            controller.OnRepairEvent(code, param);
            lastHandled = Now();
            lags.push_back(static_cast<double>(lastHandled - run.posted[lags.size()]) * ms);
        } else if (code == PackageDownloaded) {
            downloaded = true;
        }
    });
    if (!host.Create(L"bench_ui", 548, 300)) {
        return 1;
    }
    host.Show(true);
    run.window = host.hwnd;

    const LONGLONG start = Now();
    HANDLE worker = CreateThread(nullptr, 0, DownloadThread, &run, 0, nullptr);
    unsigned redraws = 0;
    LONGLONG lastShown = 0;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        const bool paintTick = msg.message == WM_TIMER && msg.wParam == host.timerId && root.dirty;
        DispatchMessageW(&msg);
        if (paintTick) {
            ++redraws;
            lastShown = Now();
        }
        if (downloaded && !root.dirty) {
            break;  // whatever the last event changed is on screen
        }
    }
    WaitForSingleObject(worker, INFINITE);
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
    const LONGLONG lastPosted = run.posted.empty() ? start : run.posted.back();
    printf("last_event_handled_after_ms: %.1f\n", static_cast<double>(lastHandled - lastPosted) * ms);
    printf("last_event_on_screen_after_ms: %.1f\n", static_cast<double>(lastShown - lastPosted) * ms);
    SendMessageW(host.hwnd, WM_CLOSE, 0, 0);
    host.root = nullptr;
    root.OnClose();
    return 0;
}
