// The decoding of one solid block of a 7z archive as a stream, for the coder
// chains that 7-Zip and the publishing tool use: LZMA or LZMA2, alone or
// followed by the x86 branch filter (BCJ). Each block is decoded with its own
// coder's properties; memory is its dictionary (never more than the block is
// long) and an input buffer, whatever the block's size.
#pragma once

#include <windows.h>

extern "C" {
#include "7z.h"
#include "Lzma2Dec.h"
}

#include <vector>

class BlockDecoder {
public:
    BlockDecoder();
    ~BlockDecoder();
    BlockDecoder(const BlockDecoder&) = delete;
    BlockDecoder& operator=(const BlockDecoder&) = delete;

    // True when block `folder` of `db` uses a chain that can be streamed.
    static bool CanStream(const CSzArEx& db, UInt32 folder);

    // The dictionary block `folder` needs, from its own coder's properties;
    // 0 for properties the format forbids.
    static UInt64 DictionaryFor(const CSzArEx& db, UInt32 folder);

    // The memory a PPMd coder of block `folder` asks for its model; 0 where
    // the block has none.
    static UInt64 ModelMemoryFor(const CSzArEx& db, UInt32 folder);

    // SZ_ERROR_MEM when a block to be streamed needs a dictionary larger than
    // this program can hold: the archive is refused before anything is
    // allocated or written. Other faults are left to the decoding.
    static SRes CheckDictionaries(const CSzArEx& db);

    // Starts block `folder` of `db`, whose packed bytes are read through
    // `archive` (a handle the caller keeps for this decoder alone: its file
    // position moves). SZ_ERROR_UNSUPPORTED for forbidden properties,
    // SZ_ERROR_MEM for a dictionary too large, SZ_ERROR_READ (logged) when
    // the archive can't be read.
    SRes Begin(const CSzArEx& db, UInt32 folder, HANDLE archive);

    // Decodes the block's next bytes into `out`, at most `capacity` (a few
    // bytes more than the filter holds back): `size` are ready. `ended` once
    // the block has ended as it should, its own CRC checked.
    SRes Decode(Byte* out, size_t capacity, size_t& size, bool& ended);

private:
    SRes FillInput();

    HANDLE archive_ = nullptr;
    UInt32 folder_ = 0;  // the block being decoded, for the log
    bool lzma2_ = false;
    bool x86_ = false;
    CLzmaDec lzma_;
    CLzma2Dec lzma2Decoder_;
    bool lzmaAllocated_ = false, lzma2Allocated_ = false;
    UInt64 packLeft_ = 0;     // packed bytes not read yet
    UInt64 outLeft_ = 0;      // unpacked bytes not decoded yet
    bool checkCrc_ = false;
    UInt32 expectedCrc_ = 0;
    UInt32 crc_ = 0;
    UInt32 x86State_ = 0;
    UInt32 x86Pc_ = 0;
    std::vector<Byte> tail_;  // decoded bytes the filter needs more data after, for the next call
    std::vector<Byte> input_;
    size_t inputPos_ = 0, inputSize_ = 0;
};
