// The LZMA SDK's view of one 7z archive: its database, and the bytes of each
// file entry, streamed for the usual coder chains (BlockStream.h) and decoded
// a whole block at a time for any other.
#pragma once

#include "BlockStream.h"

#include <windows.h>

extern "C" {
#include "7z.h"
#include "7zFile.h"
}

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ArchiveReader {
public:
    // Takes the bytes of a file entry, piece by piece; false to stop.
    using Sink = std::function<bool(const Byte* data, size_t size)>;

    // `file` is the open archive at `path`; it stays the caller's.
    ArchiveReader(HANDLE file, const std::wstring& path);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Reads the archive's database.
    SRes Open();

    UInt32 EntryCount() const { return db_.NumFiles; }
    bool IsFolder(UInt32 i) const { return SzArEx_IsDir(&db_, i) != 0; }
    size_t NameLength(UInt32 i) const { return SzArEx_GetFileNameUtf16(&db_, i, nullptr); }
    void CopyName(UInt32 i, UInt16* name) const { SzArEx_GetFileNameUtf16(&db_, i, name); }
    UInt64 FileSize(UInt32 i) const { return SzArEx_GetFileSize(&db_, i); }
    bool HasAttributes(UInt32 i) const { return SzBitWithVals_Check(&db_.Attribs, i); }
    UInt32 Attributes(UInt32 i) const { return db_.Attribs.Vals[i]; }

    // Only the blocks that hold entries marked in `wanted` (one flag an entry)
    // are decoded from now on; call before the first ReadFile.
    void DecodeOnlyBlocksOf(const std::vector<bool>& wanted);
    // Those blocks, in the archive's order.
    std::vector<UInt32> WantedBlocks() const;

    // The database, and the open archive, for decoders of their own.
    const CSzArEx& Database() const { return db_; }
    HANDLE File() const { return fileStream_.file.handle; }

    // Gives the bytes of file entry i to `sink` and checks their CRC. Entries
    // must come in archive order. SZ_ERROR_WRITE when the sink stopped; the
    // SDK's codes for damaged or unsupported data.
    SRes ReadFile(UInt32 i, const Sink& sink);

    // Passes over file entry i: where its block is decoded for other entries,
    // its bytes are decoded (and checked) and let go.
    SRes SkipFile(UInt32 i);

    // After the last entry: the last streamed block must end, whole and right.
    SRes Finish() { return EndStream(); }

private:
    SRes EndStream();

    std::wstring path_;
    CFileInStream fileStream_;
    CLookToRead2 lookStream_;
    CSzArEx db_;
    // The SDK's cache of the last whole block it decoded.
    UInt32 blockIndex_ = 0xFFFFFFFF;
    Byte* outBuffer_ = nullptr;
    size_t outBufferSize_ = 0;
    std::unique_ptr<BlockStream> stream_;
    std::vector<bool> wantedBlocks_;  // empty: every block
    UInt32 streamFolder_ = static_cast<UInt32>(-1);  // the streamed block being read
};
