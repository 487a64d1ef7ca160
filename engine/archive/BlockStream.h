// The compressed blocks of a 7z archive unpacked as one stream: a thread of
// its own decodes them (BlockDecoder), one after the other, into a ring of a
// few buffers of bounded size, which the caller takes in order while the next
// ones are decoded. Memory is the dictionary plus the buffers, whatever the
// blocks' sizes. Blocks whose chain can't be streamed are skipped here and
// left to the LZMA SDK's whole-block decoding.
#pragma once

#include "BlockDecoder.h"
#include "ScopedHandle.h"

#include <atomic>
#include <string>
#include <vector>

class BlockStream {
public:
    BlockStream() = default;
    // Stops the decoding thread, at the end of the buffer it is filling.
    ~BlockStream();

    BlockStream(const BlockStream&) = delete;
    BlockStream& operator=(const BlockStream&) = delete;

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
    // Buffers in the ring: the decoder fills one while the reader takes another.
    static constexpr unsigned kBufferCount = 3;

    struct Buffer {
        std::vector<Byte> bytes;
        size_t size = 0;      // bytes ready to be read
        UInt32 folder = 0;    // the block they belong to
        bool end = false;     // the block ends with this buffer
        SRes result = SZ_OK;  // not SZ_OK: decoding stopped here
    };

    static DWORD WINAPI ThreadProc(LPVOID self);
    void DecodeAll();
    // The next buffer to fill; false when the stream is being stopped.
    Buffer* NextFree();

    // Set by Start, before the decoding thread runs; read by both threads.
    const CSzArEx* db_ = nullptr;
    std::vector<bool> wanted_;  // blocks to decode; empty: all
    Buffer buffers_[kBufferCount];
    // The decoding thread's own.
    ScopedHandle archive_;
    BlockDecoder decoder_;
    unsigned produced_ = 0;
    std::atomic<bool> failed_{false};  // the decoding thread ended in a failure of its own
    // Between the two threads: `free_` counts the buffers the decoder may
    // fill, `full_` those the reader may take, in ring order.
    ScopedHandle free_, full_, stopEvent_, thread_;
    // The reader's own.
    unsigned consumed_ = 0;
    Buffer* current_ = nullptr;  // the buffer being read
    size_t currentPos_ = 0;
};
