#include "BlockWorkers.h"

#include "BlockDecoder.h"
#include "CriticalSection.h"
#include "DiagnosticsLog.h"
#include "NtFiles.h"
#include "ScopedHandle.h"
#include "SdkAllocator.h"
#include "ThreadBoundary.h"
#include "WorkerThreads.h"

extern "C" {
#include "7zCrc.h"
#include "7zFile.h"
}

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <new>

namespace {

// What all the decoders together may hold: a 32-bit program has 2 GB of
// address space for everything.
constexpr UInt64 kDecodersBudget = sizeof(void*) == 4 ? (UInt64(400) << 20) : (UInt64(2) << 30);
// Each worker decodes this much at a time, and reads 1 MiB of the archive at a time.
constexpr size_t kOutputBytes = size_t(2) << 20;
constexpr UInt64 kWorkerOverhead = kOutputBytes + (UInt64(1) << 20);
// How often the calling thread reports the entries finished.
constexpr DWORD kProgressPollMs = 20;

// What the workers share. Set before they start, but for the counters and
// the first failure, which they change as they go.
struct SharedWork {
    HANDLE archive = nullptr;
    const std::wstring* path = nullptr;
    const CSzArEx* db = nullptr;
    const std::vector<UInt32>* blocks = nullptr;
    const std::vector<bool>* write = nullptr;
    EntryWriter* writer = nullptr;
    std::vector<std::vector<UInt32>> entriesOf;  // a list of file entries, in order, per block of `blocks`

    std::atomic<size_t> nextBlock{0};
    std::atomic<unsigned> finished{0};
    std::atomic<bool> stop{false};

    // The first failure ends every worker at its next step.
    void Fail(SRes res)
    {
        CriticalSectionLocker locked(lock);
        if (result == SZ_OK) {
            result = res;
        }
        stop = true;
    }
    SRes Result()
    {
        CriticalSectionLocker locked(lock);
        return result;
    }

private:
    CriticalSection lock;
    SRes result = SZ_OK;
};

// One thread: takes the next block, decodes it and writes its entries, until
// none is left or the work stops.
class BlockWorker {
public:
    explicit BlockWorker(SharedWork& work) : work_(work), buffer_(kOutputBytes) {}

