#include "ArchiveReader.h"

#include "DiagnosticsLog.h"
#include "FilePosition.h"
#include "SdkAllocator.h"

extern "C" {
#include "7zCrc.h"
}

#include <algorithm>
#include <type_traits>

namespace {

constexpr size_t kLookAheadBytes = size_t(1) << 18;

// What the SDK allocates while it reads the archive's header: the header's
// unpacked bytes above all. An LZMA-packed header of real archives unpacks to
// a few times its size; one claiming more than this many times the whole
// package (small packages get some room of their own, for the SDK's tables),
// or more than a process of this build could hold, is no header.
constexpr UInt64 kMostHeaderExpansion = 64;
constexpr UInt64 kHeaderRoom = UInt64(16) << 20;
constexpr UInt64 kMostHeaderBytes = sizeof(void*) == 4 ? (UInt64(256) << 20) : (UInt64(2) << 30);

struct HeaderAllocator {
    explicit HeaderAllocator(UInt64 packageSize)
        : vt{Alloc, SdkFree}, most(std::min(std::max(packageSize * kMostHeaderExpansion, kHeaderRoom), kMostHeaderBytes))
    {
    }

    static void* Alloc(ISzAllocPtr p, size_t size)
    {
        // The SDK passes the address of `vt`, the first member.
        HeaderAllocator* self = const_cast<HeaderAllocator*>(reinterpret_cast<const HeaderAllocator*>(p));
        if (size > self->most) {
            self->refused = size;
            return nullptr;
        }
        return SdkMalloc(p, size);
    }

    ISzAlloc vt;
    UInt64 most;
    UInt64 refused = 0;
};
static_assert(std::is_standard_layout<HeaderAllocator>::value, "the SDK's pointer is one to the first member");

}  // namespace

ArchiveReader::ArchiveReader(HANDLE file, const std::wstring& path) : path_(path)
{
    FileInStream_CreateVTable(&fileStream_);
    fileStream_.file.handle = file;
    fileStream_.wres = 0;
    LookToRead2_CreateVTable(&lookStream_, False);
    lookStream_.realStream = &fileStream_.vt;
    lookStream_.buf = nullptr;
    SzArEx_Init(&db_);
}

ArchiveReader::~ArchiveReader()
{
    stream_.reset();
    ISzAlloc_Free(&kSdkAllocator, outBuffer_);
    SzArEx_Free(&db_, &kSdkAllocator);
    ISzAlloc_Free(&kSdkAllocator, lookStream_.buf);
}

SRes ArchiveReader::Open()
{
    // The SDK reads the archive's start from where the file stands.
    if (!SeekFile(fileStream_.file.handle, 0)) {
        return SZ_ERROR_READ;
    }
    lookStream_.buf = static_cast<Byte*>(ISzAlloc_Alloc(&kSdkAllocator, kLookAheadBytes));
    if (lookStream_.buf == nullptr) {
        return SZ_ERROR_MEM;
    }
    lookStream_.bufSize = kLookAheadBytes;
    LookToRead2_INIT(&lookStream_)
    CrcGenerateTable();
    // What the header claims to unpack to is asked for before a byte of it is
    // decoded: a claim beyond anything this package could hold is refused
    // without asking the system for it.
    DWORD high = 0;
    const DWORD low = GetFileSize(fileStream_.file.handle, &high);
    const UInt64 packageSize = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR ? 0 : (UInt64(high) << 32 | low);
    HeaderAllocator headerAllocator(packageSize);
    const SRes opened = SzArEx_Open(&db_, &lookStream_.vt, &kSdkAllocator, &headerAllocator.vt);
    if (headerAllocator.refused != 0) {
        Log(path_ + L": its header asks for " + Num(headerAllocator.refused) + L" bytes, more than a package of " +
            Num(packageSize) + L" bytes can hold");
    }
    RINOK(opened)
    return BlockDecoder::CheckDictionaries(db_);
}

