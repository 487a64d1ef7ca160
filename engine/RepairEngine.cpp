#include "RepairEngine.h"

#include "BuildSettings.h"
#include "DownloadFile.h"
#include "ExtractArchive.h"

#include <shlwapi.h>

namespace {

// The configuration thread posts ConfigLoaded as its very last act, so when the
// package worker is started in reaction to it, that thread is about to end; this
// is how long it is given to do so.
constexpr DWORD kEndingWorkerWaitMs = 2000;

}  // namespace

RepairEngine& RepairEngine::Instance()
{
    // Deliberately never deleted: see the class comment.
    static RepairEngine* const engine = new RepairEngine();
    return *engine;
}

bool RepairEngine::PostEvent(uint32_t code, int32_t param)
{
    HWND window = notifyWindow;
    if (window == nullptr || !IsWindow(window)) {
        return false;
    }
    return PostMessageW(window, WM_REPAIR_EVENT, static_cast<WPARAM>(code),
                        static_cast<LPARAM>(param)) != FALSE;
}

std::wstring LocalConfigPath()
{
    wchar_t path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, path);
    PathAppendW(path, L"vnk_cross_repaire.ini");
    return path;
}

void RepairEngine::RunConfigWorker()
{
    const std::wstring iniPath = LocalConfigPath();
    // The configuration is small: no progress and no cancellation.
    const bool downloaded = DownloadFile(VNK_CONFIG_URL, iniPath, [](uint32_t) { return true; });
    if (!downloaded) {
        PostEvent(ConfigDownloadFailed, 0);
        return;
    }
    PostEvent(LoadConfig(iniPath) ? ConfigLoaded : ConfigParseFailed, 0);
}

void RepairEngine::RunPackageWorker()
{
    const std::wstring archivePath = installFolder + L"\\cross_new.zip";

    const bool downloaded = DownloadFile(config.url, archivePath, [this](uint32_t received) {
        if (CancelRequested()) {
            return false;
        }
        PostEvent(DownloadProgress, static_cast<int32_t>(received));
        return true;
    });
    if (!downloaded) {
        if (!CancelRequested()) {
            PostEvent(PackageDownloadFailed, 0);
        }
        return;
    }
    PostEvent(PackageDownloaded, 0);

    const int result = ExtractArchive(archivePath, installFolder, [this](int32_t entry, int32_t count) {
        if (CancelRequested()) {
            return false;
        }
        PostEvent(ExtractionProgress, PackExtractionProgress(entry, count));
        return true;
    });
    // A cancelled run leaves the archive and whatever was extracted so far.
    if (CancelRequested()) {
        return;
    }
    PostEvent(result == 0 ? ExtractionSucceeded : ExtractionFailed, 0);
    DeleteFileW(archivePath.c_str());
}

bool RepairEngine::FreeWorkerSlot(DWORD waitMs)
{
    if (workerThread != nullptr && WaitForSingleObject(workerThread, waitMs) == WAIT_OBJECT_0) {
        CloseHandle(workerThread);
        workerThread = nullptr;
    }
    return workerThread == nullptr;
}

bool RepairEngine::StartWorker(LPTHREAD_START_ROUTINE routine)
{
    workerThread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
    return workerThread != nullptr;
}

bool RepairEngine::StartConfigWorker(HWND window)
{
    notifyWindow = window;
    if (!FreeWorkerSlot(0)) {
        return false;
    }
    cancelRequested.store(false, std::memory_order_relaxed);
    return StartWorker(ConfigThreadProc);
}

bool RepairEngine::StartPackageWorker(const std::wstring& folder)
{
    if (!FreeWorkerSlot(kEndingWorkerWaitMs)) {
        return false;
    }
    cancelRequested.store(false, std::memory_order_relaxed);
    installFolder = folder;
    return StartWorker(PackageThreadProc);
}

void RepairEngine::Shutdown(DWORD waitMs)
{
    cancelRequested.store(true, std::memory_order_relaxed);
    if (workerThread != nullptr) {
        WaitForSingleObject(workerThread, waitMs);
        CloseHandle(workerThread);
        workerThread = nullptr;
    }
}

DWORD WINAPI ConfigThreadProc(LPVOID)
{
    RepairEngine::Instance().RunConfigWorker();
    return 0;
}

DWORD WINAPI PackageThreadProc(LPVOID)
{
    RepairEngine::Instance().RunPackageWorker();
    return 0;
}
