// Files that another program holds for a moment. Most players' Windows runs a
// virus scanner or two, an indexer or a cloud-sync client: each opens every
// file that appears or changes, reads it for a moment and closes it, sharing
// read access only. An act on such a file meanwhile (a rename, a delete, an
// open for writing) fails with a sharing violation, a lock violation or
// access denied. Every act on the game folder goes through WaitOutHolds,
// which takes those answers as passing and tries again (HeldFolder does).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Who hears of a wait: the engine's worker, which shows it to the player and
// ends it when the window closes.
class HoldObserver {
public:
    virtual ~HoldObserver() = default;
    // True once the run is being stopped: the wait ends at once.
    virtual bool Cancelled() = 0;
    // A file has been held for a second now (`path`); empty when the hold is over.
    virtual void Holding(const std::wstring& path) = 0;
};

// The observer of the waits from now on (null: none); the engine sets it
// before its worker starts acting on the game folder.
void SetHoldObserver(HoldObserver* observer);

// Runs `act`, an act on the file or folder `path` that returns false with the
// system's error in GetLastError. While it fails as an act on a file another
// program holds would (a sharing or lock violation; access denied where
// `present` says something is there: a scanner's open handle makes a deleted
// file linger), it is tried again, the pauses growing from 20 ms to at most
// 1 s, for at most the build's VNK_HOLD_LIMIT_MS in all, or until the
// observer says the run is cancelled. After the first second the observer
// hears of the hold, and the log names the file and, where Windows can tell,
// the program that holds it. Returns the last try's result, its error still
// in GetLastError; a hold that outlasted the limit is remembered (HeldFile).
bool WaitOutHolds(const std::wstring& path, const std::function<bool()>& act, const std::function<bool()>& present);

// The file held for more than a second right now; empty: none.
std::wstring HeldNow();
// The first file whose hold made an act give up since ForgetHeldFile; empty: none.
std::wstring HeldFile();
void ForgetHeldFile();
