// The compressed blocks of a 7z archive unpacked as one stream: a thread of
// its own decodes them, one after the other, into a few buffers of bounded
// size, which the caller takes in order while the next ones are decoded.
// Memory is the dictionary plus the buffers, whatever the blocks' sizes. For
// the coder chains that 7-Zip and the publishing tool use: LZMA or LZMA2,
// alone or followed by the x86 branch filter (BCJ); other blocks are skipped
// here and left to the LZMA SDK's whole-block decoding.
#pragma once

#include "ScopedHandle.h"

extern "C" {
#include "7z.h"
#include "Lzma2Dec.h"
}

#include <string>
#include <vector>

class BlockStream {
public:
    BlockStream() = default;
    // Stops the decoding thread, at the end of the buffer it is filling.
    ~BlockStream();

    BlockStream(const BlockStream&) = delete;
    BlockStream& operator=(const BlockStream&) = delete;

    // True when block `folder` of `db` uses a chain that can be streamed.
    static bool CanStream(const CSzArEx& db, UInt32 folder);

    // SZ_ERROR_MEM when a block to be streamed needs a dictionary larger than
    // this program can hold: the archive is refused before anything is
    // allocated or written. Other faults are left to the decoding.
    static SRes CheckDictionaries(const CSzArEx& db);

    // Starts decoding, in order, every block of `db` that can be streamed (and
    // is marked in `wanted`, unless it is empty), of the open `archive` at
    // `archivePath`. `db` must outlive the stream.
    SRes Start(HANDLE archive, const std::wstring& archivePath, const CSzArEx* db, const std::vector<bool>& wanted);

    // The next decoded bytes of block `folder`, at most `most`, valid until
    // the next call; blocks must be read in order. SZ_OK with `size` 0 once
    // the block has been read whole; an error code when decoding failed (the
    // block's own CRC included). SZ_ERROR_MEM, before anything is allocated,
    // for a dictionary larger than this program can hold.
    SRes Read(UInt32 folder, size_t most, const Byte*& data, size_t& size);

private:
    struct Buffer {
        std::vector<Byte> bytes;
        size_t size = 0;      // bytes ready to be read
        UInt32 folder = 0;    // the block they belong to
        bool end = false;     // the block ends with this buffer
        SRes result = SZ_OK;  // not SZ_OK: decoding stopped here
    };

    static DWORD WINAPI ThreadProc(LPVOID self);
    void DecodeAll();
    SRes BeginBlock(UInt32 folder);
    SRes DecodeInto(Buffer& buffer, bool& ended);
    SRes FillInput();
    // The next buffer to fill; false when the stream is being stopped.
    Buffer* NextFree();

    const CSzArEx* db_ = nullptr;
    std::vector<bool> wanted_;  // blocks to decode; empty: all
    ScopedHandle archive_;
    // The decoding thread's own state, for the block it is decoding.
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
    std::vector<Byte> tail_;  // decoded bytes the filter needs more data after, for the next buffer
    std::vector<Byte> input_;
    size_t inputPos_ = 0, inputSize_ = 0;

    // The buffers between the two threads: `free_` counts those the decoder
    // may fill, `full_` those the reader may take, in ring order.
    Buffer buffers_[3];
    ScopedHandle free_, full_, stopEvent_, thread_;
    unsigned produced_ = 0, consumed_ = 0;
    Buffer* current_ = nullptr;  // the buffer being read
    size_t currentPos_ = 0;
};