    void Run()
    {
        archive_ = ReopenFile(work_.archive, *work_.path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (!archive_.IsValid()) {
            Log(*work_.path + L" can't be opened again as the same file for decoding: " +
                ErrorText(GetLastError()));
            work_.Fail(SZ_ERROR_READ);
            return;
        }
        for (size_t k = work_.nextBlock++; k < work_.blocks->size() && !work_.stop; k = work_.nextBlock++) {
            const SRes res = Decode(k);
            if (res != SZ_OK) {
                work_.Fail(res);
            }
        }
    }

private:
    SRes Decode(size_t k)
    {
        const UInt32 folder = (*work_.blocks)[k];
        const std::vector<UInt32>& entries = work_.entriesOf[k];
        size_t next = 0;
        SRes res = BlockDecoder::CanStream(*work_.db, folder) ? Stream(folder, entries, next)
                                                              : DecodeWhole(folder, entries, next);
        if (res == SZ_OK && !work_.stop && entry_ != kNone) {
            res = SZ_ERROR_DATA;  // the block ended inside a file
        }
        file_.Abandon();
        entry_ = kNone;
        return res;
    }

    // The usual chains: a piece at a time, as it is decoded.
    SRes Stream(UInt32 folder, const std::vector<UInt32>& entries, size_t& next)
    {
        SRes res = decoder_.Begin(*work_.db, folder, archive_.Get());
        if (res == SZ_OK && !StartEntries(entries, next)) {
            return SZ_ERROR_WRITE;
        }
        for (bool ended = false; res == SZ_OK && !ended && !work_.stop;) {
            size_t size = 0;
            res = decoder_.Decode(buffer_.data(), buffer_.size(), size, ended);
            if (res == SZ_OK) {
                res = Take(buffer_.data(), size, entries, next);
            }
        }
        return res;
    }

    // Any other chain (BCJ2, PPMd, ...): the whole block at once, by the SDK,
    // which checks the block's CRC; the buffer is kept for the next such block.
    SRes DecodeWhole(UInt32 folder, const std::vector<UInt32>& entries, size_t& next)
    {
        const UInt64 size = SzAr_GetFolderUnpackSize(&work_.db->db, folder);
        if (size > SIZE_MAX) {
            return SZ_ERROR_MEM;
        }
        if (size > wholeSize_) {
            whole_.reset(new (std::nothrow) Byte[static_cast<size_t>(size)]);
            wholeSize_ = whole_ ? static_cast<size_t>(size) : 0;
            if (!whole_) {
                return SZ_ERROR_MEM;
            }
        }
        CFileInStream file;
        FileInStream_CreateVTable(&file);
        file.file.handle = archive_.Get();  // stays ours: the SDK never closes it here
        file.wres = 0;
        CLookToRead2 look;
        LookToRead2_CreateVTable(&look, False);
        look.realStream = &file.vt;
        look.buf = buffer_.data();  // free until the block is decoded
        look.bufSize = buffer_.size();
        LookToRead2_INIT(&look)
        const SRes res = SzAr_DecodeFolder(&work_.db->db, folder, &look.vt, work_.db->dataPos, whole_.get(),
                                           static_cast<size_t>(size), &kSdkAllocator);
        if (res == SZ_ERROR_READ) {
            Log(L"can't read block " + Num(folder) + L" of the archive: " + ErrorText(GetLastError()));
        }
        if (res != SZ_OK) {
            return res;
        }
        if (!StartEntries(entries, next)) {
            return SZ_ERROR_WRITE;
        }
        return Take(whole_.get(), static_cast<size_t>(size), entries, next);
    }

    // Each entry takes its bytes of a decoded piece; what comes after the last
    // one is let go.
    SRes Take(const Byte* data, size_t size, const std::vector<UInt32>& entries, size_t& next)
    {
        while (size > 0 && entry_ != kNone) {
            const size_t take = static_cast<size_t>(std::min<UInt64>(left_, size));
            crc_ = CrcUpdate(crc_, data, take);
            if (file_.IsOpen() && !file_.Write(data, take)) {
                return SZ_ERROR_WRITE;
            }
            data += take;
            size -= take;
            left_ -= take;
            if (left_ == 0) {
                const SRes res = EndEntry();
                if (res != SZ_OK) {
                    return res;
                }
                if (!StartEntries(entries, next)) {
                    return SZ_ERROR_WRITE;
                }
            }
        }
        return SZ_OK;
    }

    // Begins the next entry of the list; false when its file can't be made.
    bool StartEntries(const std::vector<UInt32>& entries, size_t& next)
    {
        entry_ = kNone;
        if (next == entries.size()) {
            return true;
        }
        entry_ = entries[next++];
        left_ = SzArEx_GetFileSize(work_.db, entry_);
        crc_ = CRC_INIT_VAL;
        return !(*work_.write)[entry_] || work_.writer->Open(entry_, file_);
    }

    SRes EndEntry()
    {
        const CSzArEx& db = *work_.db;
        if (SzBitWithVals_Check(&db.CRCs, entry_) && CRC_GET_DIGEST(crc_) != db.CRCs.Vals[entry_]) {
            return SZ_ERROR_CRC;
        }
        if (file_.IsOpen() && !work_.writer->Finish(entry_, file_)) {
            return SZ_ERROR_WRITE;
        }
        if ((*work_.write)[entry_]) {
            ++work_.finished;
        }
        return SZ_OK;
    }

    static constexpr UInt32 kNone = 0xFFFFFFFFu;

    SharedWork& work_;
    ScopedHandle archive_;
    std::vector<Byte> buffer_;
    BlockDecoder decoder_;  // one for every block: a dictionary of the same size is kept
    std::unique_ptr<Byte[]> whole_;  // a block decoded whole
    size_t wholeSize_ = 0;
    // The entry being written.
    UInt32 entry_ = kNone;
    UInt64 left_ = 0;
    UInt32 crc_ = 0;
    StagingFile file_;
};

DWORD WINAPI WorkerThreadProc(LPVOID parameter)
{
    SharedWork& work = *static_cast<SharedWork*>(parameter);
    if (!RunGuarded(L"a decoding thread", [&work] {
            VNK_ALLOCATION_SEAM(L"blocks");
            BlockWorker(work).Run();
        })) {
        work.Fail(SZ_ERROR_MEM);
    }
    return 0;
}

}  // namespace

// What a worker holds to decode block `folder`: a streamed block's dictionary
// and buffers; for a block decoded whole, every coder's output (the block and,
// for BCJ2, its side streams) and a PPMd model's memory.
UInt64 MemoryFor(const CSzArEx& db, UInt32 folder)
{
    if (BlockDecoder::CanStream(db, folder)) {
        return BlockDecoder::DictionaryFor(db, folder) + kWorkerOverhead;
    }
    UInt64 need = kWorkerOverhead;
    for (UInt32 c = db.db.FoToCoderUnpackSizes[folder]; c < db.db.FoToCoderUnpackSizes[folder + 1]; ++c) {
        need += db.db.CoderUnpackSizes[c];
    }
    return need + BlockDecoder::ModelMemoryFor(db, folder);
}

bool CanDecodeSideBySide(const CSzArEx& db, UInt32 folder)
{
    // A block decoded whole takes no more than a share of the budget, so that
    // a few fit side by side; a larger one is decoded alone, in order.
    return BlockDecoder::CanStream(db, folder) || MemoryFor(db, folder) <= kDecodersBudget / kMostWorkerThreads;
}

unsigned BlockThreadCount(const CSzArEx& db, const std::vector<UInt32>& blocks)
{
    unsigned threads = WorkerThreadCount(blocks.size());
    UInt64 need = 0;
    for (UInt32 folder : blocks) {
        need = std::max(need, MemoryFor(db, folder));
    }
    while (threads > 1 && threads * need > kDecodersBudget) {
        --threads;
    }
    return threads;
}

SRes DecodeBlocksSideBySide(HANDLE archive, const std::wstring& path, const CSzArEx& db,
                            const std::vector<UInt32>& blocks, const std::vector<bool>& write, unsigned threads,
                            EntryWriter& writer, const std::function<bool(unsigned)>& finished)
{
    SharedWork work;
    work.archive = archive;
    work.path = &path;
    work.db = &db;
    work.blocks = &blocks;
    work.write = &write;
    work.writer = &writer;
    work.entriesOf.resize(blocks.size());
    std::map<UInt32, size_t> positionOf;
    for (size_t k = 0; k < blocks.size(); ++k) {
        positionOf[blocks[k]] = k;
    }
    for (UInt32 i = 0; i < db.NumFiles; ++i) {
        const auto at = positionOf.find(db.FileToFolder[i]);
        if (at != positionOf.end()) {
            work.entriesOf[at->second].push_back(i);
        }
    }

    // The workers use `work` until they end: `workers`, declared after it, joins them first.
    WorkerThreads workers;
    for (unsigned i = 0; i < threads; ++i) {
        if (!workers.Start(WorkerThreadProc, &work)) {
            Log(L"can't start a decoding thread: " + ErrorText(GetLastError()));
            work.Fail(SZ_ERROR_THREAD);
            break;
        }
    }
    // Every count from 1 on is reported, whatever order the entries finish in.
    unsigned reported = 0;
    bool stopped = false;
    const auto report = [&] {
        while (!stopped && reported < work.finished) {
            if (!finished(++reported)) {
                stopped = true;
                work.stop = true;
            }
        }
    };
    const auto reportGuarded = [&] {
        if (!RunGuarded(L"reporting the decoding", report)) {
            work.Fail(SZ_ERROR_MEM);
        }
        return true;  // a stop reaches the workers through `work`; they end of themselves
    };
    workers.PollUntilEnded(kProgressPollMs, reportGuarded);
    reportGuarded();
    if (stopped) {
        return SZ_ERROR_WRITE;
    }
    return work.Result();
}
