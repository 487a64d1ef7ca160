// Unpacking a 7z archive into a folder with the LZMA SDK's decoder.
#pragma once

#include "ProgressCallbacks.h"

#include <windows.h>

#include <set>
#include <string>

// Results besides the LZMA SDK's own error codes.
constexpr int kExtractOk = 0;
constexpr int kExtractCannotOpen = 1;    // the archive file can't be opened
constexpr int kExtractNoMemory = 2;      // no memory for an entry name
constexpr int kExtractOutputFailed = 11; // output not written, an unsafe entry name, or stopped

// Extracts every entry in archive order; stops at the first failing entry.
// Each file is written beside its target and moved into place only when it is
// complete, so a failure never leaves a half-written file where the old one was.
int ExtractArchive(const std::wstring& archivePath, const std::wstring& destination,
                   const ExtractProgressFn& progress);
// The same through the open `archive` (at `archivePath`, named in the log),
// which stays the caller's: what was checked of it is what is unpacked. With
// `only`, just the entries of those names (as the archive spells them) are
// written, and only the blocks that hold them are decoded: the archive's other
// blocks need not be there at all. The progress then counts those entries.
int ExtractArchive(HANDLE archive, const std::wstring& archivePath, const std::wstring& destination,
                   const ExtractProgressFn& progress, const std::set<std::wstring>* only = nullptr);
