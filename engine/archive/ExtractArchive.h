// Unpacking a 7z archive into a folder with the LZMA SDK's decoder.
#pragma once

#include "HeldFolder.h"
#include "ProgressCallbacks.h"

#include <windows.h>

extern "C" {
#include "7zTypes.h"
}

#include <set>
#include <string>

// How an extraction ended.
enum class ExtractResult {
    Ok,            // every entry written (also for an archive without entries)
    CannotOpen,    // the archive file can't be opened
    NoMemory,      // memory (for a name, a block, a dictionary) or a thread can't be had
    OutputFailed,  // an output file can't be made, written or closed; a name or a folder refused
    Stopped,       // the progress callback asked to stop
    NotAnArchive,  // not a 7z archive
    Unsupported,   // a method, filter or coder property the decoder doesn't have
    Damaged,       // wrong data or CRC, a broken structure, an archive cut short
    ReadFailed,    // the archive can't be read
};

struct ExtractOutcome {
    ExtractResult result = ExtractResult::Ok;
    SRes sdkCode = SZ_OK;  // the decoder's own code behind it, for the log; SZ_OK where it had no say

    bool Ok() const { return result == ExtractResult::Ok; }
    // The integer of ExtractArchive: 0, 1 (can't open), 2 (no memory for a
    // name), 11 (output failed or stopped), or the decoder's own code.
    int Code() const;
};

// Unpacks every entry of the archive at `archivePath`, in the archive's order
// or several blocks at once, into `destination`, all or nothing: each file is
// written beside its target and the targets are replaced only when all are
// complete, so a failure leaves the folder as it was.
ExtractOutcome UnpackArchive(const std::wstring& archivePath, const std::wstring& destination,
                             const ExtractProgressFn& progress);
// The same through the open `archive` (at `archivePath`, named in the log),
// into the open folder `destination`,
// which stays the caller's: what was checked of it is what is unpacked. With
// `only`, just the entries of those names (as the archive spells them) are
// written, and only the blocks that hold them are decoded: the archive's other
// blocks need not be there at all. The progress then counts those entries.
ExtractOutcome UnpackArchive(HANDLE archive, const std::wstring& archivePath, HeldFolder& destination,
                             const ExtractProgressFn& progress, const std::set<std::wstring>* only = nullptr);

// UnpackArchive with its outcome as a number: 0 for success.
int ExtractArchive(const std::wstring& archivePath, const std::wstring& destination,
                   const ExtractProgressFn& progress);
