#include "BlockStream.h"

#include "DiagnosticsLog.h"
#include "NtFiles.h"
#include "ThreadBoundary.h"

#include <algorithm>

namespace {

// What the reader takes at a time.
constexpr size_t kBufferBytes = size_t(2) << 20;

}  // namespace

SRes BlockStream::Start(HANDLE archive, const std::wstring& archivePath, const CSzArEx* db,
                        const std::vector<bool>& wanted)
{
    db_ = db;
    wanted_ = wanted;
    archive_ = ReopenFile(archive, archivePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!archive_.IsValid()) {
        Log(archivePath + L" can't be opened again as the same file for decoding: " + ErrorText(GetLastError()));
        return SZ_ERROR_READ;
    }
    for (Buffer& buffer : buffers_) {
        buffer.bytes.resize(kBufferBytes);
    }
    free_ = ScopedHandle(CreateSemaphoreW(nullptr, kBufferCount, kBufferCount, nullptr));
    full_ = ScopedHandle(CreateSemaphoreW(nullptr, 0, kBufferCount, nullptr));
    stopEvent_ = ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!free_.IsValid() || !full_.IsValid() || !stopEvent_.IsValid()) {
        Log(L"can't start the decoding: " + ErrorText(GetLastError()));
        return SZ_ERROR_THREAD;
    }
    thread_ = ScopedHandle(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    if (!thread_.IsValid()) {
        Log(L"can't start the decoding thread: " + ErrorText(GetLastError()));
        return SZ_ERROR_THREAD;
    }
    return SZ_OK;
}

BlockStream::~BlockStream()
{
    if (thread_.IsValid()) {
        SetEvent(stopEvent_.Get());
        WaitForSingleObject(thread_.Get(), INFINITE);
    }
}

DWORD WINAPI BlockStream::ThreadProc(LPVOID self)
{
    BlockStream& stream = *static_cast<BlockStream*>(self);
    if (!RunGuarded(L"the decoding thread", [&stream] {
            VNK_ALLOCATION_SEAM(L"stream");
            stream.DecodeAll();
        })) {
        stream.failed_ = true;
    }
    return 0;
}

BlockStream::Buffer* BlockStream::NextFree()
{
    const HANDLE waits[] = {stopEvent_.Get(), free_.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
        return nullptr;
    }
    return &buffers_[produced_++ % kBufferCount];
}

void BlockStream::DecodeAll()
{
    for (UInt32 folder = 0; folder < db_->db.NumFolders; ++folder) {
        if (!BlockDecoder::CanStream(*db_, folder) || (!wanted_.empty() && !wanted_[folder])) {
            continue;
        }
        SRes res = decoder_.Begin(*db_, folder, archive_.Get());
        for (bool ended = false; !ended;) {
            Buffer* buffer = NextFree();
            if (buffer == nullptr) {
                return;
            }
            buffer->folder = folder;
            buffer->size = 0;
            if (res == SZ_OK) {
                res = decoder_.Decode(buffer->bytes.data(), buffer->bytes.size(), buffer->size, ended);
            }
            buffer->result = res;
            buffer->end = ended = ended || res != SZ_OK;
            ReleaseSemaphore(full_.Get(), 1, nullptr);
        }
        if (res != SZ_OK) {
            return;  // the reader stops at the error
        }
    }
}

SRes BlockStream::Read(UInt32 folder, size_t most, const Byte*& data, size_t& size)
{
    size = 0;
    for (;;) {
        if (current_ != nullptr) {
            if (currentPos_ < current_->size && current_->folder == folder) {
                data = current_->bytes.data() + currentPos_;
                size = std::min(most, current_->size - currentPos_);
                currentPos_ += size;
                return SZ_OK;
            }
            if (current_->result != SZ_OK) {
                return current_->result;
            }
            if (current_->end && current_->folder == folder) {
                return SZ_OK;  // the whole block has been read
            }
            ReleaseSemaphore(free_.Get(), 1, nullptr);
            current_ = nullptr;
        }
        // The decoder ends after the last block: nothing more will come then.
        const HANDLE waits[] = {full_.Get(), thread_.Get()};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            if (failed_) {
                return SZ_ERROR_MEM;  // logged where it failed
            }
            // The decoder ended without this block: a block it was never asked for.
            Log(L"block " + Num(folder) + L" was read but never decoded");
            return SZ_ERROR_FAIL;
        }
        current_ = &buffers_[consumed_++ % kBufferCount];
        currentPos_ = 0;
        if (current_->folder < folder && current_->result == SZ_OK) {
            currentPos_ = current_->size;  // an earlier block's rest, which nobody asked for
        }
    }
}
