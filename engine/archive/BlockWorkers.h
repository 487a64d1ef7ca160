// Several solid blocks of one archive decoded side by side, each by a thread
// of its own that writes its block's entries to their staging files: every
// entry goes to a file of its own and nothing reaches the game folder before
// the commit, which doesn't care in which order the entries were finished. The
// number of threads follows the processors and the memory the blocks need.
#pragma once

#include "StagedFile.h"

extern "C" {
#include "7z.h"
}

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// What the workers ask of the extraction for each entry they write; called
// on the workers' threads, one at a time or not, as the extraction makes sure.
class EntryWriter {
public:
    virtual ~EntryWriter() = default;
    // Makes the staging file of entry `index`; false (logged) when it can't.
    virtual bool Open(UInt32 index, StagingFile& file) = 0;
    // Completes it (its attributes, closing); false (logged) when it can't.
    virtual bool Finish(UInt32 index, StagingFile& file) = 0;
};

// Whether block `folder` can be decoded beside others: a streamed one, or
// one the SDK decodes whole that needs no more than a share of the memory.
bool CanDecodeSideBySide(const CSzArEx& db, UInt32 folder);

// How many blocks of `blocks` to decode at once: no more than the processors
// and 4, and never more than the decoders' memory allows together (400 MB in
// a 32-bit program). 1 or less: decode them one after the other instead.
unsigned BlockThreadCount(const CSzArEx& db, const std::vector<UInt32>& blocks);

// Decodes `blocks` (each one that CanDecodeSideBySide) of the archive `db`, held open as
// `archive` at `path`, on `threads` threads; the file entries of each block are
// written through `writer` where `write` marks them, and otherwise decoded and
// let go. `finished` gets the count of entries done so far, on the calling
// thread, and returns false to stop every thread. SZ_OK; SZ_ERROR_WRITE when
// an entry couldn't be written or the run was stopped; the SDK's code of the
// first block that failed to decode.
SRes DecodeBlocksSideBySide(HANDLE archive, const std::wstring& path, const CSzArEx& db,
                            const std::vector<UInt32>& blocks, const std::vector<bool>& write, unsigned threads,
                            EntryWriter& writer, const std::function<bool(unsigned)>& finished);
