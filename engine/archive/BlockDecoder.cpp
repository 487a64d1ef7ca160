#include "BlockDecoder.h"

#include "DiagnosticsLog.h"
#include "FilePosition.h"
#include "SdkAllocator.h"

extern "C" {
#include "7zCrc.h"
#include "Bra.h"
#include "LzmaDec.h"
}

#include <algorithm>
#include <cstring>

namespace {

constexpr UInt32 kMethodLzma = 0x30101;
constexpr UInt32 kMethodLzma2 = 0x21;
constexpr UInt32 kMethodX86 = 0x3030103;
constexpr UInt32 kMethodPpmd = 0x30401;

// What is read of the archive at a time.
constexpr size_t kInputBytes = size_t(1) << 20;

// The largest dictionary allowed: a 32-bit program can't hold one of 2 GB
// next to everything else, and asking for it would only fail later. (7-Zip
// itself makes none larger than 1.5 GB.)
constexpr UInt64 kMaxDictionary = sizeof(void*) == 4 ? (UInt64(1) << 30) : (UInt64(2) << 30);
constexpr UInt32 kMinDictionary = 1u << 12;

UInt32 ReadUi32(const Byte* p) { return p[0] | (UInt32(p[1]) << 8) | (UInt32(p[2]) << 16) | (UInt32(p[3]) << 24); }

void WriteUi32(Byte* p, UInt32 value)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<Byte>(value >> (8 * i));
    }
}

// LZMA2 keeps its dictionary size in one byte p: 2 or 3 (by p's lowest bit)
// times 2 to the power p / 2 + 11, so 4 KiB, 6 KiB, 8 KiB, 12 KiB ... 3 GiB
// at 39; 40 stands for 4 GiB less one byte.
UInt32 DictionaryOfLzma2(Byte prop) { return prop == 40 ? 0xFFFFFFFFu : (2u | (prop & 1u)) << (prop / 2 + 11); }

bool ReadFolder(const CSzArEx& db, UInt32 folder, CSzFolder& f)
{
    CSzData sd;
    sd.Data = db.db.CodersData + db.db.FoCodersOffsets[folder];
    sd.Size = db.db.FoCodersOffsets[folder + 1] - db.db.FoCodersOffsets[folder];
    return SzGetNextFolderItem(&f, &sd) == SZ_OK;
}

// A coder's properties: its PropsOffset counts from the start of its own
// block's coder data, not from the archive's first.
const Byte* PropertiesOf(const CSzArEx& db, UInt32 folder, const CSzCoderInfo& coder)
{
    return db.db.CodersData + db.db.FoCodersOffsets[folder] + coder.PropsOffset;
}

}  // namespace

// The decoder never looks back further than the block is long, so a smaller
// block needs no more than its own size.
UInt64 BlockDecoder::DictionaryFor(const CSzArEx& db, UInt32 folder)
{
    CSzFolder f;
    if (!ReadFolder(db, folder, f)) {
        return 0;
    }
    const CSzCoderInfo& main = f.Coders[0];
    const Byte* props = PropertiesOf(db, folder, main);
    UInt64 dictionary = 0;
    if (main.MethodID == kMethodLzma2) {
        if (main.PropsSize != 1 || props[0] > 40) {
            return 0;
        }
        dictionary = DictionaryOfLzma2(props[0]);
    } else {
        if (main.PropsSize != LZMA_PROPS_SIZE) {
            return 0;
        }
        dictionary = ReadUi32(props + 1);
    }
    const UInt64 unpacked = db.db.CoderUnpackSizes[db.db.FoToCoderUnpackSizes[folder]];
    return std::max<UInt64>(std::min<UInt64>(dictionary, unpacked), kMinDictionary);
}

UInt64 BlockDecoder::ModelMemoryFor(const CSzArEx& db, UInt32 folder)
{
    CSzFolder f;
    if (!ReadFolder(db, folder, f)) {
        return 0;
    }
    UInt64 memory = 0;
    for (UInt32 c = 0; c < f.NumCoders; ++c) {
        // Its properties: the model's order, then its memory size.
        if (f.Coders[c].MethodID == kMethodPpmd && f.Coders[c].PropsSize == 5) {
            memory += ReadUi32(PropertiesOf(db, folder, f.Coders[c]) + 1);
        }
    }
    return memory;
}

