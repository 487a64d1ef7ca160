// The one engine of the process, and the application's only door to it: the
// window to report to, the cancel flag, the single worker-thread slot. What a
// run keeps in the rooms' own types (the configuration, the game folder, a
// partial download) lives behind it, in EngineState.h, which only the engine
// sees: the application's build has no path to the rooms' headers.
#pragma once

#include "CriticalSection.h"
#include "RepairEvents.h"
#include "ScopedHandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct RangeRequest;
struct RepairConfig;
struct RepairPlan;

// How long a closing window waits for the worker to stop.
constexpr DWORD kShutdownWaitMs = 1000;

class RepairEngine {
public:
    // Made on first use and kept until the process ends, so that a worker that
    // outlives the main window never touches released state.
    static RepairEngine& Instance();

    // Posts WM_REPAIR_EVENT to notifyWindow while that window exists.
    bool PostEvent(uint32_t code, int32_t param);
    // True when (code, param) is the oldest event this engine posted that the
    // window has not taken yet, which it takes now. Any other WM_REPAIR_EVENT
    // was posted by some other program and must be ignored: on Windows XP any
    // program on the desktop can post one.
    bool TakeEvent(uint32_t code, int32_t param);
    // Posts an event that ends a step: a full message queue refuses posts, and
    // a lost closing event would leave the controls locked, so it is tried
    // again until it is posted or the window is gone.
    bool PostClosingEvent(uint32_t code, int32_t param = 0);

    // Bodies of the worker threads.
    void RunConfigWorker();
    void RunPackageWorker();
    void RunRecoveryWorker();

    // Starting and stopping workers; at most one runs at a time.
    // Start the configuration worker reporting to `window`; false when nothing was started.
    bool StartConfigWorker(HWND window);
    // Start the package worker on `folder`; false when nothing was started.
    bool StartPackageWorker(const std::wstring& folder);
    // Start undoing, or finishing, a repair of `folder` that a crash cut
    // short, reporting RecoveryEnded to `window`; false when nothing was started.
    bool StartRecoveryWorker(HWND window, const std::wstring& folder);
    // Ask the worker to stop and wait for it at most `waitMs`, then forget it.
    void Shutdown(DWORD waitMs = kShutdownWaitMs);
    // Deletes a partial package kept for the next repair, when no worker can
    // still be writing it: the program is ending.
    void DiscardPartialDownload();

    // Install folder discovery.
    bool FindInstallFolder(std::wstring& folder);
    bool IsInstallFolder(const std::wstring& folder);

    // Reads the INI file once and parses its bytes into `config`; a file that
    // is refused leaves `config` empty.
    bool LoadConfig(const std::wstring& iniPath);

    // True when no listed program runs from `folder`; otherwise `name` is the
    // executable name of the last blocking process.
    bool CheckProcesses(const std::wstring& folder, std::wstring& name);

    // The configuration's notice, shown instead of a repair; empty: none.
    std::wstring Notice() const;
    // The configuration a repair goes by: what LoadConfig read from the server,
    // or what a caller (a test) gives it.
    const RepairConfig& Config() const;
    void UseConfig(const RepairConfig& value);

    // What a download's progress counts up to: the package's size, or the
    // bytes a repair of the damaged files only fetches. Set by the package
    // worker before its first DownloadProgress.
    uint64_t ProgressTotal() const { return progressTotal.load(std::memory_order_relaxed); }

    // The window that receives the events; StartConfigWorker sets it too.
    void ReportTo(HWND window) { notifyWindow = window; }

    // The PEM keys (one or two) that the configuration must be signed with;
    // empty: neither it nor the package is checked.
    void SetPackageKey(std::string pem) { packageKey = std::move(pem); }

