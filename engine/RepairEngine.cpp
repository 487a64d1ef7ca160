#include "EngineState.h"

#include "BuildSettings.h"
#include "CheckProcesses.h"
#include "DiagnosticsLog.h"
#include "DownloadFile.h"
#include "HttpGet.h"
#include "InstallFolder.h"
#include "Signature.h"
#include "SmallFile.h"
#include "ThreadBoundary.h"

#include <shlwapi.h>

namespace {

// The configuration thread posts ConfigLoaded as its very last act, so when the
// package worker is started in reaction to it, that thread is about to end; this
// is how long it is given to do so.
constexpr DWORD kEndingWorkerWaitMs = 2000;

// Pause between two tries of a closing event that the queue refused.
constexpr DWORD kRepostPauseMs = 20;

// What was read of a configuration, in the log's words.
void LogConfig(const RepairConfig& config, bool loaded)
{
    std::wstring programs;
    for (const std::wstring& name : config.processNames) {
        programs += (programs.empty() ? L"" : L", ") + name;
    }
    Log(L"configuration: url " + (config.url.empty() ? std::wstring(L"(none)") : config.url) + L", filesize " +
        (config.fileSize < 0 ? L"-" + Num(0u - static_cast<uint32_t>(config.fileSize))
                             : Num(static_cast<uint32_t>(config.fileSize))) +
        L", notice " + (config.tips.empty() ? L"no" : L"yes") + L", programs: " +
        (programs.empty() ? std::wstring(L"none") : programs) + L", version " +
        (config.version == 0 ? std::wstring(L"none") : Num(config.version)) + L", sha256 " +
        (config.sha256.empty() ? L"no" : L"yes") +
        (loaded ? std::wstring() : std::wstring(L"; not usable: no package and no notice, or a missing process entry")));
}

// Tests widen the time between reading the configuration and acting on it, in
// which another program could rewrite the file.
void PauseAfterReadingConfig()
{
#ifdef VNK_TEST_SEAMS
    wchar_t value[16] = {};
    if (GetEnvironmentVariableW(L"VNK_TEST_CONFIG_PAUSE_MS", value, 16) > 0) {
        Sleep(static_cast<DWORD>(wcstol(value, nullptr, 10)));
    }
#endif
}

}  // namespace

RepairEngine& RepairEngine::Instance()
{
    // Deliberately never deleted: see the class comment.
    static RepairEngine* const engine = new RepairEngine();
    return *engine;
}

RepairEngine::RepairEngine() : state(*new State(*this)), packageKey(BuiltInKeys()) {}

std::wstring RepairEngine::Notice() const { return state.config.tips; }

const RepairConfig& RepairEngine::Config() const { return state.config; }

void RepairEngine::UseConfig(const RepairConfig& value) { state.config = value; }

std::wstring RepairEngine::FileHeldNow() const { return HeldNow(); }

std::wstring RepairEngine::FileThatStayedHeld() const { return HeldFile(); }

bool RepairEngine::ProxyWantsLogin() const { return ProxyAskedForLogin(); }

HWND RepairEngine::LiveNotifyWindow() const
{
    HWND window = notifyWindow;
    return (window != nullptr && IsWindow(window)) ? window : nullptr;
}

bool RepairEngine::PostEvent(uint32_t code, int32_t param)
{
    HWND window = LiveNotifyWindow();
    if (window == nullptr) {
        return false;
    }
    // Recorded before it is posted, so that the window finds it when it arrives.
    CriticalSectionLocker locked(eventsLock);
    postedEvents.emplace_back(code, param);
    if (postMessage(window, WM_REPAIR_EVENT, static_cast<WPARAM>(code), static_cast<LPARAM>(param)) == FALSE) {
        postedEvents.pop_back();
        return false;
    }
    return true;
}

bool RepairEngine::TakeEvent(uint32_t code, int32_t param)
{
    // One queue delivers posted messages in order: ours arrive as we posted them.
    CriticalSectionLocker locked(eventsLock);
    if (postedEvents.empty() || postedEvents.front() != std::make_pair(code, param)) {
        return false;
    }
    postedEvents.pop_front();
    return true;
}