bool BlockDecoder::CanStream(const CSzArEx& db, UInt32 folder)
{
    CSzFolder f;
    if (!ReadFolder(db, folder, f) || f.NumPackStreams != 1 || f.PackStreams[0] != 0) {
        return false;
    }
    const CSzCoderInfo& main = f.Coders[0];
    if (main.NumStreams != 1 || (main.MethodID != kMethodLzma && main.MethodID != kMethodLzma2)) {
        return false;
    }
    if (f.NumCoders == 1) {
        return f.NumBonds == 0;
    }
    const CSzCoderInfo& filter = f.Coders[1];
    return f.NumCoders == 2 && filter.MethodID == kMethodX86 && filter.NumStreams == 1 && filter.PropsSize == 0 &&
           f.NumBonds == 1 && f.Bonds[0].InIndex == 1 && f.Bonds[0].OutIndex == 0;
}

SRes BlockDecoder::CheckDictionaries(const CSzArEx& db)
{
    for (UInt32 folder = 0; folder < db.db.NumFolders; ++folder) {
        if (!CanStream(db, folder)) {
            continue;
        }
        const UInt64 dictionary = DictionaryFor(db, folder);
        if (dictionary > kMaxDictionary) {
            Log(L"block " + Num(folder) + L" needs a dictionary of " + Num(dictionary) +
                L" bytes, more than this program can hold");
            return SZ_ERROR_MEM;
        }
    }
    return SZ_OK;
}

BlockDecoder::BlockDecoder()
{
    LzmaDec_CONSTRUCT(&lzma_)
    Lzma2Dec_CONSTRUCT(&lzma2Decoder_)
}

BlockDecoder::~BlockDecoder()
{
    if (lzmaAllocated_) {
        LzmaDec_Free(&lzma_, &kSdkAllocator);
    }
    if (lzma2Allocated_) {
        Lzma2Dec_Free(&lzma2Decoder_, &kSdkAllocator);
    }
}

SRes BlockDecoder::Begin(const CSzArEx& db, UInt32 folder, HANDLE archive)
{
    archive_ = archive;
    folder_ = folder;
    input_.resize(kInputBytes);
    const CSzAr& ar = db.db;
    CSzFolder f;
    if (!ReadFolder(db, folder, f)) {
        return SZ_ERROR_ARCHIVE;
    }
    const CSzCoderInfo& main = f.Coders[0];
    lzma2_ = main.MethodID == kMethodLzma2;
    x86_ = f.NumCoders == 2;
    const Byte* props = PropertiesOf(db, folder, main);
    // The main coder's own output; the filter's is the same size.
    outLeft_ = ar.CoderUnpackSizes[ar.FoToCoderUnpackSizes[folder]];
    if (x86_ && outLeft_ != SzAr_GetFolderUnpackSize(&ar, folder)) {
        return SZ_ERROR_UNSUPPORTED;
    }
    const UInt32 pack = ar.FoStartPackStreamIndex[folder];
    packLeft_ = ar.PackPositions[pack + 1] - ar.PackPositions[pack];
    const UInt64 packPos = db.dataPos + ar.PackPositions[pack];
    checkCrc_ = SzBitWithVals_Check(&ar.FolderCRCs, folder);
    expectedCrc_ = checkCrc_ ? ar.FolderCRCs.Vals[folder] : 0;
    crc_ = CRC_INIT_VAL;
    x86State_ = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
    x86Pc_ = 0;
    tail_.clear();
    inputPos_ = inputSize_ = 0;

    const UInt64 dictionary = DictionaryFor(db, folder);
    if (dictionary == 0) {
        return SZ_ERROR_UNSUPPORTED;
    }
    if (dictionary > kMaxDictionary) {
        return SZ_ERROR_MEM;
    }
    // The same dictionary size as the block before keeps its memory.
    if (lzma2_) {
        Byte prop = 0;
        while (prop < 40 && DictionaryOfLzma2(prop) < dictionary) {
            ++prop;
        }
        RINOK(Lzma2Dec_Allocate(&lzma2Decoder_, prop, &kSdkAllocator))
        lzma2Allocated_ = true;
        Lzma2Dec_Init(&lzma2Decoder_);
    } else {
        Byte capped[LZMA_PROPS_SIZE];
        std::memcpy(capped, props, LZMA_PROPS_SIZE);
        WriteUi32(capped + 1, static_cast<UInt32>(dictionary));
        RINOK(LzmaDec_Allocate(&lzma_, capped, LZMA_PROPS_SIZE, &kSdkAllocator))
        lzmaAllocated_ = true;
        LzmaDec_Init(&lzma_);
    }
    if (!SeekFile(archive_, packPos)) {
        Log(L"can't go to block " + Num(folder) + L" of the archive: " + ErrorText(GetLastError()));
        return SZ_ERROR_READ;
    }
    return SZ_OK;
}

