// The message a worker posts to the main window, and its event codes.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr UINT WM_REPAIR_EVENT = WM_USER + 1;

enum RepairEvent : uint32_t {
    ConfigDownloadFailed = 101,
    ConfigParseFailed = 102,
    ConfigLoaded = 103,
    DownloadProgress = 104,      // param: bytes received so far (32-bit, wraps)
    PackageDownloadFailed = 105,
    PackageDownloaded = 106,
    ExtractionFailed = 107,
    ExtractionSucceeded = 108,
    ExtractionProgress = 109,    // param: entry number in bits 0-15, entry count in bits 16-31
    ScanProgress = 110,          // param: files checked and file count, packed as for ExtractionProgress
    FileHeld = 111,              // param: 1 while another program holds a file the repair waits for
                                 // (RepairEngine::FileHeldNow names it), 0 once it lets go
    RecoveryEnded = 112,         // param: a RecoveryOutcome
};

// What became of a repair that a crash cut short, found as the program starts.
enum RecoveryOutcome : int32_t {
    NothingToRecover = 0,
    RecoveryRolledBack = 1,   // the folder is as it was before that repair
    RecoveryCompleted = 2,    // that repair had written everything: its old files are deleted
    RecoveryUnreadable = 3,   // a journal that can't be read: the folder is left alone, and refused
    RecoveryFailed = 4,       // the roll-back failed in part: the journal stays for the next start
};

// The second parameter of each event that has one, packed by the worker and
// unpacked by the window, here side by side.

// Bytes received so far, unsigned and wrapping at 4 GiB: read as signed, a
// package over 2 GiB would show nonsense percentages.
inline int32_t PackDownloadProgress(uint32_t received) { return static_cast<int32_t>(received); }
inline uint32_t UnpackDownloadProgress(int32_t param) { return static_cast<uint32_t>(param); }

// Both values are cut to 16 bits, so archives of more than 65535 entries wrap.
inline int32_t PackExtractionProgress(int32_t entry, int32_t count)
{
    return static_cast<int32_t>((static_cast<uint32_t>(entry) & 0xFFFFu) |
                                ((static_cast<uint32_t>(count) & 0xFFFFu) << 16));
}
inline void UnpackExtractionProgress(int32_t param, int32_t& entry, int32_t& count)
{
    entry = static_cast<int32_t>(static_cast<uint32_t>(param) & 0xFFFFu);
    count = static_cast<int32_t>((static_cast<uint32_t>(param) >> 16) & 0xFFFFu);
}