    // How every event is posted; tests put a full message queue in its place.
    using PostMessageFn = BOOL(WINAPI*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void SetPostMessage(PostMessageFn post) { postMessage = post; }

    // The file another program holds while the worker waits for it (FileHeld);
    // the one whose hold outlasted the wait and ended the last run; empty: none.
    std::wstring FileHeldNow() const;
    std::wstring FileThatStayedHeld() const;
    // Whether a proxy on the way asked for a login during the last run.
    bool ProxyWantsLogin() const;

    // Whether a worker thread is there: running, or ended and not yet freed.
    bool HasWorker() const { return workerThread.IsValid(); }
    // Waits at most `waitMs` for the worker to end; true when it has, or there is none.
    bool WaitForWorker(DWORD waitMs) const;

private:
    struct State;  // EngineState.h

    std::atomic<bool> cancelRequested{false};  // one-way request; relaxed ordering is enough
    ScopedHandle workerThread;
    HWND notifyWindow = nullptr;
    std::wstring installFolder;
    // Made with the engine and, like it, never freed.
    State& state;
    // The keys built into the program, if any.
    std::string packageKey;
    PostMessageFn postMessage = PostMessageW;
    // Shutdown stopped waiting for a worker that was still running.
    bool workerAbandoned = false;
    std::atomic<uint64_t> progressTotal{0};
    // Events posted and not yet taken by the window, oldest first.
    CriticalSection eventsLock;
    std::deque<std::pair<uint32_t, int32_t>> postedEvents;

    RepairEngine();
    ~RepairEngine() = default;
    RepairEngine(const RepairEngine&) = delete;
    RepairEngine& operator=(const RepairEngine&) = delete;

    // Closes the slot's handle when its thread has ended within `waitMs`;
    // true when the slot is empty afterwards.
    bool FreeWorkerSlot(DWORD waitMs);
    // A new run reporting to `window`: what an earlier one posted, held or
    // asked is forgotten. False while a worker still runs.
    bool BeginRun(HWND window);
    bool StartWorker(LPTHREAD_START_ROUTINE routine);
    // notifyWindow while the system still knows it; null otherwise.
    HWND LiveNotifyWindow() const;
    // A program built with a key: the signature of the configuration's bytes,
    // then what a signed configuration must carry, and the package it announces.
    bool VerifyConfigSignature(const std::string& iniBytes, const std::wstring& iniPath);
    bool AcceptSignedConfig(const RepairConfig& loaded) const;
    bool IsAnnouncedPackage(HANDLE package, const std::wstring& path) const;
    // The downloaded package, opened once for both its check and its unpacking.
    ScopedHandle OpenPackage(const std::wstring& path) const;
    // The plan of the package worker's repair; false when its run ends there
    // (its closing event posted, or the window closed).
    bool PlanThisRepair(RepairPlan& plan);
    // The whole package from the first host of the plan's that has it; invalid
    // when none has, its closing event posted unless the window closed.
    ScopedHandle WholePackage(const RepairPlan& plan, const std::wstring& archivePath);
    // The package worker's steps: the whole package downloaded from `url`,
    // asking caches to revalidate when `revalidate` (false: failed or stopped); the ranges of a partial repair
    // fetched into the package file, returned open (invalid: failed, stopped,
    // or `wholeInstead`, for a server without ranges); the package unpacked.
    bool DownloadWholePackage(const std::wstring& url, const std::wstring& archivePath, bool revalidate);
    // The whole package from `url`, opened and checked, against the signed
    // digest or, without a key, against the digests of the ranges `used` of
    // it (PackageDownloaded posted); a copy that isn't the one announced is asked for once more,
    // past any cache. Invalid when it can't be had there; `damaged` then says
    // whether what came was not the package announced.
    ScopedHandle WholePackageFrom(const std::wstring& url, const std::wstring& archivePath,
                                  const std::vector<struct RangeRequest>& used, bool& damaged);
    ScopedHandle FetchPackageRanges(const struct RepairPlan& plan, const std::wstring& archivePath,
                                    bool& wholeInstead);
    void Unpack(ScopedHandle package, const std::wstring& archivePath, const std::set<std::wstring>* only);
    bool CancelRequested() const { return cancelRequested.load(std::memory_order_relaxed); }
};

DWORD WINAPI ConfigThreadProc(LPVOID parameter);
DWORD WINAPI PackageThreadProc(LPVOID parameter);
DWORD WINAPI RecoveryThreadProc(LPVOID parameter);

// Where the configuration worker stores the INI file: the user's temporary folder.
std::wstring LocalConfigPath();