SRes BlockDecoder::FillInput()
{
    const DWORD want = static_cast<DWORD>(std::min<UInt64>(packLeft_, input_.size()));
    DWORD read = 0;
    if (!ReadFile(archive_, input_.data(), want, &read, nullptr)) {
        Log(L"can't read block " + Num(folder_) + L" of the archive: " + ErrorText(GetLastError()));
        return SZ_ERROR_READ;
    }
    if (read == 0) {
        Log(L"the archive ends inside block " + Num(folder_));
        return SZ_ERROR_INPUT_EOF;
    }
    inputPos_ = 0;
    inputSize_ = read;
    packLeft_ -= read;
    return SZ_OK;
}

SRes BlockDecoder::Decode(Byte* out, size_t capacity, size_t& size, bool& ended)
{
    size = 0;
    size_t filled = tail_.size();
    std::copy(tail_.begin(), tail_.end(), out);
    tail_.clear();
    ended = false;
    while (!ended && filled < capacity) {
        if (inputPos_ == inputSize_ && packLeft_ > 0) {
            RINOK(FillInput())
        }
        SizeT outSize = static_cast<SizeT>(std::min<UInt64>(capacity - filled, outLeft_));
        SizeT inSize = inputSize_ - inputPos_;
        const ELzmaFinishMode mode = outSize == outLeft_ ? LZMA_FINISH_END : LZMA_FINISH_ANY;
        ELzmaStatus status;
        const SRes res = lzma2_ ? Lzma2Dec_DecodeToBuf(&lzma2Decoder_, out + filled, &outSize,
                                                       input_.data() + inputPos_, &inSize, mode, &status)
                                : LzmaDec_DecodeToBuf(&lzma_, out + filled, &outSize, input_.data() + inputPos_,
                                                      &inSize, mode, &status);
        RINOK(res)
        filled += outSize;
        outLeft_ -= outSize;
        inputPos_ += inSize;
        const bool inputLeft = inputPos_ < inputSize_ || packLeft_ > 0;
        if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
            if (outLeft_ != 0 || inputLeft) {
                return SZ_ERROR_DATA;
            }
            ended = true;
        } else if (outLeft_ == 0 && !lzma2_ && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK && !inputLeft) {
            ended = true;  // LZMA of a known size may end without a mark
        } else if (outSize == 0 && inSize == 0) {
            return inputLeft ? SZ_ERROR_DATA : SZ_ERROR_INPUT_EOF;
        }
    }
    // The filter converts what it can; the few bytes it needs more data after
    // wait for the next buffer, unless the block has ended.
    size_t ready = filled;
    if (x86_) {
        Byte* end = z7_BranchConvSt_X86_Dec(out, filled, x86Pc_, &x86State_);
        ready = ended ? filled : static_cast<size_t>(end - out);
        x86Pc_ += static_cast<UInt32>(end - out);
        tail_.assign(out + ready, out + filled);
    }
    if (checkCrc_) {
        crc_ = CrcUpdate(crc_, out, ready);  // the files' own CRCs are checked as they are written
    }
    size = ready;
    if (ended && checkCrc_ && CRC_GET_DIGEST(crc_) != expectedCrc_) {
        return SZ_ERROR_CRC;
    }
    return SZ_OK;
}