bool RepairEngine::PostClosingEvent(uint32_t code, int32_t param)
{
    // A game folder that moved while the repair held it refuses the repair,
    // whichever step noticed.
    if (code == PackageDownloadFailed && state.gameFolder != nullptr && state.gameFolder->Moved()) {
        code = ExtractionFailed;
    }
    for (;;) {
        if (PostEvent(code, param)) {
            return true;
        }
        if (LiveNotifyWindow() == nullptr) {
            return false;
        }
        Sleep(kRepostPauseMs);
    }
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
    // Until this run accepts one, there is no configuration to act on.
    state.config = RepairConfig();
    const std::wstring iniPath = LocalConfigPath();
    // The configuration is small: no progress, and every try starts over. A
    // closing window ends a wait between tries.
    DownloadOptions options;
    options.limit = kMaxConfigBytes;
    options.revalidate = true;  // it changes under its address: never a cache's old copy
    options.cancelled = [this] { return CancelRequested(); };
    const bool downloaded = DownloadFile(VNK_CONFIG_URL, iniPath, [](uint32_t) { return true; }, options);
    if (!downloaded) {
        PostClosingEvent(ConfigDownloadFailed);
        return;
    }
    // Read once: the signature is checked over these bytes and the values are
    // read from them, whatever happens to the file meanwhile.
    std::string bytes;
    if (!ReadSmallFile(iniPath, kMaxConfigBytes, bytes)) {
        Log(L"can't read " + iniPath + L": " + ErrorText(GetLastError()));
        PostClosingEvent(ConfigParseFailed);
        return;
    }
    PauseAfterReadingConfig();
    // With a key built in, nothing of a configuration is acted on unless it is
    // signed with that key.
    if (!packageKey.empty() && !VerifyConfigSignature(bytes, iniPath)) {
        PostClosingEvent(ConfigParseFailed);
        return;
    }
    RepairConfig loaded;
    const bool parsed = ParseConfig(bytes, loaded);
    LogConfig(loaded, parsed);
    const bool accepted = parsed && (packageKey.empty() || AcceptSignedConfig(loaded));
    if (accepted) {
        state.config = std::move(loaded);
    }
    PostClosingEvent(accepted ? ConfigLoaded : ConfigParseFailed);
}

bool RepairEngine::LoadConfig(const std::wstring& iniPath)
{
    std::string bytes;
    RepairConfig loaded;
    // What is refused is never kept: nothing of it can be acted on later.
    const bool accepted = ReadSmallFile(iniPath, kMaxConfigBytes, bytes) && ParseConfig(bytes, loaded);
    state.config = accepted ? std::move(loaded) : RepairConfig();
    return accepted;
}

bool RepairEngine::FindInstallFolder(std::wstring& folder) { return ::FindInstallFolder(folder); }

bool RepairEngine::IsInstallFolder(const std::wstring& folder) { return ::IsInstallFolder(folder); }

bool RepairEngine::CheckProcesses(const std::wstring& folder, std::wstring& name)
{
    return ::CheckProcesses(state.config.processNames, folder, name);
}

bool RepairEngine::WaitForWorker(DWORD waitMs) const
{
    return !workerThread.IsValid() || WaitForSingleObject(workerThread.Get(), waitMs) == WAIT_OBJECT_0;
}

bool RepairEngine::FreeWorkerSlot(DWORD waitMs)
{
    if (workerThread.IsValid() && WaitForWorker(waitMs)) {
        workerThread.Close();
    }
    return !workerThread.IsValid();
}

bool RepairEngine::StartWorker(LPTHREAD_START_ROUTINE routine)
{
    workerThread = ScopedHandle(CreateThread(nullptr, 0, routine, nullptr, 0, nullptr));
    if (!workerThread.IsValid()) {
        Log(L"can't start a worker thread: " + ErrorText(GetLastError()));
    }
    return workerThread.IsValid();
}

bool RepairEngine::BeginRun(HWND window)
{
    notifyWindow = window;
    if (!FreeWorkerSlot(0)) {
        return false;
    }
    {
        // A new run: what an earlier one posted is no longer expected.
        CriticalSectionLocker locked(eventsLock);
        postedEvents.clear();
    }
    cancelRequested.store(false, std::memory_order_relaxed);
    // A run's waits for held files are the window's to show, and its cause of failure.
    SetHoldObserver(&state.holdReporter);
    ForgetHeldFile();
    ForgetProxyLogin();
    return true;
}

bool RepairEngine::StartConfigWorker(HWND window) { return BeginRun(window) && StartWorker(ConfigThreadProc); }

bool RepairEngine::StartRecoveryWorker(HWND window, const std::wstring& folder)
{
    if (!BeginRun(window)) {
        return false;
    }
    installFolder = folder;
    return StartWorker(RecoveryThreadProc);
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
    if (workerThread.IsValid()) {
        workerAbandoned = !WaitForWorker(waitMs);
        workerThread.Close();
    }
}

void RepairEngine::DiscardPartialDownload()
{
    if (!workerAbandoned && FreeWorkerSlot(0)) {
        state.partialPackage.Discard();
    }
}

// A worker that fails of itself ends its run as a failed step would: the
// window must hear of it, and a staged repair has rolled back on the way out.
DWORD WINAPI ConfigThreadProc(LPVOID)
{
    RepairEngine& engine = RepairEngine::Instance();
    if (!RunGuarded(L"the configuration's worker", [&engine] { engine.RunConfigWorker(); })) {
        engine.PostClosingEvent(ConfigDownloadFailed);
    }
    return 0;
}

DWORD WINAPI PackageThreadProc(LPVOID)
{
    RepairEngine& engine = RepairEngine::Instance();
    if (!RunGuarded(L"the repair's worker", [&engine] { engine.RunPackageWorker(); })) {
        engine.PostClosingEvent(ExtractionFailed);
    }
    return 0;
}

DWORD WINAPI RecoveryThreadProc(LPVOID)
{
    RepairEngine& engine = RepairEngine::Instance();
    if (!RunGuarded(L"the recovery's worker", [&engine] { engine.RunRecoveryWorker(); })) {
        engine.PostClosingEvent(RecoveryEnded, RecoveryFailed);
    }
    return 0;
}