void ArchiveReader::DecodeOnlyBlocksOf(const std::vector<bool>& wanted)
{
    wantedBlocks_.assign(db_.db.NumFolders, false);
    for (UInt32 i = 0; i < db_.NumFiles && i < wanted.size(); ++i) {
        const UInt32 folder = db_.FileToFolder[i];
        if (wanted[i] && folder != static_cast<UInt32>(-1)) {
            wantedBlocks_[folder] = true;
        }
    }
}

std::vector<UInt32> ArchiveReader::WantedBlocks() const
{
    std::vector<UInt32> blocks;
    for (UInt32 folder = 0; folder < db_.db.NumFolders; ++folder) {
        if (wantedBlocks_.empty() || wantedBlocks_[folder]) {
            blocks.push_back(folder);
        }
    }
    return blocks;
}

SRes ArchiveReader::SkipFile(UInt32 i)
{
    const UInt32 folder = db_.FileToFolder[i];
    // A block decoded whole serves any entry directly; a streamed one must be read in order.
    if (folder == static_cast<UInt32>(-1) || !BlockDecoder::CanStream(db_, folder) ||
        (!wantedBlocks_.empty() && !wantedBlocks_[folder])) {
        return SZ_OK;
    }
    return ReadFile(i, [](const Byte*, size_t) { return true; });
}

SRes ArchiveReader::ReadFile(UInt32 i, const Sink& sink)
{
    const UInt32 folder = db_.FileToFolder[i];
    if (folder == static_cast<UInt32>(-1)) {
        return SZ_OK;  // an empty file
    }
    if (!BlockDecoder::CanStream(db_, folder)) {
        RINOK(EndStream())
        size_t offset = 0;
        size_t size = 0;
        RINOK(SzArEx_Extract(&db_, &lookStream_.vt, i, &blockIndex_, &outBuffer_, &outBufferSize_, &offset, &size,
                             &kSdkAllocator, &kSdkAllocator))
        return sink(outBuffer_ + offset, size) ? SZ_OK : SZ_ERROR_WRITE;
    }
    if (stream_ == nullptr) {
        stream_.reset(new BlockStream());
        RINOK(stream_->Start(fileStream_.file.handle, path_, &db_, wantedBlocks_))
    }
    if (streamFolder_ != folder) {
        RINOK(EndStream())
        // A whole block held from before is not needed again.
        ISzAlloc_Free(&kSdkAllocator, outBuffer_);
        outBuffer_ = nullptr;
        outBufferSize_ = 0;
        blockIndex_ = 0xFFFFFFFF;
        streamFolder_ = folder;
    }
    UInt64 left = FileSize(i);
    UInt32 crc = CRC_INIT_VAL;
    while (left > 0) {
        const Byte* data = nullptr;
        size_t size = 0;
        RINOK(stream_->Read(folder, static_cast<size_t>(std::min<UInt64>(left, size_t(-1))), data, size))
        if (size == 0) {
            return SZ_ERROR_DATA;  // the block ended inside the file
        }
        crc = CrcUpdate(crc, data, size);
        if (!sink(data, size)) {
            return SZ_ERROR_WRITE;
        }
        left -= size;
    }
    if (SzBitWithVals_Check(&db_.CRCs, i) && CRC_GET_DIGEST(crc) != db_.CRCs.Vals[i]) {
        return SZ_ERROR_CRC;
    }
    return SZ_OK;
}

SRes ArchiveReader::EndStream()
{
    if (streamFolder_ == static_cast<UInt32>(-1)) {
        return SZ_OK;
    }
    // Bytes no entry claims are read and let go, as the SDK's decoding does;
    // the block must still end as it should.
    SRes res = SZ_OK;
    for (;;) {
        const Byte* data = nullptr;
        size_t size = 0;
        res = stream_->Read(streamFolder_, size_t(1) << 20, data, size);
        if (res != SZ_OK || size == 0) {
            break;
        }
    }
    streamFolder_ = static_cast<UInt32>(-1);
    return res;
}
