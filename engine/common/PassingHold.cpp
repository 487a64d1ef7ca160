#include "PassingHold.h"

#include "BuildSettings.h"
#include "CriticalSection.h"
#include "DiagnosticsLog.h"
#include "RestartManager.h"

#include <algorithm>

namespace {

constexpr DWORD kFirstPauseMs = 20;
constexpr DWORD kLongestPauseMs = 1000;
// Told to the player only past this: most holds are over long before.
constexpr DWORD kToldAfterMs = 1000;

CriticalSection lock;
HoldObserver* observer = nullptr;
std::wstring heldNow;   // held for more than a second, now
std::wstring heldFile;  // the first that outlasted the limit

// Whether an act failed as one on a file held open by another program would.
// Access denied counts only where something is there: a scanner's open handle
// makes a deleted file linger, and opening or replacing it is then denied.
bool IsPassing(DWORD error, const std::function<bool()>& present)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return true;
    }
    return error == ERROR_ACCESS_DENIED && present();
}

void SetHeldNow(const std::wstring& path)
{
    CriticalSectionLocker locked(lock);
    heldNow = path;
}

HoldObserver* Observer()
{
    CriticalSectionLocker locked(lock);
    return observer;
}

}  // namespace

void SetHoldObserver(HoldObserver* newObserver)
{
    CriticalSectionLocker locked(lock);
    observer = newObserver;
}

bool WaitOutHolds(const std::wstring& path, const std::function<bool()>& act, const std::function<bool()>& present)
{
    if (act()) {
        return true;
    }
    DWORD error = GetLastError();
    if (!IsPassing(error, present)) {
        return false;
    }
    HoldObserver* const watcher = Observer();
    const DWORD start = GetTickCount();
    DWORD pause = kFirstPauseMs;
    bool told = false;
    bool done = false;
    for (;;) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= VNK_HOLD_LIMIT_MS || (watcher != nullptr && watcher->Cancelled())) {
            break;
        }
        if (!told && waited >= kToldAfterMs) {
            told = true;
            const std::wstring programs = ProgramsHolding(path);
            Log(path + L" is held by another program" + (programs.empty() ? L"" : L": " + programs) +
                L"; waiting for it to let go");
            SetHeldNow(path);
            if (watcher != nullptr) {
                watcher->Holding(path);
            }
        }
        Sleep(std::min<DWORD>(pause, VNK_HOLD_LIMIT_MS - waited));
        pause = std::min(pause * 2, kLongestPauseMs);
        done = act();
        error = GetLastError();
        if (done || !IsPassing(error, present)) {
            break;
        }
    }
    const DWORD waited = GetTickCount() - start;
    if (told) {
        Log(path + (done ? L" was let go after " : L" was still held after ") + Num(waited) + L" ms");
        SetHeldNow(std::wstring());
        if (watcher != nullptr) {
            watcher->Holding(std::wstring());
        }
    }
    if (!done && IsPassing(error, present) && waited >= VNK_HOLD_LIMIT_MS) {
        CriticalSectionLocker locked(lock);
        if (heldFile.empty()) {
            heldFile = path;
        }
    }
    SetLastError(error);
    return done;
}

std::wstring HeldNow()
{
    CriticalSectionLocker locked(lock);
    return heldNow;
}

std::wstring HeldFile()
{
    CriticalSectionLocker locked(lock);
    return heldFile;
}

void ForgetHeldFile()
{
    CriticalSectionLocker locked(lock);
    heldFile.clear();
}
